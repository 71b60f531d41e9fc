// SPDX-License-Identifier: GPL-3.0-or-later
#include "PropertyFrame.h"

#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "CameraControlsPage.h"
#include "CaptureFilters.h"
#include "DeviceControlsPage.h"
#include "PinFormatPage.h"

namespace media::gst {

PropertyPage* CreatePropertyPage(const GUID& page, const std::vector<IUnknown*>& objects,
                                 QWidget* parent) {
    for (IUnknown* object : objects) {
        if (!object)
            continue;
        if (page == CLSID_DeviceControlsPage) {
            ElementRef element;
            if (auto* device = dynamic_cast<DeviceFilter*>(BinFilter::From(object))) {
                // A camera with controls of its own (V4L2) shows those, read
                // by the page off this thread.
                if (MayHaveCameraControls(device->Device(), device->Source())) {
                    return new CameraControlsPage(
                        [camera = GstRef<GstDevice>::Share(device->Device()),
                         source = ElementRef::Share(device->Source())] {
                            return std::shared_ptr<ICameraControls>(
                                OpenCameraControls(camera.Get(), source.Get()));
                        },
                        parent);
                }
                element = ElementRef::Share(device->Source());
            }
            else if (auto provider = QueryAs<ISourceElementProvider>(object))
                element = provider->SourceElement();
            if (element)
                return new DeviceControlsPage(element, parent);
        } else if (page == CLSID_StreamFormatPage) {
            auto pin = QueryAs<IPin>(object);
            if (pin)
                return new PinFormatPage(pin.Get(), parent);
        }
    }
    return nullptr;
}

PageScroll::PageScroll(QWidget* parent, int tallest) : QScrollArea(parent), tallest_(tallest) {
    setWidgetResizable(true);
    // Tab goes to the controls, and the column follows the focus.
    setFocusPolicy(Qt::NoFocus);
    // Wide enough for the controls; a long list scrolls vertically only.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void PageScroll::Fit() {
    QWidget* content = widget();
    if (!content)
        return;
    const auto editors = content->findChildren<QWidget*>();
    for (QWidget* w : editors) {
        if (qobject_cast<QAbstractSpinBox*>(w) || qobject_cast<QAbstractSlider*>(w) ||
            qobject_cast<QComboBox*>(w)) {
            // The wheel alone gives no focus: it scrolls the column.
            w->setFocusPolicy(Qt::StrongFocus);
            w->installEventFilter(this);
        }
    }
    updateGeometry();
}

QSize PageScroll::sizeHint() const {
    const QWidget* content = widget();
    const QSize inside = content ? content->sizeHint() : QSize(0, 0);
    const int frame = 2 * frameWidth();
    return QSize(inside.width() + verticalScrollBar()->sizeHint().width() + frame,
                 std::min(inside.height() + frame, tallest_));
}

QSize PageScroll::minimumSizeHint() const {
    const QSize wanted = sizeHint();
    // A few rows of controls at least.
    return QSize(wanted.width(), std::min(wanted.height(), 4 * fontMetrics().height() + 16));
}

bool PageScroll::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Wheel && watched->isWidgetType() &&
        !static_cast<QWidget*>(watched)->hasFocus()) {
        // Handed on, unaccepted, to the parents: the column scrolls.
        event->ignore();
        return true;
    }
    return QScrollArea::eventFilter(watched, event);
}

PropertyFrame::PropertyFrame(QWidget* parent, const QString& caption) : QDialog(parent) {
    setObjectName(QStringLiteral("PropertyFrame"));
    setWindowTitle(caption);
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    tabs_ = new QTabWidget(this);
    // Tab goes to the tabs and the page's controls, not to their frame.
    tabs_->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(tabs_);
    auto* buttons = buttons_ = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QCoreApplication::translate("Media", "OK"),
                                         QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("OK"));
    ok->setDefault(true);
    QPushButton* cancel = buttons->addButton(QCoreApplication::translate("Media", "Annuler"),
                                             QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &PropertyFrame::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &PropertyFrame::reject);
    layout->addWidget(buttons);
    bound_ = new QTimer(this);
    bound_->setSingleShot(true);
    connect(bound_, &QTimer::timeout, this, &PropertyFrame::Finish);
}

void PropertyFrame::AddPage(PropertyPage* page) {
    pages_.push_back(page);
    tabs_->addTab(page, page->windowTitle());
    connect(page, &PropertyPage::Settled, this, [this] {
        if (closing_ && !PagesBusy())
            Finish();
    });
    connect(page, &PropertyPage::Filled, this, &PropertyFrame::Refit);
}

void PropertyFrame::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    ButtonsLast();
    focusPending_ = !FocusFirstControl();
}

void PropertyFrame::ButtonsLast() {
    QWidget* page = tabs_->currentWidget();
    QWidget* last = nullptr;
    for (QWidget* w = page ? page->nextInFocusChain() : nullptr; w && page->isAncestorOf(w);
         w = w->nextInFocusChain()) {
        if ((w->focusPolicy() & Qt::TabFocus) && !w->focusProxy())
            last = w;
    }
    const QList<QAbstractButton*> buttons = buttons_->buttons();
    for (QAbstractButton* button : buttons) {
        if (last)
            QWidget::setTabOrder(last, button);
        last = button;
    }
}

bool PropertyFrame::FocusFirstControl() {
    QWidget* page = tabs_->currentWidget();
    if (!page)
        return false;
    // The first control of the page that Tab would reach, focused as Tab
    // focuses it (the style draws its focus mark).
    for (QWidget* w = page->nextInFocusChain(); w && w != page; w = w->nextInFocusChain()) {
        if (!page->isAncestorOf(w))
            break;
        if ((w->focusPolicy() & Qt::TabFocus) && w->isEnabled() && w->isVisibleTo(page)) {
            w->setFocus(Qt::TabFocusReason);
            return true;
        }
    }
    return false;
}

void PropertyFrame::Refit() {
    if (!isVisible())
        return;
    // The layouts above the page learn of its new controls only from the
    // events still queued: they are told now.
    for (QWidget* w = tabs_->currentWidget(); w && w != this; w = w->parentWidget())
        w->updateGeometry();
    adjustSize();  // at most two thirds of the screen
    if (const QScreen* shown = screen()) {
        const QRect work = shown->availableGeometry();
        QRect r = frameGeometry();
        r.moveLeft(std::max(work.left(), std::min(r.left(), work.right() + 1 - r.width())));
        r.moveTop(std::max(work.top(), std::min(r.top(), work.bottom() + 1 - r.height())));
        if (r.topLeft() != frameGeometry().topLeft())
            move(r.topLeft());
    }
    ButtonsLast();
    if (focusPending_)
        focusPending_ = !FocusFirstControl();
}

int PropertyFrame::PageCount() const {
    return int(pages_.size());
}

void PropertyFrame::accept() {
    if (closing_)
        return;
    for (PropertyPage* page : pages_) {
        if (FAILED(page->Apply())) {
            tabs_->setCurrentWidget(page);
            return;
        }
    }
    CloseWhenSettled(Accepted);
}

void PropertyFrame::reject() {
    if (closing_)
        return;  // Escape or the window's close button while closing
    for (PropertyPage* page : pages_)
        page->Revert();
    CloseWhenSettled(Rejected);
}

void PropertyFrame::CloseWhenSettled(int result) {
    closing_ = true;
    result_ = result;
    if (!PagesBusy()) {
        Finish();
        return;
    }
    buttons_->setEnabled(false);
    bound_->start(kCloseBoundMs);
}

bool PropertyFrame::PagesBusy() const {
    for (PropertyPage* page : pages_)
        if (page->Busy())
            return true;
    return false;
}

void PropertyFrame::Finish() {
    if (!closing_)
        return;
    closing_ = false;
    bound_->stop();
    buttons_->setEnabled(true);
    done(result_);
}

HRESULT ShowPropertyFrame(QWidget* parent, int32_t x, int32_t y, const WString& caption,
                          const std::vector<IUnknown*>& objects, const std::vector<GUID>& pages) {
    if (objects.empty())
        return E_INVALIDARG;
    PropertyFrame frame(parent, QString::fromStdU16String(caption));
    for (const GUID& id : pages) {
        if (PropertyPage* page = CreatePropertyPage(id, objects, &frame))
            frame.AddPage(page);
    }
    if (frame.PageCount() == 0)
        return E_FAIL;
    frame.adjustSize();
    if (parent)
        frame.move(parent->mapToGlobal(QPoint(x, y)));
    frame.exec();
    return S_OK;
}

}  // namespace media::gst
