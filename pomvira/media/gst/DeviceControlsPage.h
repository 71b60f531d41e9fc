// SPDX-License-Identifier: GPL-3.0-or-later
// The device controls page of a capture filter: the picture controls of its
// GStreamer source element, applied to the element as soon as they move.
//  - GstColorBalance channels (V4L2 brightness, contrast, ...): sliders;
//  - the element's own writable properties: integers as sliders (or spin
//    boxes for wide ranges), real numbers as spin boxes, booleans as check
//    boxes, enumerations as lists. Properties of the generic source classes
//    (buffer counts, time stamping) and those that would restart or break
//    the stream are left out.
// A device element that is a bin around the actual source is looked into:
// the controls are those of a colour balance inside it, or of its source.
// Cancel puts back every value the page changed.
#pragma once

#include <gst/gst.h>
#include <gst/video/colorbalance.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "PropertyFrame.h"

class QFormLayout;

namespace media::gst {

class DeviceControlsPage : public PropertyPage {
    Q_OBJECT
  public:
    DeviceControlsPage(ElementRef element, QWidget* parent);
    ~DeviceControlsPage() override;

    void Revert() override;
    // How many controls the page shows.
    int ControlCount() const { return controls_; }

    // Whether the page offers a control for the property.
    static bool ShowsProperty(const GParamSpec* pspec);

  private:
    struct SavedProperty;
    struct SavedChannel {
        std::string label;
        int value;
    };

    void AddColorBalance(QFormLayout* form);
    void AddProperty(QFormLayout* form, GParamSpec* pspec);
    // Remembers the property's value the first time the page changes it.
    void Remember(const GParamSpec* pspec);
    void RememberChannel(GstColorBalanceChannel* channel, int value);

    ElementRef element_;
    std::vector<std::unique_ptr<SavedProperty>> savedProperties_;
    std::vector<SavedChannel> savedChannels_;
    std::vector<std::string> channelLabels_;
    int controls_ = 0;
};

}  // namespace media::gst
