// SPDX-License-Identifier: GPL-3.0-or-later
// The format a camera is opened in when no stored format applies: the
// largest frame size whose framed preview, with the control panel below it,
// fits the work area and that the camera delivers at 25 frames a second or
// more. A camera that reaches 25 at no size that fits opens in its fastest
// format that fits.
//
// Cameras list their formats in an order of their own (a V4L2 camera puts
// its largest raw size first, often at a few frames a second), so the first
// listed format is rarely the one a user wants.
#pragma once

#include <vector>

#include "MediaBoundary.h"

namespace media {

// One format a camera offers, as the choice sees it.
struct TVideoOffer {
    int Width = 0;
    int Height = 0;
    double Rate = 0;          // frames a second; 0 when the format does not say
    bool Compressed = false;  // MJPG and the like: raw formats come first
};

// The rate below which a preview looks jerky.
constexpr double kSmoothRate = 25.0;

// The index of the offer to open, -1 when the list is empty or no offer
// states a rate (the device's own choice then stands). maxWidth and
// maxHeight bound the video picture: the work area less the preview's frame
// and, for the height, the panel. When no frame size fits, the smallest
// sizes are the candidates. Among candidates: those at kSmoothRate or more
// decide by frame size (largest area), then rate, then raw before
// compressed; without any, the fastest wins, then the larger size, then raw.
// Ties keep the listing order.
int ChooseFirstVideoFormat(const std::vector<TVideoOffer>& offers, int maxWidth, int maxHeight);

// The offer a media type record describes (a video record with a
// VIDEOINFOHEADER; anything else gives an offer of size 0).
TVideoOffer VideoOfferOf(const AM_MEDIA_TYPE& mt);

// Reads the capture pin's formats, chooses as above and sets the chosen one
// with IAMStreamConfig::SetFormat. True when a format was set.
bool ApplyFirstVideoFormat(IPin* capturePin, int maxWidth, int maxHeight);

}  // namespace media
