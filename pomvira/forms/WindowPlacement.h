// SPDX-License-Identifier: GPL-3.0-or-later
// Where the camera program's two windows go: the preview window sized
// around the video and the control panel below it as one block in the middle
// of the screen, or, when the preview covers the work area, the panel in its
// bottom-right corner; both stay inside the work area. The expanded panel
// goes up as far as needed to keep its strip on the screen, and back down
// when it folds again.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <optional>
#include <utility>

class QWidget;
class TViewForm;

class TWindowPlacement {
  public:
    // The panel is the control panel; the preview window comes later (see
    // SetViewForm). Both are borrowed.
    explicit TWindowPlacement(QWidget* panel) : FPanel(panel) {}

    // The preview window the panel is placed with (none: nothing is sized
    // or centred).
    void SetViewForm(TViewForm* view) { FViewForm = view; }

    // Sizes the preview window around a video of width x height; true when
    // it covers the work area instead (false without a preview window).
    bool SizeViewForm(int width, int height);
    // The preview window and the panel centred as one block (coversScreen
    // false), or the panel in the work area's bottom-right corner.
    void PlaceWindows(bool coversScreen);
    // Both at once: the windows fitted to a video of width x height.
    void FitVideo(int width, int height) { PlaceWindows(SizeViewForm(width, height)); }
    void CenterWindows();
    void PlaceBottomRight();
    // The largest video picture, in the screen's device pixels, that the
    // work area has room for with the preview's frame around it and the
    // panel (panelHeight) below: the same frames fit a screen at every
    // scale. Invalid without a preview window.
    QSize PreviewArea(int panelHeight) const;

    // The panel has just grown to its expanded height: moved up as far as
    // needed to end inside the work area, remembering where it was.
    void KeepExpandedOnScreen();
    // The panel has just folded to its normal height: back where it was
    // before it had to make room for the strip, unless it was moved since.
    void ReturnFromLift();

    // While kept (the camera re-opened in the format it had), the windows
    // are neither re-sized nor re-placed when the camera opens.
    bool Kept() const { return FKeepPlacement; }
    void SetKept(bool kept) { FKeepPlacement = kept; }
    // Keeps the placement for its lifetime; kept is false again after it,
    // also when what it guards fails.
    class THold {
      public:
        explicit THold(TWindowPlacement& placement) : FPlacement(&placement) {
            placement.SetKept(true);
        }
        THold(const THold&) = delete;
        THold& operator=(const THold&) = delete;
        ~THold() { FPlacement->SetKept(false); }

      private:
        TWindowPlacement* FPlacement;
    };

    // The positions alone, from the screen, its work area (the screen less
    // the desktop's panels) and the windows' sizes. Centred: the preview's
    // and the panel's top-left corners.
    static std::pair<QPoint, QPoint> Centered(const QRect& screen, const QRect& work,
                                              const QSize& view, const QSize& panel);
    static QPoint BottomRight(const QRect& work, const QSize& panel);
    // PreviewArea from the work area and the frame's size (the program's
    // units) and the screen's device pixels per unit.
    static QSize VideoRoom(const QRect& work, const QSize& frame, int panelHeight, qreal ratio);
    // Where the expanded panel at `panel` goes to end inside the work area;
    // none when it already does.
    static std::optional<QPoint> Lifted(const QRect& work, const QRect& panel);

  private:
    QWidget* FPanel;
    TViewForm* FViewForm = nullptr;
    bool FKeepPlacement = false;
    // Where the panel was before expanding lifted it, and where it went.
    std::optional<std::pair<QPoint, QPoint>> FLiftedFor;
};
