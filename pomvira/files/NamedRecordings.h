// SPDX-License-Identifier: GPL-3.0-or-later
// The unrepairable recordings already named to the user, remembered in a
// small file beside the settings file so that each one is named once, not
// at every start. A file is known by its path, size and modification time:
// one that changes (copied back, written again) is named again.
//
// The list is read with a bound (a file larger than any list this program
// writes counts as empty) and never through a link; it is written by
// replacing it (a new file, then renamed over the old one), so a link put
// in its place is replaced, never written through.
#pragma once

#include <QString>
#include <QStringList>

class TNamedRecordings {
  public:
    // The largest list read; a larger file is not this program's list.
    static constexpr qint64 kLargestList = 1 << 20;

    // A bare name (no "/") lives beside the settings file, in
    // $XDG_CONFIG_HOME (default ~/.config).
    explicit TNamedRecordings(const QString& fileName);

    QString FileName() const { return FFileName; }

    // Of `paths`, those not named before. A list that cannot be read
    // counts as empty.
    QStringList NotNamedBefore(const QStringList& paths) const;
    // Remembers `paths` as named, as they are now: the list then holds
    // exactly them (a file repaired, removed or no longer failing is
    // forgotten). False when the list could not be written; it is then
    // left as it was (the files are named again next time).
    bool Remember(const QStringList& paths);

  private:
    QString FFileName;
};
