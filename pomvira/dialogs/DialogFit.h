// SPDX-License-Identifier: GPL-3.0-or-later
// Every dialog of the program inside the work area of its screen (the
// screen less the desktop's panels), at any scale: a dialog taller or wider
// than the work area is made as small as its content allows (a property
// page's controls then scroll; a settings dialog of fixed size is cut to
// the work area, its client area scrolling), and one that would stick out
// is moved in.
// The property frames that adjust the camera's picture or the microphone
// (the device's own settings, the capture format) open beside the preview
// window, where there is room, so that the picture they change stays in
// sight.
//
// It watches the application's dialogs as they are shown; the control panel
// sets it up once.
#pragma once

#include <QObject>
#include <QRect>
#include <functional>

class QDialog;

class TDialogFit : public QObject {
    Q_OBJECT
  public:
    // `picture` says where the preview window lies on the screen (its
    // frame; an invalid rectangle: nowhere).
    TDialogFit(QObject* parent, std::function<QRect()> picture);
    ~TDialogFit() override;

    // Where a dialog goes: `frame` is its rectangle with the window
    // manager's frame, `least` the smallest frame its content allows. The
    // result lies inside `work` wherever it fits: shrunk no smaller than
    // `least`, beside `picture` (right of it, else left of it) when
    // `beside` and there is room, else moved as little as needed.
    static QRect Place(const QRect& work, const QRect& frame, const QSize& least,
                       const QRect& picture, bool beside);

    // Fits one dialog: as it shows (`shown` false: sized, and placed only
    // beside the picture), and once it is on the screen (moved in).
    void Fit(QDialog* dialog, bool shown) const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::function<QRect()> FPicture;
};
