// SPDX-License-Identifier: GPL-3.0-or-later
// Opening and editing files with the desktop's applications, as a file
// manager does: "open" starts the desktop's default application for the
// file, "edit" the image editor registered for the file's type. Opening a
// file no application can open says so; editing one gives nothing.
#pragma once

#include <QString>
#include <functional>

enum class TLaunchVerb { Open, Edit };

// Starts the desktop's default application for the file. Where no
// application is registered for its type (or the desktop's launcher cannot
// be started), a message box over the active window says so and what to
// install.
void OpenDocument(const QString& path);

// Starts the desktop's image editor for the file's type: the user's default
// application for the type when it is an editor, otherwise the first
// application registered for the type that is one. An editor is an
// application whose categories include raster or 2D graphics or photography
// and that does not call itself a viewer. Without one nothing happens.
void EditDocument(const QString& path);

// The desktop file id ("gimp.desktop") of the editor that EditDocument
// starts for the file; empty when there is none.
QString EditorFor(const QString& path);

// What opens and edits files for the objects that do so (the desktop's
// applications by default, LaunchDocument).
using TLauncher = std::function<void(TLaunchVerb verb, const QString& path)>;
// OpenDocument or EditDocument, as the verb says.
void LaunchDocument(TLaunchVerb verb, const QString& path);
