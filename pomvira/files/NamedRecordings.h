// SPDX-License-Identifier: GPL-3.0-or-later
// The unrepairable recordings already named to the user, remembered in a
// small file beside the settings file so that each one is named once, not
// at every start. A file is known by its path, size and modification time:
// one that changes (copied back, written again) is named again.
#pragma once

#include <QString>
#include <QStringList>

class TNamedRecordings {
  public:
    // A bare name (no "/") lives beside the settings file, in
    // $XDG_CONFIG_HOME (default ~/.config).
    explicit TNamedRecordings(const QString& fileName);

    QString FileName() const { return FFileName; }

    // Of `paths`, those not named before. The list then holds exactly
    // `paths`: a file repaired, removed or no longer failing is forgotten.
    // A list that cannot be read counts as empty; one that cannot be
    // written is left as it was (the files are named again next time).
    QStringList NotNamedBefore(const QStringList& paths);

  private:
    QString FFileName;
};
