// SPDX-License-Identifier: GPL-3.0-or-later
#include "CameraControlsPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTimer>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <cstring>

namespace media::gst {

namespace {

// Integer ranges up to this width get a slider next to the spin box.
constexpr int64_t kSliderRange = 1000000;

int Clamp(int64_t v) {
    return int(std::clamp<int64_t>(v, INT_MIN, INT_MAX));
}

bool Shown(const CameraControl& c) {
    switch (c.type) {
        case V4L2_CTRL_TYPE_INTEGER:
        case V4L2_CTRL_TYPE_INTEGER64:
        case V4L2_CTRL_TYPE_BOOLEAN:
        case V4L2_CTRL_TYPE_MENU:
        case V4L2_CTRL_TYPE_INTEGER_MENU:
        case V4L2_CTRL_TYPE_BUTTON:
            return true;
        default:
            return false;
    }
}

}  // namespace

CameraControlsPage::CameraControlsPage(std::shared_ptr<ICameraControls> controls, QWidget* parent)
    : CameraControlsPage([controls] { return controls; }, parent) {}

CameraControlsPage::CameraControlsPage(Opener open, QWidget* parent) : PropertyPage(parent) {
    setObjectName(QStringLiteral("CameraControlsPage"));
    connect(&writer_, &DeviceWriter::Settled, this, [this] {
        if (filled_)
            emit Settled();
    });
    setWindowTitle(QCoreApplication::translate("Media", "Périphérique"));
    auto* outer = new QVBoxLayout(this);
    scroll_ = new PageScroll(this, 480);
    content_ = new QWidget(scroll_);
    auto* column = new QVBoxLayout(content_);
    scroll_->setWidget(content_);
    outer->addWidget(scroll_);
    loading_ = new QLabel(
        QCoreApplication::translate("Media", "Lecture des réglages de la caméra..."), content_);
    loading_->setObjectName(QStringLiteral("loading"));
    column->addWidget(loading_);
    column->addStretch(1);

    // Listing the controls and reading their values goes to the device:
    // on the writer's thread, the first of its jobs.
    writer_.PostEach([this, open = std::move(open)] {
        Reading reading;
        reading.controls = open();
        if (reading.controls) {
            reading.listed = reading.controls->List();
            for (const CameraControl& c : reading.listed) {
                int64_t value = 0;
                if (Shown(c) && c.type != V4L2_CTRL_TYPE_BUTTON &&
                    !(c.flags & V4L2_CTRL_FLAG_WRITE_ONLY) && reading.controls->Get(c.id, &value))
                    reading.values[c.id] = value;
            }
        }
        return DeviceWriter::Report([this, reading = std::move(reading)] {
            reading_ = false;
            Fill(reading);
        });
    });
    bound_ = new QTimer(this);
    bound_->setSingleShot(true);
    connect(bound_, &QTimer::timeout, this, [this] { Fill(Reading()); });
    bound_->start(kLoadBoundMs);
}

CameraControlsPage::~CameraControlsPage() = default;

void CameraControlsPage::Fill(const Reading& reading) {
    // What comes after the bound is too late: the page stays as it is.
    if (filled_)
        return;
    filled_ = true;
    bound_->stop();
    delete loading_;
    loading_ = nullptr;
    controls_ = reading.controls;
    auto* column = static_cast<QVBoxLayout*>(content_->layout());
    int at = 0;

    // One group per control class, named by the driver's class entry where
    // it has one. The controls lie on a pane inside the group, so that a
    // screen reader names each by its own label, not by the group's title.
    std::map<uint32_t, QString> classNames;
    for (const CameraControl& c : reading.listed) {
        if (c.type == V4L2_CTRL_TYPE_CTRL_CLASS)
            classNames[c.ControlClass()] = QString::fromStdString(c.name);
    }
    std::map<uint32_t, QFormLayout*> groups;
    for (const CameraControl& c : reading.listed) {
        if (!Shown(c))
            continue;
        QFormLayout*& form = groups[c.ControlClass()];
        if (!form) {
            const auto named = classNames.find(c.ControlClass());
            auto* box =
                new QGroupBox(named != classNames.end()
                                  ? named->second
                                  : QString::fromStdString(ControlClassName(c.ControlClass())),
                              content_);
            box->setObjectName(QStringLiteral("class:%1").arg(c.ControlClass(), 0, 16));
            auto* pane = new QWidget(box);
            (new QVBoxLayout(box))->addWidget(pane);
            form = new QFormLayout(pane);
            form->setContentsMargins(0, 0, 0, 0);
            column->insertWidget(at++, box);
        }
        AddControl(form, c, reading);
    }
    if (rows_.empty()) {
        auto* none = new QLabel(QCoreApplication::translate("Media", "Aucun réglage."), content_);
        column->insertWidget(at++, none);
        none->show();
    }
    status_ = new QLabel(content_);
    status_->setObjectName(QStringLiteral("status"));
    status_->setWordWrap(true);
    column->insertWidget(at++, status_);
    status_->show();
    for (Row& row : rows_)
        ShowState(row);
    // Shown whole, at once: the frame sizes itself to them and focuses the
    // first.
    for (QGroupBox* box : content_->findChildren<QGroupBox*>(Qt::FindDirectChildrenOnly))
        box->show();
    scroll_->Fit();
    emit Filled();
}

void CameraControlsPage::AddControl(QFormLayout* form, const CameraControl& c,
                                    const Reading& reading) {
    QWidget* parent = form->parentWidget();
    const QString name = QString::fromStdString(c.name);
    const uint32_t id = c.id;
    const auto read = reading.values.find(id);
    const bool readable = read != reading.values.end();
    const int64_t value = readable ? read->second : c.defaultValue;
    Row row;
    row.control = c;
    QString tip = QCoreApplication::translate("Media", "Par défaut : %1").arg(c.defaultValue);

    switch (c.type) {
        case V4L2_CTRL_TYPE_INTEGER:
        case V4L2_CTRL_TYPE_INTEGER64: {
            auto* box = new QWidget(parent);
            auto* line = new QHBoxLayout(box);
            line->setContentsMargins(0, 0, 0, 0);
            auto* spin = new QSpinBox(box);
            spin->setObjectName(name);
            spin->setRange(Clamp(c.minimum), Clamp(c.maximum));
            spin->setSingleStep(Clamp(int64_t(c.step)));
            spin->setValue(Clamp(value));
            if (c.maximum - c.minimum <= kSliderRange) {
                auto* slider = new QSlider(Qt::Horizontal, box);
                slider->setObjectName(name + QStringLiteral("-slider"));
                slider->setAccessibleName(name);
                slider->setRange(spin->minimum(), spin->maximum());
                slider->setSingleStep(spin->singleStep());
                slider->setPageStep(
                    std::max(spin->singleStep(), (spin->maximum() - spin->minimum()) / 10));
                slider->setValue(spin->value());
                connect(slider, &QSlider::valueChanged, spin, &QSpinBox::setValue);
                connect(spin, qOverload<int>(&QSpinBox::valueChanged), slider, &QSlider::setValue);
                line->addWidget(slider, 1);
                // Tab as the eye goes: the slider, then its spin box.
                QWidget::setTabOrder(slider, spin);
                row.focus = slider;
            }
            line->addWidget(spin);
            connect(spin, qOverload<int>(&QSpinBox::valueChanged), this, [this, id](int v) {
                // On the control's steps, as the device takes them.
                Change(id, SnapToStep(Find(id)->control, v));
            });
            tip += QCoreApplication::translate("Media", ", de %1 à %2 par pas de %3")
                       .arg(c.minimum)
                       .arg(c.maximum)
                       .arg(c.step);
            row.editor = box;
            row.value = spin;
            break;
        }
        case V4L2_CTRL_TYPE_BOOLEAN: {
            auto* check = new QCheckBox(parent);
            check->setObjectName(name);
            check->setChecked(value != 0);
            connect(check, &QCheckBox::toggled, this, [this, id](bool on) { Change(id, on); });
            row.editor = row.value = check;
            break;
        }
        case V4L2_CTRL_TYPE_MENU:
        case V4L2_CTRL_TYPE_INTEGER_MENU: {
            auto* combo = new QComboBox(parent);
            combo->setObjectName(name);
            for (const CameraMenuItem& item : c.menu) {
                combo->addItem(QString::fromStdString(item.name), qlonglong(item.value));
                if (item.value == value)
                    combo->setCurrentIndex(combo->count() - 1);
            }
            connect(combo, qOverload<int>(&QComboBox::currentIndexChanged), this,
                    [this, id, combo](int index) {
                        if (index >= 0)
                            Change(id, combo->itemData(index).toLongLong());
                    });
            row.editor = row.value = combo;
            break;
        }
        case V4L2_CTRL_TYPE_BUTTON: {
            auto* button = new QPushButton(name, parent);
            button->setObjectName(name);
            connect(button, &QPushButton::clicked, this, [this, id] { Press(id); });
            row.editor = row.value = button;
            tip.clear();
            break;
        }
        default:
            return;
    }
    row.editor->setToolTip(tip);
    row.value->setToolTip(tip);
    // Named by the control for screen readers (a slider and its spin box
    // alike), the label tied to the first of them.
    row.value->setAccessibleName(name);
    row.label = new QLabel(name, parent);
    row.label->setObjectName(QStringLiteral("label:") + name);
    row.label->setBuddy(row.focus ? row.focus : row.value);
    form->addRow(row.label, row.editor);
    values_[id] = value;
    if (readable)
        kept_[id] = value;
    rows_.push_back(std::move(row));
}

CameraControlsPage::Row* CameraControlsPage::Find(uint32_t id) {
    for (Row& row : rows_)
        if (row.control.id == id)
            return &row;
    return nullptr;
}

bool CameraControlsPage::IsAutomatic(uint32_t id) const {
    for (const Row& row : rows_)
        if (AutomaticPartner(row.control.id) == id)
            return true;
    return false;
}

void CameraControlsPage::Change(uint32_t id, int64_t value) {
    Row* row = Find(id);
    if (!row)
        return;
    const auto shown = values_.find(id);
    if (shown != values_.end() && shown->second == value) {
        ShowValue(*row, value);  // between two steps: back on the step
        return;
    }
    if (!original_.count(id) && shown != values_.end())
        original_[id] = shown->second;
    Write(id, value);
}

void CameraControlsPage::Write(uint32_t id, int64_t value) {
    ShowValue(*Find(id), value);
    writer_.Post(id, Job(id, false, value, ++asked_[id]));
}

void CameraControlsPage::Press(uint32_t id) {
    writer_.PostEach(Job(id, true, 1, ++asked_[id]));
}

DeviceWriter::Work CameraControlsPage::Job(uint32_t id, bool press, int64_t value,
                                           uint64_t ticket) {
    // Every control's flags afresh (an automatic mode makes its partners
    // inactive); the values the device may have set meanwhile: the manual
    // partners of the control written, and the volatile controls.
    std::vector<uint32_t> all, reread;
    for (const Row& row : rows_) {
        all.push_back(row.control.id);
        if (AutomaticPartner(row.control.id) == id || (row.control.flags & V4L2_CTRL_FLAG_VOLATILE))
            reread.push_back(row.control.id);
    }
    return [this, controls = controls_, id, press, value, ticket, all = std::move(all),
            reread = std::move(reread)] {
        Outcome outcome;
        outcome.id = id;
        outcome.ticket = ticket;
        outcome.error = controls->Set(id, value);
        if (!press)
            outcome.read = controls->Get(id, &outcome.kept);
        for (uint32_t other : all) {
            CameraControl fresh;
            if (controls->Query(other, &fresh))
                outcome.flags.emplace_back(other, fresh.flags);
        }
        for (uint32_t other : reread) {
            int64_t v;
            if (controls->Get(other, &v))
                outcome.values.emplace_back(other, v);
        }
        return DeviceWriter::Report([this, outcome = std::move(outcome)] { Written(outcome); });
    };
}

bool CameraControlsPage::Pending(uint32_t id) const {
    const auto asked = asked_.find(id);
    const auto answered = answered_.find(id);
    return asked != asked_.end() &&
           (answered == answered_.end() || answered->second != asked->second);
}

void CameraControlsPage::Written(const Outcome& outcome) {
    Row* row = Find(outcome.id);
    if (!row)
        return;
    answered_[outcome.id] = outcome.ticket;
    if (outcome.error) {
        status_->setText(
            QStringLiteral("%1: %2").arg(QString::fromStdString(row->control.name),
                                         QString::fromLocal8Bit(std::strerror(outcome.error))));
    } else {
        status_->clear();
    }
    if (outcome.read)
        kept_[outcome.id] = outcome.kept;
    // The control shows what the device kept of the last value asked for;
    // the answer to an older one leaves the newer value shown.
    if (!Pending(outcome.id)) {
        int64_t now = values_[outcome.id];
        if (outcome.read) {
            now = outcome.kept;
        } else if (outcome.error) {
            const auto kept = kept_.find(outcome.id);
            now = kept != kept_.end() ? kept->second : row->control.defaultValue;
        }
        ShowValue(*row, now);
    }
    for (const auto& [id, flags] : outcome.flags)
        if (Row* other = Find(id))
            other->control.flags = flags;
    for (const auto& [id, value] : outcome.values) {
        kept_[id] = value;
        if (Row* other = Find(id); other && !Pending(id))
            ShowValue(*other, value);
    }
    for (Row& r : rows_)
        ShowState(r);
}

void CameraControlsPage::ShowValue(Row& row, int64_t value) {
    values_[row.control.id] = value;
    const QSignalBlocker block(row.value);
    if (auto* spin = qobject_cast<QSpinBox*>(row.value)) {
        spin->setValue(Clamp(value));
        // The slider follows its spin box through the signal just blocked.
        if (auto* slider = row.editor->findChild<QSlider*>()) {
            const QSignalBlocker blockSlider(slider);
            slider->setValue(Clamp(value));
        }
    } else if (auto* check = qobject_cast<QCheckBox*>(row.value)) {
        check->setChecked(value != 0);
    } else if (auto* combo = qobject_cast<QComboBox*>(row.value)) {
        const int index = combo->findData(qlonglong(value));
        if (index >= 0)
            combo->setCurrentIndex(index);
    }
}

void CameraControlsPage::ShowState(Row& row) {
    const CameraControl& c = row.control;
    bool automatic = false;
    if (const uint32_t partner = AutomaticPartner(c.id)) {
        const auto value = values_.find(partner);
        automatic =
            Find(partner) && value != values_.end() && AutomaticIsOn(partner, value->second);
    }
    QString why;
    if (c.ReadOnly())
        why = QCoreApplication::translate("Media", "lecture seule");
    else if (automatic)
        why = QCoreApplication::translate("Media", "automatique");
    else if (c.Inactive())
        why = QCoreApplication::translate("Media", "inactif");
    else if (c.flags & V4L2_CTRL_FLAG_GRABBED)
        why = QCoreApplication::translate("Media", "occupé");
    row.editor->setEnabled(why.isEmpty());
    const QString name = QString::fromStdString(c.name);
    row.label->setText(why.isEmpty() ? name : QStringLiteral("%1 (%2)").arg(name, why));
    row.label->setEnabled(why.isEmpty());
}

void CameraControlsPage::Revert() {
    // Automatic modes first switched off where they were off, so their manual
    // partners take their values; switched back on last. The writes queue
    // behind those still going out.
    auto put = [this](bool automatic, bool on) {
        for (const auto& [id, value] : original_) {
            if (IsAutomatic(id) != automatic || (automatic && AutomaticIsOn(id, value) != on))
                continue;
            Write(id, value);
        }
    };
    put(true, false);
    put(false, false);
    put(true, true);
    original_.clear();
}

}  // namespace media::gst
