// SPDX-License-Identifier: GPL-3.0-or-later
// What assistive technology (screen readers over AT-SPI) is told about the
// program's painted controls, which Qt alone would present as bare panes:
// an image button is a push button named by its hint (or caption), a picture
// that can be clicked is a button named by its hint, and a paint box says the
// role, name and selection its owner gives it.
#pragma once

class QWidget;

// Registers the interfaces with Qt's accessibility, once per process; the
// controls' constructors call it.
void InstallAccessibleControls();

// Tells assistive technology that a control's name changed (a new hint),
// when any is listening.
void NotifyAccessibleNameChanged(QWidget* control);
