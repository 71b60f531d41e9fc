// SPDX-License-Identifier: GPL-3.0-or-later
// Folder and path helpers of the camera program: joining paths, the
// program's own folder and the default save folders.
#pragma once

#include <QString>
#include <functional>

#include "media/FileNameCodec.h"

// folder + "/" + name with every run of "/" collapsed to one; a text that
// begins with "//" (a network path, longer than 2 characters) keeps it.
QString JoinPath(const QString& folder, const QString& name);

// The first free numbered file name in `folder`: for n = 1, 2, 3, ... the
// path JoinPath(folder, prefix + n + "." + extension), n written with
// leading zeros to at least six digits (more from 1000000 on), for which
// `taken` is false. There is no upper bound, and numbers freed on disk are
// used again.
QString NumberedFileName(const QString& folder, const QString& prefix, const QString& extension,
                         const std::function<bool(const QString& path)>& taken);

// Whether anything exists at `path` (a dangling symbolic link too).
bool PathTaken(const QString& path);

// Where the program lies, and the default save folders that follow from it:
// the folder of the program's executable, or another one handed to the
// objects that use it.
class TProgramFolder {
  public:
    // The folder of the program's executable.
    TProgramFolder();
    // `folder` (a trailing "/" is added when missing).
    explicit TProgramFolder(const QString& folder);

    // The folder, with a trailing "/".
    const QString& Path() const { return FPath; }
    // Whether the program runs as an installed program: its desktop entry
    // lies beside its folder where the installation puts it (in any prefix,
    // also below DESTDIR or an unpacked package).
    bool IsInstalled() const;
    // The default save folder `name` ("Video", "Image"): the subfolder of
    // the program's folder when that folder can be written and the program
    // is not installed, otherwise the user's own folder of the xdg-user-dir
    // kind `xdgUserDirKind` ("VIDEOS", "PICTURES"). An installed program
    // never saves beside itself, even where it could (run by root).
    QString DefaultFolder(const QString& name, const QString& xdgUserDirKind) const;

  private:
    QString FPath;
};

// Whether the process can make `folder` its current directory: it exists, is
// a directory and may be searched.
bool CanEnterFolder(const QString& folder);

// Where an installed program's desktop entry lies, relative to the folder of
// the executable ("../share/applications/<id>.desktop").
extern const char* const kInstalledDesktopEntry;

// The user's folder of an xdg-user-dir kind ("VIDEOS", "PICTURES"): what
// `xdg-user-dir` reports, else Qt's standard location, else ~/Videos or
// ~/Pictures.
QString UserFolder(const QString& xdgUserDirKind);
