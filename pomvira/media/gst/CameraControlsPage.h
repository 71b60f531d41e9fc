// SPDX-License-Identifier: GPL-3.0-or-later
// The device controls page of a camera that has its own controls (a V4L2
// camera, the built-in test camera's webcam profile): every control the
// device lists, grouped by the driver's control classes, with its range,
// step, default and menu entries, applied to the device as soon as it moves.
//  - integers: a slider with a spin box stepping by the control's step;
//    booleans: a check box; menus and integer menus: a list of their entries;
//    buttons: a push button;
//  - a control the driver marks read-only or inactive is shown disabled,
//    its label saying so; a manual control is disabled while its automatic
//    partner is on (exposure time under automatic exposure, white balance
//    temperature under automatic white balance, gain under automatic gain,
//    focus under autofocus), and its value read again when that changes;
//  - a value the device refuses is said below the controls, and the control
//    shows what the device kept;
//  - Cancel puts back every value the page changed, automatic modes
//    switched off before and back on after their manual partners.
#pragma once

#include <QString>

#include <map>
#include <memory>
#include <vector>

#include "CameraControls.h"
#include "PropertyFrame.h"

class QLabel;
class QFormLayout;

namespace media::gst {

class CameraControlsPage : public PropertyPage {
    Q_OBJECT
  public:
    CameraControlsPage(std::unique_ptr<ICameraControls> controls, QWidget* parent);
    ~CameraControlsPage() override;

    void Revert() override;
    // How many controls the page shows.
    int ControlCount() const { return int(rows_.size()); }

  private:
    struct Row {
        CameraControl control;
        QLabel* label = nullptr;
        QWidget* editor = nullptr;  // the widget that is enabled or not
        QWidget* value = nullptr;   // the widget that shows the value
    };

    void AddControl(QFormLayout* form, const CameraControl& control);
    void Change(uint32_t id, int64_t value);
    // Flags afresh, and the values of the manual partners of `changed`.
    void Refresh(uint32_t changed);
    void ShowValue(Row& row, int64_t value);
    void ShowState(Row& row);
    Row* Find(uint32_t id);
    bool IsAutomatic(uint32_t id) const;

    std::unique_ptr<ICameraControls> controls_;
    std::vector<Row> rows_;
    std::map<uint32_t, int64_t> values_;    // as shown
    std::map<uint32_t, int64_t> original_;  // before the page changed them
    QLabel* status_ = nullptr;
};

}  // namespace media::gst
