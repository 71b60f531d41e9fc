// SPDX-License-Identifier: GPL-3.0-or-later
// A capture pin's formats as values, and the choice among them made on the
// pin's own format page without touching the pin: the page is shown over a
// stand-in that offers the pin's formats and keeps the one chosen, which the
// caller then puts on the pin (or not) when it sees fit.
#pragma once

#include <QString>
#include <optional>
#include <vector>

#include "media/MediaTypes.h"

class QWidget;

namespace media {

struct TPinFormats {
    WString PinName;                   // "Capture", as the page's caption
    std::optional<TMediaType> InForce;  // none: the pin gives none
    std::vector<TMediaType> Offered;    // the formats its stream configuration offers
    std::vector<GUID> Pages;            // its property pages
};

// Reads a pin's formats (none of this waits on a device: the formats of a
// source are known without running it). Everything empty without a pin.
TPinFormats ReadPinFormats(IPin* pin);

// Shows the pin's pages over its formats, modally. S_OK when they were
// shown: `chosen` is then the format chosen there when it differs from the
// one in force, none otherwise. A failure to show them is returned as is.
HRESULT ChooseFormatOnPages(QWidget* parent, const TPinFormats& formats,
                            std::optional<TMediaType>& chosen);

}  // namespace media
