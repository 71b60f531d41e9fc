// SPDX-License-Identifier: GPL-3.0-or-later
// The audio format chooser: the system's modal dialog in which the user
// picks one of the wave formats that a sound input offers. The caller hands
// over the formats to list and a format buffer that holds the current format
// (selected when the dialog opens); on OK the buffer receives the chosen one.
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

#include <optional>

#include "media/FormatChoice.h"
#include "media/MediaTypes.h"

class QWidget;

// Results of AudioFormatChoose.
constexpr uint32_t MMSYSERR_NOERROR = 0;
constexpr uint32_t MMSYSERR_INVALPARAM = 11;
constexpr uint32_t ACMERR_NOTPOSSIBLE = 512;
constexpr uint32_t ACMERR_CANCELED = 515;

// The dialog starts with the buffer's format selected.
constexpr uint32_t ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT = 0x40;

// A wave format: the 18-byte WAVEFORMATEX header followed by its cbSize
// extra bytes.
using TWaveFormat = std::vector<uint8_t>;

struct TAudioFormatChoose {
    QWidget* Owner = nullptr;  // the dialog is modal to the owner's window
    uint32_t Style = 0;        // ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT or 0
    uint8_t* Format = nullptr; // in: the current format; out: the chosen one
    uint32_t FormatSize = 0;   // bytes of the buffer
    std::vector<TWaveFormat> Formats;  // the formats to choose from, in order
    // Out: the chosen format's tag name ("PCM") and its description.
    QString FormatTag;
    QString FormatText;
};

// Shows the chooser and waits until it is closed. MMSYSERR_NOERROR when the
// user chose a format (copied into the buffer), ACMERR_CANCELED when the
// user cancelled, ACMERR_NOTPOSSIBLE when there is nothing to choose from or
// the chosen format does not fit the buffer, MMSYSERR_INVALPARAM for a
// missing buffer.
uint32_t AudioFormatChoose(TAudioFormatChoose& choose);

// The bytes a format occupies: 18 + its cbSize (0 when shorter than 18).
uint32_t WaveFormatSize(const uint8_t* format, uint32_t available);
// "PCM, 48000 Hz, 16 Bit, Stereo" style line for a format.
QString DescribeWaveFormat(const TWaveFormat& format);

// Lets the user choose among the wave formats a capture pin offers, the one
// in force selected: the chosen format as a record whose format block has the
// chosen format's own size and whose subtype follows its tag; none when the
// pin has no format, or the user cancelled.
std::optional<media::TMediaType> ChoosePinAudioFormat(QWidget* owner,
                                                      const media::TPinFormats& formats);
