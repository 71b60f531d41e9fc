// SPDX-License-Identifier: GPL-3.0-or-later
#include "WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

#include "frmView.h"

namespace {

// The start of a span of `size` at `at`, moved as little as needed to lie
// inside the span of `length` from `from` (at its start when it is longer).
int Inside(int at, int size, int from, int length) {
    return std::max(from, std::min(at, from + length - size));
}

}  // namespace

bool TWindowPlacement::SizeViewForm(int width, int height) {
    if (!FViewForm)
        return false;
    return FViewForm->SetVideoSize(width, height);
}

void TWindowPlacement::PlaceWindows(bool coversScreen) {
    if (coversScreen)
        PlaceBottomRight();
    else
        CenterWindows();
}

std::pair<QPoint, QPoint> TWindowPlacement::Centered(const QRect& screen, const QRect& work,
                                                     const QSize& view, const QSize& panel) {
    const int W = std::max(panel.width(), view.width());
    const int H = view.height() + panel.height();
    int viewLeft = screen.left() + (screen.width() - W) / 2;
    int viewTop = screen.top() + (screen.height() - H) / 2;
    // Both windows stay inside the work area: a block taller than it (a
    // large preview at a large scale) starts at its top, and the panel then
    // goes up over the preview's bottom edge rather than below the screen.
    viewTop = Inside(viewTop, H, work.top(), work.height());
    viewLeft = Inside(viewLeft, view.width(), work.left(), work.width());
    const QPoint panelAt(
        Inside(viewLeft + (view.width() - panel.width()) / 2, panel.width(), work.left(),
               work.width()),
        Inside(viewTop + view.height(), panel.height(), work.top(), work.height()));
    return {QPoint(viewLeft, viewTop), panelAt};
}

void TWindowPlacement::CenterWindows() {
    if (!FViewForm)
        return;
    const QScreen* primary = QGuiApplication::primaryScreen();
    const auto [view, panel] = Centered(primary->geometry(), primary->availableGeometry(),
                                        FViewForm->size(), FPanel->size());
    FViewForm->move(view);
    FPanel->move(panel);
}

QSize TWindowPlacement::VideoRoom(const QRect& work, const QSize& frame, int panelHeight,
                                  qreal ratio) {
    // Rounded down: a frame of exactly that size still fits.
    return QSize(int((work.width() - frame.width()) * ratio + 0.001),
                 int((work.height() - frame.height() - panelHeight) * ratio + 0.001));
}

QSize TWindowPlacement::PreviewArea(int panelHeight) const {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!FViewForm || !screen)
        return QSize();
    return VideoRoom(screen->availableGeometry(), FViewForm->GetFrameRect(0, 0).size(),
                     panelHeight, screen->devicePixelRatio());
}

QPoint TWindowPlacement::BottomRight(const QRect& work, const QSize& panel) {
    return QPoint(work.left() + work.width() - panel.width(),
                  work.top() + work.height() - panel.height());
}

void TWindowPlacement::PlaceBottomRight() {
    // The preview window covers the work area then: the panel goes into its
    // corner, clear of the desktop's panels and task bars.
    FPanel->move(
        BottomRight(QGuiApplication::primaryScreen()->availableGeometry(), FPanel->size()));
}

std::optional<QPoint> TWindowPlacement::Lifted(const QRect& work, const QRect& panel) {
    const int bottom = work.top() + work.height();
    if (panel.y() + panel.height() <= bottom)
        return std::nullopt;
    return QPoint(panel.x(), std::max(work.top(), bottom - panel.height()));
}

void TWindowPlacement::KeepExpandedOnScreen() {
    // The expanded panel grows downwards; near the bottom of the work area
    // (in the corner of a screen-covering preview) it goes up instead, so
    // that the strip stays on the screen.
    const QScreen* where = FPanel->screen() ? FPanel->screen() : QGuiApplication::primaryScreen();
    if (!where)
        return;
    const std::optional<QPoint> to =
        Lifted(where->availableGeometry(), QRect(FPanel->pos(), FPanel->size()));
    if (!to)
        return;
    const QPoint from = FPanel->pos();
    FPanel->move(*to);
    FLiftedFor = std::make_pair(from, FPanel->pos());
}

void TWindowPlacement::ReturnFromLift() {
    if (FLiftedFor && FPanel->pos() == FLiftedFor->second)
        FPanel->move(FLiftedFor->first);
    FLiftedFor.reset();
}
