// SPDX-License-Identifier: GPL-3.0-or-later
// What the control panel reaches beyond the camera, handed to it when it is
// made (the real ones by default): where the program lies (its default save
// folders), the desktop's applications that open and edit files, the user's
// mail program, and the disk under the start-up repair of recordings.
#pragma once

#include "app/DesktopLaunch.h"
#include "app/MailProgram.h"
#include "files/PathUtils.h"
#include "files/RecordingFile.h"

struct TPanelServices {
    TProgramFolder ProgramFolder;
    TLauncher Launch = LaunchDocument;
    TMailProgram Mail;
    TRecordingDisk RecordingDisk;
};
