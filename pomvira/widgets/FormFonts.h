// SPDX-License-Identifier: GPL-3.0-or-later
// The faces that the camera program's forms ask for by name: "Tahoma",
// "MS Sans Serif", "Microsoft Sans Serif" and "Arial". Their texts are placed
// for those faces' metrics, so metric-compatible faces are used wherever the
// system has them.
#pragma once

#include <QString>
#include <QStringList>

// Makes the faces available once per process: a face that fontconfig does
// not list is registered with the application from the folders that hold
// Debian's metric-compatible faces (fonts-wine: Tahoma and MS Sans Serif;
// "Arial" is Liberation Sans through fontconfig's own aliases). "Microsoft
// Sans Serif", which has no free counterpart, is drawn with Tahoma, its
// nearest face. Missing faces fall back to the nearest face fontconfig
// offers. Needs the application object.
void RegisterFormFonts();

// The folders searched for the faces, in order (for tests).
QStringList FormFontFolders();
