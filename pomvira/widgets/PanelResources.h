// SPDX-License-Identifier: GPL-3.0-or-later
// The control panel's pictures, embedded as resources under ":/panel/" (see
// the list at the top of tools/panelskin/main.cpp, which draws them):
// back.png (the skin), <button>_up/_down/_active.png for capture, snapshot,
// editimg, mail, config, delete and deleteall, minimize_up/_down.png,
// close_up/_down.png and avi.png.
#pragma once

#include <QImage>
#include <QString>

// Registers the embedded pictures. They live in a static library, whose
// registration the linker keeps only when something refers to it, so call
// this (or PanelPicture) before loading ":/panel/..." paths directly. Calling
// it again does nothing more.
void InitPanelResources();

// The picture ":/panel/<name>" (for example "back.png"); a null image when
// there is no such picture.
QImage PanelPicture(const QString& name);
