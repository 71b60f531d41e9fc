// SPDX-License-Identifier: GPL-3.0-or-later
#include "AudioFormatChooser.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>

#include "files/TextConv.h"
#include "media/MediaBoundary.h"
#include "media/ListFitting.h"
#include "media/MediaTypes.h"

using media::FitListToContent;
using media::WAVEFORMATEX;

namespace {

bool ReadHeader(const uint8_t* data, size_t size, WAVEFORMATEX& header) {
    if (!data || size < sizeof(WAVEFORMATEX))
        return false;
    std::memcpy(&header, data, sizeof header);
    return true;
}

QString ChannelText(uint16_t channels) {
    if (channels == 1)
        return QStringLiteral("Mono");
    if (channels == 2)
        return QStringLiteral("Stereo");
    return QStringLiteral("%1 Channels").arg(channels);
}

// Whether two formats are the same sound: tag, rate, bits and channels.
bool SameSound(const WAVEFORMATEX& a, const WAVEFORMATEX& b) {
    return a.wFormatTag == b.wFormatTag && a.nSamplesPerSec == b.nSamplesPerSec &&
           a.wBitsPerSample == b.wBitsPerSample && a.nChannels == b.nChannels;
}

}  // namespace

uint32_t WaveFormatSize(const uint8_t* format, uint32_t available) {
    WAVEFORMATEX header{};
    if (!ReadHeader(format, available, header))
        return 0;
    return uint32_t(sizeof(WAVEFORMATEX)) + header.cbSize;
}

QString DescribeWaveFormat(const TWaveFormat& format) {
    WAVEFORMATEX header{};
    if (!ReadHeader(format.data(), format.size(), header))
        return QString();
    return QStringLiteral("%1, %2 Hz, %3 Bit, %4")
        .arg(media::WaveFormatTagName(header.wFormatTag))
        .arg(header.nSamplesPerSec)
        .arg(header.wBitsPerSample)
        .arg(ChannelText(header.nChannels));
}

uint32_t AudioFormatChoose(TAudioFormatChoose& choose) {
    if (!choose.Format || choose.FormatSize < sizeof(WAVEFORMATEX))
        return MMSYSERR_INVALPARAM;
    std::vector<const TWaveFormat*> offered;
    for (const TWaveFormat& f : choose.Formats) {
        const uint32_t size = WaveFormatSize(f.data(), uint32_t(f.size()));
        if (size != 0 && size <= f.size())
            offered.push_back(&f);
    }
    if (offered.empty())
        return ACMERR_NOTPOSSIBLE;

    QDialog dialog(choose.Owner);
    dialog.setObjectName(QStringLiteral("AudioFormatChooser"));
    dialog.setWindowTitle(UiText("Dialogs", "Sélection du son"));
    dialog.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    dialog.setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    auto* layout = new QVBoxLayout(&dialog);
    auto* label = new QLabel(UiText("Dialogs", "&Format :"), &dialog);
    layout->addWidget(label);
    auto* list = new QListWidget(&dialog);
    list->setObjectName(QStringLiteral("lstFormats"));
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    label->setBuddy(list);
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);

    WAVEFORMATEX current{};
    const bool start = (choose.Style & ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT) &&
                       ReadHeader(choose.Format, choose.FormatSize, current);
    int initial = -1;
    for (size_t i = 0; i < offered.size(); ++i) {
        list->addItem(DescribeWaveFormat(*offered[i]));
        WAVEFORMATEX header{};
        ReadHeader(offered[i]->data(), offered[i]->size(), header);
        if (start && initial < 0 && SameSound(header, current))
            initial = int(i);
    }
    list->setCurrentRow(initial >= 0 ? initial : 0);
    FitListToContent(list);
    // Nothing chosen, nothing to confirm.
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    QObject::connect(list, &QListWidget::itemSelectionChanged, ok,
                     [list, ok] { ok->setEnabled(!list->selectedItems().isEmpty()); });
    list->setFocus();

    if (dialog.exec() != QDialog::Accepted)
        return ACMERR_CANCELED;
    const QList<QListWidgetItem*> chosen = list->selectedItems();
    if (chosen.isEmpty())
        return ACMERR_CANCELED;
    const TWaveFormat& format = *offered[size_t(list->row(chosen.first()))];
    const uint32_t size = WaveFormatSize(format.data(), uint32_t(format.size()));
    if (size > choose.FormatSize)
        return ACMERR_NOTPOSSIBLE;
    std::memset(choose.Format, 0, choose.FormatSize);
    std::memcpy(choose.Format, format.data(), size);
    WAVEFORMATEX header{};
    ReadHeader(format.data(), format.size(), header);
    choose.FormatTag = media::WaveFormatTagName(header.wFormatTag);
    choose.FormatText = DescribeWaveFormat(format);
    return MMSYSERR_NOERROR;
}
