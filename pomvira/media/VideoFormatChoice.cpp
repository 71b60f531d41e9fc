// SPDX-License-Identifier: GPL-3.0-or-later
#include "VideoFormatChoice.h"

#include <cstdlib>
#include <cstring>

#include "MediaTypes.h"
#include "MediaUtil.h"

namespace media {

namespace {

bool IsRawSubtype(const GUID& subtype) {
    for (const GUID& raw :
         {MEDIASUBTYPE_YUY2, MEDIASUBTYPE_UYVY, MEDIASUBTYPE_YVYU, MEDIASUBTYPE_I420,
          MEDIASUBTYPE_YV12, MEDIASUBTYPE_NV12, MEDIASUBTYPE_RGB24, MEDIASUBTYPE_RGB32,
          MEDIASUBTYPE_RGB565, MEDIASUBTYPE_RGB555}) {
        if (subtype == raw)
            return true;
    }
    return false;
}

int64_t Area(const TVideoOffer& o) {
    return int64_t(o.Width) * int64_t(o.Height);
}

// Rates closer than this count as equal (30 and 30000/1001 do not).
bool SameRate(double a, double b) {
    return std::abs(a - b) < 0.001;
}

// Whether a is a better smooth candidate than b (both at kSmoothRate or more).
bool BetterSmooth(const TVideoOffer& a, const TVideoOffer& b) {
    if (Area(a) != Area(b))
        return Area(a) > Area(b);
    if (!SameRate(a.Rate, b.Rate))
        return a.Rate > b.Rate;
    return !a.Compressed && b.Compressed;
}

// Whether a is a better candidate than b when none is smooth.
bool BetterFast(const TVideoOffer& a, const TVideoOffer& b) {
    if (!SameRate(a.Rate, b.Rate))
        return a.Rate > b.Rate;
    if (Area(a) != Area(b))
        return Area(a) > Area(b);
    return !a.Compressed && b.Compressed;
}

}  // namespace

int ChooseFirstVideoFormat(const std::vector<TVideoOffer>& offers, int maxWidth, int maxHeight) {
    bool anyRate = false;
    for (const TVideoOffer& o : offers)
        anyRate = anyRate || o.Rate > 0;
    if (!anyRate)
        return -1;

    std::vector<size_t> candidates;
    for (size_t i = 0; i < offers.size(); ++i) {
        const TVideoOffer& o = offers[i];
        if (o.Width > 0 && o.Height > 0 && o.Width <= maxWidth && o.Height <= maxHeight)
            candidates.push_back(i);
    }
    if (candidates.empty()) {
        // Nothing fits: the preview will cover the screen whatever is
        // chosen, so the least of it.
        int64_t smallest = -1;
        for (const TVideoOffer& o : offers) {
            if (Area(o) > 0 && (smallest < 0 || Area(o) < smallest))
                smallest = Area(o);
        }
        for (size_t i = 0; i < offers.size(); ++i) {
            if (Area(offers[i]) == smallest)
                candidates.push_back(i);
        }
    }

    int best = -1;
    bool bestSmooth = false;
    for (size_t i : candidates) {
        const TVideoOffer& o = offers[i];
        const bool smooth = o.Rate >= kSmoothRate - 0.001;
        if (best < 0) {
            best = int(i);
            bestSmooth = smooth;
            continue;
        }
        const TVideoOffer& b = offers[size_t(best)];
        const bool better =
            smooth != bestSmooth ? smooth : (smooth ? BetterSmooth(o, b) : BetterFast(o, b));
        if (better) {
            best = int(i);
            bestSmooth = smooth;
        }
    }
    return best;
}

TVideoOffer VideoOfferOf(const AM_MEDIA_TYPE& mt) {
    TVideoOffer offer;
    if (mt.majortype != MEDIATYPE_Video || mt.formattype != FORMAT_VideoInfo || !mt.pbFormat ||
        mt.cbFormat < sizeof(VIDEOINFOHEADER)) {
        return offer;
    }
    VIDEOINFOHEADER vih;
    std::memcpy(&vih, mt.pbFormat, sizeof vih);
    offer.Width = vih.bmiHeader.biWidth;
    offer.Height = std::abs(vih.bmiHeader.biHeight);
    offer.Rate = vih.AvgTimePerFrame > 0 ? 10000000.0 / double(vih.AvgTimePerFrame) : 0;
    offer.Compressed = !IsRawSubtype(mt.subtype);
    return offer;
}

bool ApplyFirstVideoFormat(IPin* capturePin, int maxWidth, int maxHeight) {
    auto config = QueryAs<IAMStreamConfig>(capturePin);
    if (!config)
        return false;
    TEnumMediaType types;
    types.ReadFromPin(capturePin);
    std::vector<TVideoOffer> offers;
    for (int i = 0; i < types.Count(); ++i)
        offers.push_back(VideoOfferOf(*types.Item(i).AMMediaType()));
    const int chosen = ChooseFirstVideoFormat(offers, maxWidth, maxHeight);
    if (chosen < 0)
        return false;
    return SUCCEEDED(config->SetFormat(types.Item(chosen).AMMediaType()));
}

}  // namespace media
