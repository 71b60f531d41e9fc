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
#include "media/MediaUtil.h"

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
        return UiText("Dialogs", "Mono");
    if (channels == 2)
        return UiText("Dialogs", "Stereo");
    return UiText("Dialogs", "%1 canaux").arg(channels);
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
    return UiText("Dialogs", "%1, %2 Hz, %3 Bit, %4")
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
    list->setAccessibleName(UiText("Dialogs", "Format"));
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

namespace {
// A format whose sample format is told in its extra bytes, not by its tag.
constexpr uint16_t kWaveFormatExtensible = 0xFFFE;
}  // namespace

std::optional<media::TMediaType> ChoosePinAudioFormat(QWidget* owner,
                                                      const media::TPinFormats& formats) {
    using namespace media;
    std::optional<TMediaType> inForce = formats.InForce;
    if (!inForce)
        return std::nullopt;
    AM_MEDIA_TYPE* current = inForce->AMMediaType();

    // The formats the pin offers, and a buffer that holds the largest of
    // them and the current one.
    TAudioFormatChoose choose;
    uint32_t size = WaveFormatSize(current->pbFormat, current->cbFormat);
    for (const TMediaType& offer : formats.Offered) {
        const AM_MEDIA_TYPE* type = offer.AMMediaType();
        if (type->formattype != FORMAT_WaveFormatEx)
            continue;
        const uint32_t formatSize = WaveFormatSize(type->pbFormat, type->cbFormat);
        if (formatSize == 0 || formatSize > type->cbFormat)
            continue;
        choose.Formats.emplace_back(type->pbFormat, type->pbFormat + formatSize);
        size = std::max(size, formatSize);
    }
    if (size == 0)
        return std::nullopt;
    std::vector<uint8_t> buffer(size, 0);
    std::memcpy(buffer.data(), current->pbFormat,
                std::min<uint32_t>(current->cbFormat, uint32_t(buffer.size())));
    choose.Owner = owner;
    choose.Style = ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT;
    choose.Format = buffer.data();
    choose.FormatSize = uint32_t(buffer.size());
    if (AudioFormatChoose(choose) != MMSYSERR_NOERROR)
        return std::nullopt;

    // The chosen format replaces the format block, at its own size.
    const uint32_t chosenSize = WaveFormatSize(buffer.data(), uint32_t(buffer.size()));
    auto* block = static_cast<uint8_t*>(CoTaskMemAlloc(chosenSize));
    if (!block)
        return std::nullopt;
    std::memcpy(block, buffer.data(), chosenSize);
    CoTaskMemFree(current->pbFormat);
    current->pbFormat = block;
    current->cbFormat = chosenSize;
    // The subtype names the sample format: it follows the chosen tag.
    WAVEFORMATEX chosen{};
    std::memcpy(&chosen, block, sizeof chosen);
    if (chosen.wFormatTag != kWaveFormatExtensible)
        current->subtype = FourCCGuid(chosen.wFormatTag);
    return inForce;
}
