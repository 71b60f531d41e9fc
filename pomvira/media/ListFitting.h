// SPDX-License-Identifier: GPL-3.0-or-later
// Sizing the lists of the settings dialogs and pages to what they hold.
#pragma once

class QListWidget;

namespace media {

// Makes the list wide enough for its longest entry in the font it is drawn
// with (a large system font included), so that no entry hides behind a
// horizontal scroll bar, and tall enough for up to a dozen entries.
void FitListToContent(QListWidget* list);

}  // namespace media
