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
// A property set may reach the device (a V4L2 source's controls), so every
// set goes out on the page's writer thread, coalesced as a camera's
// controls are. Cancel puts back every value the page changed, the same way.
#pragma once

#include <gst/gst.h>
#include <gst/video/colorbalance.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DeviceWriter.h"
#include "PropertyFrame.h"

class QFormLayout;

namespace media::gst {

class DeviceControlsPage : public PropertyPage {
    Q_OBJECT
  public:
    DeviceControlsPage(ElementRef element, QWidget* parent);
    ~DeviceControlsPage() override;

    void Revert() override;
    bool Busy() const override { return writer_.Busy(); }
    // How many controls the page shows.
    int ControlCount() const { return controls_; }

    // Whether the page offers a control for the property.
    static bool ShowsProperty(const GParamSpec* pspec);

  private:
    // A control's value as the page found it, and whether the page changed
    // it since; key names the control to the writer.
    struct SavedProperty {
        int key;
        std::string name;
        std::shared_ptr<GValue> value;
        bool changed = false;
    };
    struct SavedChannel {
        int key;
        std::string label;
        int value;
        bool changed = false;
    };

    void AddColorBalance(QFormLayout* form);
    void AddProperty(QFormLayout* form, GParamSpec* pspec);
    void SetProperty(SavedProperty* saved, std::shared_ptr<GValue> value);
    void SetChannel(SavedChannel* saved, int value);

    ElementRef element_;
    std::vector<std::unique_ptr<SavedProperty>> savedProperties_;
    std::vector<std::unique_ptr<SavedChannel>> savedChannels_;
    int controls_ = 0;
    DeviceWriter writer_;
};

}  // namespace media::gst
