// SPDX-License-Identifier: GPL-3.0-or-later
#include "DeviceControlsPage.h"

#include <QCoreApplication>
#include <gst/base/gstbasesrc.h>
#include <gst/base/gstpushsrc.h>
#include <gst/video/colorbalance.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <cstring>

namespace media::gst {

namespace {

// Integer ranges up to this width get a slider next to the spin box.
constexpr int64_t kSliderRange = 65535;

// Properties that restart, retime or disconnect the stream rather than
// change the picture.
const char* const kLeftOut[] = {"is-live",     "io-mode",   "device-fd", "do-timestamp",
                                "num-buffers", "blocksize", "typefind",  "timestamp-offset"};

// A control's row: its label, tied to the control's first widget, and the
// control's widgets named by the label for screen readers.
void AddRow(QFormLayout* form, const QString& label, QWidget* control) {
    QList<QWidget*> named = control->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    named.prepend(control);
    QWidget* first = nullptr;
    for (QWidget* w : named) {
        if (!(w->focusPolicy() & Qt::TabFocus))
            continue;
        w->setAccessibleName(label);
        if (!first)
            first = w;
    }
    auto* shown = new QLabel(label, form->parentWidget());
    shown->setBuddy(first ? first : control);
    form->addRow(shown, control);
}

QWidget* SliderWithSpinBox(QWidget* parent, const QString& name, int min, int max, int value,
                           std::function<void(int)> changed) {
    auto* box = new QWidget(parent);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    // Made in the order Tab visits them: the slider, then its spin box.
    QSlider* slider = nullptr;
    if (int64_t(max) - int64_t(min) <= kSliderRange) {
        slider = new QSlider(Qt::Horizontal, box);
        slider->setObjectName(name + QStringLiteral("-slider"));
        slider->setRange(min, max);
        slider->setValue(value);
        row->addWidget(slider, 1);
    }
    auto* spin = new QSpinBox(box);
    spin->setObjectName(name);
    spin->setRange(min, max);
    spin->setValue(value);
    if (slider) {
        QObject::connect(slider, &QSlider::valueChanged, spin, &QSpinBox::setValue);
        QObject::connect(spin, qOverload<int>(&QSpinBox::valueChanged), slider, &QSlider::setValue);
    }
    QObject::connect(spin, qOverload<int>(&QSpinBox::valueChanged), box, std::move(changed));
    row->addWidget(spin);
    return box;
}

// The first element an iterator yields (a new reference), or null.
ElementRef FirstElement(GstIterator* iterator) {
    GstRef<GstIterator> it = GstRef<GstIterator>::Adopt(iterator);
    GValue item = G_VALUE_INIT;
    ElementRef found;
    if (it && gst_iterator_next(it.Get(), &item) == GST_ITERATOR_OK) {
        found = ElementRef::Share(GST_ELEMENT(g_value_get_object(&item)));
        g_value_unset(&item);
    }
    return found;
}

// The element whose controls are the device's: a device's element may be a
// bin around the actual source; then a colour balance inside it, or else its
// source element.
ElementRef ControlElement(ElementRef element) {
    while (element && GST_IS_BIN(element.Get()) && !GST_IS_COLOR_BALANCE(element.Get())) {
        GstBin* bin = GST_BIN(element.Get());
        ElementRef inner =
            FirstElement(gst_bin_iterate_all_by_interface(bin, GST_TYPE_COLOR_BALANCE));
        if (!inner)
            inner = FirstElement(gst_bin_iterate_sources(bin));
        if (!inner)
            break;
        element = inner;
    }
    return element;
}

}  // namespace

namespace {

// A value of the type, to be handed to the writer thread.
std::shared_ptr<GValue> NewValue(GType type) {
    auto* value = new GValue(G_VALUE_INIT);
    g_value_init(value, type);
    return std::shared_ptr<GValue>(value, [](GValue* v) {
        g_value_unset(v);
        delete v;
    });
}

}  // namespace

DeviceControlsPage::DeviceControlsPage(ElementRef element, QWidget* parent)
    : PropertyPage(parent), element_(ControlElement(std::move(element))) {
    setObjectName(QStringLiteral("DeviceControlsPage"));
    setWindowTitle(QCoreApplication::translate("Media", "Périphérique"));
    connect(&writer_, &DeviceWriter::Settled, this, &PropertyPage::Settled);
    auto* outer = new QVBoxLayout(this);
    auto* scroll = new PageScroll(this, 400);
    auto* content = new QWidget(scroll);
    auto* form = new QFormLayout(content);
    scroll->setWidget(content);
    outer->addWidget(scroll);

    AddColorBalance(form);
    guint count = 0;
    GParamSpec** pspecs =
        g_object_class_list_properties(G_OBJECT_GET_CLASS(element_.Get()), &count);
    for (guint i = 0; i < count; ++i) {
        if (ShowsProperty(pspecs[i]))
            AddProperty(form, pspecs[i]);
    }
    g_free(pspecs);
    if (controls_ == 0)
        form->addRow(new QLabel(QCoreApplication::translate("Media", "Aucun réglage."), content));
    scroll->Fit();
}

DeviceControlsPage::~DeviceControlsPage() = default;

bool DeviceControlsPage::ShowsProperty(const GParamSpec* pspec) {
    const GParamFlags flags = pspec->flags;
    if (!(flags & G_PARAM_READABLE) || !(flags & G_PARAM_WRITABLE) ||
        (flags & G_PARAM_CONSTRUCT_ONLY))
        return false;
    // Properties of the generic classes say nothing about the device.
    const GType owner = pspec->owner_type;
    if (owner == GST_TYPE_OBJECT || owner == GST_TYPE_ELEMENT || owner == GST_TYPE_BIN ||
        owner == GST_TYPE_BASE_SRC || owner == GST_TYPE_PUSH_SRC)
        return false;
    for (const char* name : kLeftOut)
        if (std::strcmp(pspec->name, name) == 0)
            return false;
    const GType type = G_PARAM_SPEC_VALUE_TYPE(pspec);
    if (type == G_TYPE_INT || type == G_TYPE_DOUBLE || type == G_TYPE_FLOAT ||
        type == G_TYPE_BOOLEAN || G_TYPE_IS_ENUM(type))
        return true;
    // Unsigned integers fit the controls only up to the signed range
    // (colours packed into 32 bits do not).
    return type == G_TYPE_UINT && G_PARAM_SPEC_UINT(pspec)->maximum <= guint(INT_MAX);
}

void DeviceControlsPage::AddColorBalance(QFormLayout* form) {
    if (!GST_IS_COLOR_BALANCE(element_.Get()))
        return;
    GstColorBalance* balance = GST_COLOR_BALANCE(element_.Get());
    for (const GList* l = gst_color_balance_list_channels(balance); l; l = l->next) {
        auto* channel = GST_COLOR_BALANCE_CHANNEL(l->data);
        const int value = gst_color_balance_get_value(balance, channel);
        const QString label = QString::fromUtf8(channel->label);
        savedChannels_.push_back(
            std::make_unique<SavedChannel>(SavedChannel{controls_, channel->label, value}));
        SavedChannel* saved = savedChannels_.back().get();
        QWidget* control = SliderWithSpinBox(
            form->parentWidget(), QStringLiteral("balance:") + label, channel->min_value,
            channel->max_value, value, [this, saved](int v) { SetChannel(saved, v); });
        AddRow(form, label, control);
        ++controls_;
    }
}

void DeviceControlsPage::AddProperty(QFormLayout* form, GParamSpec* pspec) {
    // A property that the colour balance already shows is not shown twice.
    const QString nick = QString::fromUtf8(g_param_spec_get_nick(pspec)).toLower();
    for (const auto& channel : savedChannels_) {
        const QString label = QString::fromStdString(channel->label).toLower();
        if (label == nick || label == QString::fromUtf8(pspec->name))
            return;
    }

    QWidget* parent = form->parentWidget();
    const QString name = QString::fromUtf8(pspec->name);
    const QString label = QString::fromUtf8(g_param_spec_get_nick(pspec));
    const GType type = G_PARAM_SPEC_VALUE_TYPE(pspec);
    std::shared_ptr<GValue> found = NewValue(type);
    g_object_get_property(G_OBJECT(element_.Get()), pspec->name, found.get());
    savedProperties_.push_back(
        std::make_unique<SavedProperty>(SavedProperty{controls_, pspec->name, found}));
    SavedProperty* saved = savedProperties_.back().get();
    QWidget* control = nullptr;

    if (type == G_TYPE_INT || type == G_TYPE_UINT) {
        int min, max, value;
        if (type == G_TYPE_INT) {
            min = G_PARAM_SPEC_INT(pspec)->minimum;
            max = G_PARAM_SPEC_INT(pspec)->maximum;
            value = g_value_get_int(found.get());
        } else {
            min = int(G_PARAM_SPEC_UINT(pspec)->minimum);
            max = int(G_PARAM_SPEC_UINT(pspec)->maximum);
            value = int(g_value_get_uint(found.get()));
        }
        control = SliderWithSpinBox(parent, name, min, max, value, [this, saved, type](int v) {
            std::shared_ptr<GValue> value = NewValue(type);
            if (type == G_TYPE_INT)
                g_value_set_int(value.get(), v);
            else
                g_value_set_uint(value.get(), guint(v));
            SetProperty(saved, std::move(value));
        });
    } else if (type == G_TYPE_DOUBLE || type == G_TYPE_FLOAT) {
        auto* spin = new QDoubleSpinBox(parent);
        spin->setObjectName(name);
        spin->setDecimals(3);
        if (type == G_TYPE_DOUBLE) {
            spin->setRange(G_PARAM_SPEC_DOUBLE(pspec)->minimum,
                           G_PARAM_SPEC_DOUBLE(pspec)->maximum);
            spin->setValue(g_value_get_double(found.get()));
        } else {
            spin->setRange(G_PARAM_SPEC_FLOAT(pspec)->minimum, G_PARAM_SPEC_FLOAT(pspec)->maximum);
            spin->setValue(g_value_get_float(found.get()));
        }
        connect(spin, qOverload<double>(&QDoubleSpinBox::valueChanged), this,
                [this, saved, type](double v) {
                    std::shared_ptr<GValue> value = NewValue(type);
                    if (type == G_TYPE_DOUBLE)
                        g_value_set_double(value.get(), v);
                    else
                        g_value_set_float(value.get(), gfloat(v));
                    SetProperty(saved, std::move(value));
                });
        control = spin;
    } else if (type == G_TYPE_BOOLEAN) {
        auto* check = new QCheckBox(parent);
        check->setObjectName(name);
        check->setChecked(g_value_get_boolean(found.get()));
        connect(check, &QCheckBox::toggled, this, [this, saved](bool on) {
            std::shared_ptr<GValue> value = NewValue(G_TYPE_BOOLEAN);
            g_value_set_boolean(value.get(), on);
            SetProperty(saved, std::move(value));
        });
        control = check;
    } else if (G_TYPE_IS_ENUM(type)) {
        const gint value = g_value_get_enum(found.get());
        auto* combo = new QComboBox(parent);
        combo->setObjectName(name);
        GEnumClass* enumClass = G_PARAM_SPEC_ENUM(pspec)->enum_class;
        for (guint i = 0; i < enumClass->n_values; ++i) {
            const GEnumValue& ev = enumClass->values[i];
            combo->addItem(QString::fromUtf8(ev.value_nick), ev.value);
            if (ev.value == value)
                combo->setCurrentIndex(int(i));
        }
        connect(combo, qOverload<int>(&QComboBox::currentIndexChanged), this,
                [this, saved, type, combo](int index) {
                    if (index < 0)
                        return;
                    std::shared_ptr<GValue> value = NewValue(type);
                    g_value_set_enum(value.get(), combo->itemData(index).toInt());
                    SetProperty(saved, std::move(value));
                });
        control = combo;
    }
    if (!control) {
        savedProperties_.pop_back();
        return;
    }
    control->setToolTip(QString::fromUtf8(g_param_spec_get_blurb(pspec)));
    AddRow(form, label, control);
    ++controls_;
}

void DeviceControlsPage::SetProperty(SavedProperty* saved, std::shared_ptr<GValue> value) {
    saved->changed = true;
    writer_.Post(saved->key, [element = element_, name = saved->name, value = std::move(value)] {
        g_object_set_property(G_OBJECT(element.Get()), name.c_str(), value.get());
        return DeviceWriter::Report();
    });
}

void DeviceControlsPage::SetChannel(SavedChannel* saved, int value) {
    saved->changed = true;
    writer_.Post(saved->key, [element = element_, label = saved->label, value] {
        GstColorBalance* balance = GST_COLOR_BALANCE(element.Get());
        for (const GList* l = gst_color_balance_list_channels(balance); l; l = l->next) {
            auto* channel = GST_COLOR_BALANCE_CHANNEL(l->data);
            if (label == channel->label)
                gst_color_balance_set_value(balance, channel, value);
        }
        return DeviceWriter::Report();
    });
}

void DeviceControlsPage::Revert() {
    for (const auto& saved : savedProperties_)
        if (saved->changed)
            SetProperty(saved.get(), saved->value);
    for (const auto& saved : savedChannels_)
        if (saved->changed)
            SetChannel(saved.get(), saved->value);
    for (const auto& saved : savedProperties_)
        saved->changed = false;
    for (const auto& saved : savedChannels_)
        saved->changed = false;
}

}  // namespace media::gst
