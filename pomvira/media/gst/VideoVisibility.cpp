// SPDX-License-Identifier: GPL-3.0-or-later
#include "VideoVisibility.h"

#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace media::gst {

namespace {

constexpr int kPollMs = 10;
constexpr int kMaxPolls = 100;

xcb_connection_t* Connection(void* c) {
    return static_cast<xcb_connection_t*>(c);
}

}  // namespace

VideoVisibility::VideoVisibility(QWidget* video, std::function<void(bool)> changed)
    : video_(video), changed_(std::move(changed)) {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 && x11->connection() && !xcb_connection_has_error(x11->connection())) {
        connection_ = x11->connection();
        QCoreApplication::instance()->installNativeEventFilter(this);
        Send(Ask::StateAtom);
        Send(Ask::HiddenAtom);
    }
    video->installEventFilter(this);
    Watch();
}

VideoVisibility::~VideoVisibility() {
    if (!connection_)
        return;
    if (QCoreApplication* app = QCoreApplication::instance())
        app->removeNativeEventFilter(this);
    for (const Request& r : requests_)
        xcb_discard_reply(Connection(connection_), r.sequence);
}

void VideoVisibility::Watch() {
    QWidget* top = video_ ? video_->window() : nullptr;
    if (top != top_) {
        if (top_ && top_ != video_)
            top_->removeEventFilter(this);
        top_ = top;
        if (top_ && top_ != video_)
            top_->installEventFilter(this);
    }
    QWindow* handle = top_ ? top_->windowHandle() : nullptr;
    if (handle != handle_) {
        if (handle_)
            handle_->removeEventFilter(this);
        handle_ = handle;
        if (handle_)
            handle_->installEventFilter(this);
    }
    // The native window exists once Qt has made it (shown, or asked for).
    if (connection_)
        WatchXWindow(handle_ && handle_->handle() ? uint32_t(handle_->winId()) : 0);
    Update();
}

void VideoVisibility::Update() {
    bool seen = video_ && video_->isVisible() && top_ && top_->isVisible();
    if (seen && handle_)
        seen = handle_->isExposed();
    if (seen && xWindow_)
        seen = !hidden_ && !obscured_;
    if (seen == seen_)
        return;
    seen_ = seen;
    changed_(seen);
}

bool VideoVisibility::eventFilter(QObject* watched, QEvent* e) {
    switch (e->type()) {
        case QEvent::ParentChange:
        case QEvent::Show:
        case QEvent::WinIdChange:
            Watch();
            break;
        case QEvent::Expose:
            // Restored: the window manager's word on the state has
            // normally come by now.
            if (!requests_.empty())
                Poll();
            Update();
            break;
        case QEvent::Hide:
            Update();
            break;
        case QEvent::PlatformSurface:
            // The native window is made or goes.
            if (watched == handle_)
                QTimer::singleShot(0, this, [this] { Watch(); });
            break;
        default:
            break;
    }
    return false;
}

// ---------------------------------------------------------------------------
// X11
// ---------------------------------------------------------------------------

void VideoVisibility::WatchXWindow(uint32_t window) {
    if (window == xWindow_)
        return;
    xWindow_ = window;
    hidden_ = obscured_ = false;
    if (!window)
        return;
    // The visibility notices are sent to the clients that ask for them: this
    // connection's event mask for the window (Qt's) gains them, once it is
    // known.
    Send(Ask::EventMask);
    if (stateAtom_)
        Send(Ask::State);
}

void VideoVisibility::Send(Ask what) {
    xcb_connection_t* c = Connection(connection_);
    unsigned sequence = 0;
    switch (what) {
        case Ask::StateAtom:
            sequence = xcb_intern_atom(c, 0, 13, "_NET_WM_STATE").sequence;
            break;
        case Ask::HiddenAtom:
            sequence = xcb_intern_atom(c, 0, 20, "_NET_WM_STATE_HIDDEN").sequence;
            break;
        case Ask::EventMask:
            sequence = xcb_get_window_attributes(c, xWindow_).sequence;
            break;
        case Ask::State:
            sequence = xcb_get_property(c, 0, xWindow_, stateAtom_, XCB_ATOM_ATOM, 0, 64).sequence;
            break;
    }
    xcb_flush(c);
    requests_.push_back({what, sequence, xWindow_});
    polls_ = 0;
    PollLater();
}

void VideoVisibility::PollLater() {
    if (pollPending_ || requests_.empty())
        return;
    pollPending_ = true;
    QTimer::singleShot(kPollMs, this, [this] {
        pollPending_ = false;
        Poll();
    });
}

void VideoVisibility::Poll() {
    xcb_connection_t* c = Connection(connection_);
    const bool giveUp = ++polls_ > kMaxPolls;
    for (size_t i = 0; i < requests_.size();) {
        const Request r = requests_[i];
        void* reply = nullptr;
        xcb_generic_error_t* error = nullptr;
        if (!xcb_poll_for_reply(c, r.sequence, &reply, &error)) {
            if (giveUp) {
                xcb_discard_reply(c, r.sequence);
                requests_.erase(requests_.begin() + ptrdiff_t(i));
            } else {
                ++i;
            }
            continue;
        }
        std::free(error);
        requests_.erase(requests_.begin() + ptrdiff_t(i));
        const bool current = r.window == xWindow_;
        switch (r.what) {
            case Ask::StateAtom:
            case Ask::HiddenAtom:
                if (reply) {
                    const xcb_atom_t atom = static_cast<xcb_intern_atom_reply_t*>(reply)->atom;
                    (r.what == Ask::StateAtom ? stateAtom_ : hiddenAtom_) = atom;
                    if (r.what == Ask::StateAtom && xWindow_)
                        Send(Ask::State);
                }
                break;
            case Ask::EventMask:
                if (reply && current) {
                    const uint32_t mask =
                        static_cast<xcb_get_window_attributes_reply_t*>(reply)->your_event_mask |
                        XCB_EVENT_MASK_VISIBILITY_CHANGE | XCB_EVENT_MASK_PROPERTY_CHANGE;
                    xcb_change_window_attributes(c, xWindow_, XCB_CW_EVENT_MASK, &mask);
                    xcb_flush(c);
                }
                break;
            case Ask::State:
                if (reply && current) {
                    auto* state = static_cast<xcb_get_property_reply_t*>(reply);
                    const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(state));
                    const int n = xcb_get_property_value_length(state) / int(sizeof(xcb_atom_t));
                    hidden_ = hiddenAtom_ && state->format == 32 &&
                              std::find(atoms, atoms + n, hiddenAtom_) != atoms + n;
                    Update();
                }
                break;
        }
        std::free(reply);
    }
    PollLater();
}

bool VideoVisibility::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (!xWindow_ || eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    switch (event->response_type & 0x7f) {
        case XCB_VISIBILITY_NOTIFY: {
            const auto* v = reinterpret_cast<const xcb_visibility_notify_event_t*>(event);
            if (v->window == xWindow_) {
                obscured_ = v->state == XCB_VISIBILITY_FULLY_OBSCURED;
                Update();
            }
            break;
        }
        case XCB_PROPERTY_NOTIFY: {
            const auto* p = reinterpret_cast<const xcb_property_notify_event_t*>(event);
            if (p->window == xWindow_ && stateAtom_ && p->atom == stateAtom_)
                Send(Ask::State);
            break;
        }
        default:
            break;
    }
    return false;
}

}  // namespace media::gst
