// SPDX-License-Identifier: GPL-3.0-or-later
#include "PinFormatPage.h"

#include <QCoreApplication>
#include <QLabel>
#include <QListWidget>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "media/ListFitting.h"
#include "MediaTypes.h"

namespace media::gst {

namespace {

// The frame header of a video record, when it has one.
bool VideoHeader(const AM_MEDIA_TYPE& mt, BITMAPINFOHEADER* header, REFERENCE_TIME* perFrame) {
    if (!mt.pbFormat)
        return false;
    if (mt.formattype == FORMAT_VideoInfo && mt.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        VIDEOINFOHEADER vih;
        std::memcpy(&vih, mt.pbFormat, sizeof vih);
        *header = vih.bmiHeader;
        *perFrame = vih.AvgTimePerFrame;
        return true;
    }
    if (mt.formattype == FORMAT_VideoInfo2 && mt.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
        VIDEOINFOHEADER2 vih;
        std::memcpy(&vih, mt.pbFormat, sizeof vih);
        *header = vih.bmiHeader;
        *perFrame = vih.AvgTimePerFrame;
        return true;
    }
    return false;
}

}  // namespace

QString PinFormatPage::DescribeFormat(const AM_MEDIA_TYPE& mt) {
    char fourcc[5];
    const QString name = QString::fromLatin1(FormatName(mt.subtype, fourcc));
    BITMAPINFOHEADER header{};
    REFERENCE_TIME perFrame = 0;
    if (VideoHeader(mt, &header, &perFrame)) {
        QString text = QStringLiteral("%1 %2 x %3")
                           .arg(name)
                           .arg(header.biWidth)
                           .arg(std::abs(header.biHeight));
        if (perFrame > 0)
            text += QStringLiteral(", %1 fps").arg(10000000.0 / double(perFrame), 0, 'g', 4);
        return text;
    }
    if (mt.formattype == FORMAT_WaveFormatEx && mt.pbFormat &&
        mt.cbFormat >= sizeof(WAVEFORMATEX)) {
        WAVEFORMATEX wf;
        std::memcpy(&wf, mt.pbFormat, sizeof wf);
        return QCoreApplication::translate("Media", "%1 %2 Hz, %3 bits, %4 canaux")
            .arg(name)
            .arg(wf.nSamplesPerSec)
            .arg(wf.wBitsPerSample)
            .arg(wf.nChannels);
    }
    return name;
}

PinFormatPage::PinFormatPage(IPin* pin, QWidget* parent)
    : PropertyPage(parent), pin_(pin), config_(QueryAs<IAMStreamConfig>(pin)) {
    setObjectName(QStringLiteral("PinFormatPage"));
    setWindowTitle(QStringLiteral("Format"));
    auto* layout = new QVBoxLayout(this);
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("Formats"));
    list_->setAccessibleName(QCoreApplication::translate("Media", "Formats"));
    layout->addWidget(list_);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("Status"));
    status_->hide();
    layout->addWidget(status_);

    if (config_) {
        int32_t count = 0, size = 0;
        if (SUCCEEDED(config_->GetNumberOfCapabilities(&count, &size))) {
            for (int32_t i = 0; i < count; ++i) {
                AM_MEDIA_TYPE* mt = nullptr;
                if (SUCCEEDED(config_->GetStreamCaps(i, &mt, nullptr)) && mt)
                    formats_.push_back(mt);
            }
        }
    } else {
        ComPtr<IEnumMediaTypes> types;
        if (SUCCEEDED(pin_->EnumMediaTypes(types.Put())) && types) {
            AM_MEDIA_TYPE* mt = nullptr;
            uint32_t fetched = 0;
            while (types->Next(1, &mt, &fetched) == S_OK && fetched == 1)
                formats_.push_back(mt);
        }
        list_->setEnabled(false);
    }

    AM_MEDIA_TYPE* current = nullptr;
    if (config_ && SUCCEEDED(config_->GetFormat(&current)) && current) {
        for (size_t i = 0; i < formats_.size(); ++i) {
            if (SameFormat(*formats_[i], *current)) {
                initial_ = int(i);
                break;
            }
        }
    }
    DisposeMediaType(current);

    for (AM_MEDIA_TYPE* mt : formats_)
        list_->addItem(DescribeFormat(*mt));
    if (initial_ >= 0)
        list_->setCurrentRow(initial_);
    FitListToContent(list_);
}

PinFormatPage::~PinFormatPage() {
    for (AM_MEDIA_TYPE* mt : formats_)
        DisposeMediaType(mt);
}

HRESULT PinFormatPage::Apply() {
    const int row = list_->currentRow();
    if (!config_ || row < 0 || row == initial_ || size_t(row) >= formats_.size())
        return S_OK;
    const HRESULT hr = config_->SetFormat(formats_[size_t(row)]);
    if (FAILED(hr)) {
        status_->setText(QCoreApplication::translate(
                             "Media", "Le format ne peut pas être changé maintenant (erreur %1).")
                             .arg(QString::number(uint32_t(hr), 16).toUpper()));
        status_->show();
        return hr;
    }
    initial_ = row;
    return S_OK;
}

}  // namespace media::gst
