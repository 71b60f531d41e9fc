// SPDX-License-Identifier: GPL-3.0-or-later
// The device controls page of a camera that has its own controls (a V4L2
// camera, the built-in test camera's webcam profile): every control the
// device lists, grouped by the driver's control classes, with its range,
// step, default and menu entries, applied to the device as soon as it moves.
// The controls and their values are read on the page's writer thread: the
// page says it is reading them until they come, and a camera that has not
// answered within kLoadBoundMs gets the page without controls.
// Writes, and the reads that follow them (the value the device kept, the
// flags, the manual partners' values), go out on the page's writer thread
// and come back by queued call; a slider's moves are coalesced there (the
// first and the last value of a sweep are always written).
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
//    switched off before and back on after their manual partners, through
//    the same writer.
#pragma once

#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "CameraControls.h"
#include "DeviceWriter.h"
#include "PropertyFrame.h"

class QLabel;
class QFormLayout;
class QTimer;

namespace media::gst {

class CameraControlsPage : public PropertyPage {
    Q_OBJECT
  public:
    // Opens the camera's controls (null: none); run on the writer thread.
    using Opener = std::function<std::shared_ptr<ICameraControls>()>;
    static constexpr int kLoadBoundMs = 3000;

    CameraControlsPage(Opener open, QWidget* parent);
    CameraControlsPage(std::shared_ptr<ICameraControls> controls, QWidget* parent);
    ~CameraControlsPage() override;

    void Revert() override;
    // Only the writes of a filled page count: reading the controls holds up
    // no closing.
    bool Busy() const override { return filled_ && !reading_ && writer_.Busy(); }
    // Whether the controls came (or the bound passed): the page is filled.
    bool IsFilled() const { return filled_; }
    // How many controls the page shows.
    int ControlCount() const { return int(rows_.size()); }

  private:
    struct Row {
        CameraControl control;
        QLabel* label = nullptr;
        QWidget* editor = nullptr;  // the widget that is enabled or not
        QWidget* value = nullptr;   // the widget that shows the value
        QWidget* focus = nullptr;   // the one Tab reaches first, when not that one
    };

    // What the writer thread found after a write.
    struct Outcome {
        uint32_t id = 0;
        uint64_t ticket = 0;  // which of the values asked for the control
        int error = 0;
        bool read = false;  // the value kept could be read
        int64_t kept = 0;
        std::vector<std::pair<uint32_t, uint32_t>> flags;  // every control's, afresh
        std::vector<std::pair<uint32_t, int64_t>> values;  // partners, volatile controls
    };

    // What the writer thread read of the camera as the page opened.
    struct Reading {
        std::shared_ptr<ICameraControls> controls;
        std::vector<CameraControl> listed;
        std::map<uint32_t, int64_t> values;  // those that could be read
    };

    void Fill(const Reading& reading);
    void AddControl(QFormLayout* form, const CameraControl& control, const Reading& reading);
    void Change(uint32_t id, int64_t value);
    // Shows the value and sends it to the device.
    void Write(uint32_t id, int64_t value);
    void Press(uint32_t id);
    // The work of the writer thread: the write, then the reads that show its
    // effect.
    DeviceWriter::Work Job(uint32_t id, bool press, int64_t value, uint64_t ticket);
    void Written(const Outcome& outcome);
    bool Pending(uint32_t id) const;
    void ShowValue(Row& row, int64_t value);
    void ShowState(Row& row);
    Row* Find(uint32_t id);
    bool IsAutomatic(uint32_t id) const;

    std::shared_ptr<ICameraControls> controls_;
    std::vector<Row> rows_;
    std::map<uint32_t, int64_t> values_;    // as shown
    std::map<uint32_t, int64_t> kept_;      // as the device last said
    std::map<uint32_t, int64_t> original_;  // before the page changed them
    // Per control, the number of the last value asked for and of the last
    // one answered: the answer to an older value does not move the control.
    std::map<uint32_t, uint64_t> asked_;
    std::map<uint32_t, uint64_t> answered_;
    QLabel* status_ = nullptr;
    PageScroll* scroll_ = nullptr;
    QWidget* content_ = nullptr;
    QLabel* loading_ = nullptr;
    QTimer* bound_ = nullptr;
    bool filled_ = false;
    bool reading_ = true;  // the reading has not come back
    DeviceWriter writer_;
};

}  // namespace media::gst
