// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// Finding files on the medium (the CD) the menu runs from.
//
// A command line such as "\setup\setup.exe" names a file from the root of the
// medium that holds the current working directory. On Linux that root is the
// mount point of the directory, and the file's name parts are matched without
// regard to case, because a CD's file names may be shown in lower case.

// Paths are kept as the file system gives them, as bytes: a medium's folder names need not
// be valid UTF-8, and a path decoded to text could no longer be opened.

// The mount point, among the mounts listed in `mountinfo` (the format of
// /proc/self/mountinfo), that holds the absolute, canonical `path`: the longest
// mount point that is `path` itself or one of its ancestors. Empty when none is.
QByteArray MountPointOf(const QByteArray& path, const QByteArray& mountinfo);

// The root of the medium that holds the directory `dir`: its mount point, read
// from /proc/self/mountinfo; where that is unavailable, the last ancestor
// reached by walking up while the device stays the same. Empty when `dir`
// does not exist.
QByteArray MediumRootOf(const QByteArray& dir);

// The current working directory; empty when it cannot be told.
QByteArray CurrentFolder();

// The file named by `path` ("/" separated; leading, doubled and "." parts are
// ignored) below the folder `root`, each name part matched without regard to
// case. Every part but the last must name a folder, the last a file that is
// not a folder. The exact name is tried first; where it leads nowhere, the
// other case variants are tried in turn. Returns the file's full path, or an
// empty result when it is not found.
QByteArray FindOnMedium(const QByteArray& root, const QString& path);
