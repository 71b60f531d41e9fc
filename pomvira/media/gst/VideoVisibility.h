// SPDX-License-Identifier: GPL-3.0-or-later
// Whether anyone can see the video renderer's widget, followed as it
// changes, so that frames nobody sees are neither decoded, converted nor
// drawn.
//
// Seen: the widget is shown in a top-level window that is shown and exposed
// (Qt's word for a window whose contents reach the screen: on X11 a mapped
// window, so neither minimised nor on another workspace under a window
// manager that unmaps such windows, as openbox does; on Wayland a window
// whose frames the compositor keeps taking). On X11 also: not hidden by the
// window manager (_NET_WM_STATE_HIDDEN, which window managers that keep a
// minimised window mapped set as well), and not wholly covered by other
// windows (the server's visibility notices, which tell it where no
// compositing manager redirects the windows; under one, a window counts as
// uncovered). A window only partly covered is seen.
//
// The X server's answers are never waited for: its replies are polled
// every 10 ms until they have come (for a second at most); until then the
// window counts as seen, as it does where nothing says otherwise.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <QWindow>
#include <cstdint>
#include <functional>
#include <vector>

namespace media::gst {

class VideoVisibility : public QObject, public QAbstractNativeEventFilter {
  public:
    // `changed` is called on the user-interface thread each time the answer
    // changes.
    VideoVisibility(QWidget* video, std::function<void(bool seen)> changed);
    ~VideoVisibility() override;

    bool Seen() const { return seen_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* e) override;
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

  private:
    // Follows the widget's top-level window and its native window.
    void Watch();
    void Update();
    // X11: the window whose visibility notices and state are followed.
    void WatchXWindow(uint32_t window);
    enum class Ask { StateAtom, HiddenAtom, EventMask, State };
    void Send(Ask what);
    void PollLater();
    void Poll();

    QPointer<QWidget> video_;
    std::function<void(bool)> changed_;
    bool seen_ = true;
    QPointer<QWidget> top_;
    QPointer<QWindow> handle_;

    // X11 (null connection elsewhere).
    void* connection_ = nullptr;  // xcb_connection_t, Qt's
    uint32_t xWindow_ = 0;
    uint32_t stateAtom_ = 0, hiddenAtom_ = 0;
    bool hidden_ = false;    // _NET_WM_STATE_HIDDEN
    bool obscured_ = false;  // wholly covered
    struct Request {
        Ask what;
        unsigned sequence;
        uint32_t window;
    };
    std::vector<Request> requests_;
    bool pollPending_ = false;
    int polls_ = 0;
};

}  // namespace media::gst
