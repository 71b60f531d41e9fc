// SPDX-License-Identifier: GPL-3.0-or-later
// Keeping the control panel with the preview window: above it, minimised
// and restored with it, and taking the clicks at its visible spots that the
// window system gives to the preview window instead.
#pragma once

#include <QObject>
#include <QPointer>
#include <functional>

class QEvent;
class QPoint;
class QWidget;

class TPanelKeeper : public QObject {
    Q_OBJECT
  public:
    // Whether a point in the panel's client coordinates lies on its visible
    // outline (the panel's rectangle is checked before it is asked).
    using TOutline = std::function<bool(const QPoint&)>;

    // The panel is the control panel; the preview window comes later (see
    // KeepAboveViewForm). Both are borrowed; the panel has made its native
    // window (QWidget::create) before the preview window is given.
    TPanelKeeper(QWidget* panel, TOutline onOutline);

    // The panel belongs to the preview window (its transient parent), so
    // window managers and Wayland compositors keep it above that window;
    // where nothing keeps windows stacked (an X server without a window
    // manager, or one that ignores the relation), the panel raises itself
    // whenever the preview window is shown, activated or resized.
    void KeepAboveViewForm(QWidget* view);
    void RaiseAboveViewForm();
    // Minimises or restores the panel with the preview window.
    void FollowViewFormState();
    // The preview window's pointer events at the panel's spots, handed to
    // the panel; true when the event was the panel's.
    bool ForwardPanelInput(QEvent* event);

  protected:
    // Watches the preview window and its native window.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* FPanel;
    TOutline FOnOutline;
    QPointer<QWidget> FViewForm;
    // A press of the preview window's that went to the panel: its moves and
    // release follow it there.
    bool FForwardingPress = false;
};
