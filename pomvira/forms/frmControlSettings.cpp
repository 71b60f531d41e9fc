// SPDX-License-Identifier: GPL-3.0-or-later
// The control panel's settings: read once at start-up, written once at
// shut-down, and the validation of the two save folders.
#include <QDir>

#include "files/IniFile.h"
#include "files/PathUtils.h"
#include "frmControl.h"
#include "capture/CaptureSession.h"

namespace {
const QString kIniName = QStringLiteral("Pomvira.ini");
const QString kSection = QStringLiteral("CAPTURE");
}  // namespace

void TControlForm::LoadSettings() {
    const TIniFile ini(kIniName);
    FUseAudio = ini.ReadBool(kSection, QStringLiteral("USE AUDIO"), true);
    const int32_t video = ini.ReadInteger(kSection, QStringLiteral("VIDEO DEVICE"), 0);
    const int32_t audio = ini.ReadInteger(kSection, QStringLiteral("AUDIO DEVICE"), 0);
    FVideoCompress = ini.ReadInteger(kSection, QStringLiteral("VIDEO COMPRESS"), -1);
    FAudioCompress = ini.ReadInteger(kSection, QStringLiteral("AUDIO COMPRESS"), -1);
    FVideoFolder = ini.ReadString(kSection, QStringLiteral("VIDEO FOLDER"), QString());
    FSnapFolder = ini.ReadString(kSection, QStringLiteral("SNAP FOLDER"), QString());
    FSession->SetStoredChoice(video, audio,
                              ini.ReadString(kSection, QStringLiteral("VIDEO FORMAT"), QString()));
}

void TControlForm::SaveSettings() {
    TIniFile ini(kIniName);
    ini.WriteBool(kSection, QStringLiteral("USE AUDIO"), FUseAudio);
    ini.WriteInteger(kSection, QStringLiteral("VIDEO DEVICE"), FSession->Devices().VideoDevice());
    ini.WriteInteger(kSection, QStringLiteral("AUDIO DEVICE"), FSession->Devices().AudioDevice());
    ini.WriteInteger(kSection, QStringLiteral("VIDEO COMPRESS"), FVideoCompress);
    ini.WriteInteger(kSection, QStringLiteral("AUDIO COMPRESS"), FAudioCompress);
    ini.WriteString(kSection, QStringLiteral("VIDEO FOLDER"), FVideoFolder);
    ini.WriteString(kSection, QStringLiteral("SNAP FOLDER"), FSnapFolder);
    ini.WriteString(kSection, QStringLiteral("VIDEO FORMAT"), FSession->Devices().VideoFormat());
}

void TControlForm::CheckFolders() {
    bool videoNeedsDefault = FVideoFolder.trimmed().isEmpty();
    bool snapNeedsDefault = FSnapFolder.trimmed().isEmpty();
    if (!videoNeedsDefault && !CanEnterFolder(FVideoFolder))
        videoNeedsDefault = true;
    if (!snapNeedsDefault && !CanEnterFolder(FSnapFolder))
        snapNeedsDefault = true;
    // One level is created; a failure (including "already exists") is ignored.
    if (videoNeedsDefault) {
        FVideoFolder = FServices.ProgramFolder.DefaultFolder(QStringLiteral("Video"),
                                                             QStringLiteral("VIDEOS"));
        QDir().mkdir(FVideoFolder);
    }
    if (snapNeedsDefault) {
        FSnapFolder = FServices.ProgramFolder.DefaultFolder(QStringLiteral("Image"),
                                                            QStringLiteral("PICTURES"));
        QDir().mkdir(FSnapFolder);
    }
}
