// SPDX-License-Identifier: GPL-3.0-or-later
#include "RecordingOutcome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "files/RecordingRepair.h"
#include "files/TextConv.h"
#include "media/MediaUtil.h"

using namespace media;

QString RecordingFailureReason(HRESULT failure, const QString& path) {
    const QString folder = QDir::toNativeSeparators(QFileInfo(path).absolutePath());
    switch (uint32_t(failure)) {
        case uint32_t(HResultFromWin32(ERROR_DISK_FULL)):
            return UiText("Messages", "le disque est plein.");
        case uint32_t(HResultFromWin32(ERROR_FILE_TOO_LARGE)):
            return UiText("Messages",
                          "le fichier a atteint la plus grande taille permise sur ce disque.");
        case uint32_t(HResultFromWin32(ERROR_PATH_NOT_FOUND)):
            if (QFileInfo(QFileInfo(path).absolutePath()).isDir())
                return UiText("Messages",
                              "le fichier a été supprimé ou déplacé pendant l'enregistrement.");
            return UiText(
                       "Messages",
                       "le dossier « %1 » n'existe plus (il a été supprimé, renommé ou déplacé).")
                .arg(folder);
        case uint32_t(E_ACCESSDENIED):
            return UiText("Messages", "il n'est pas permis d'écrire dans le dossier « %1 ».")
                .arg(folder);
        case uint32_t(HResultFromWin32(ERROR_FILE_EXISTS)):
            return UiText("Messages",
                          "un autre fichier a pris le nom de l'enregistrement dans le dossier "
                          "« %1 ».")
                .arg(folder);
        case uint32_t(HResultFromWin32(ERROR_WRITE_PROTECT)):
            return UiText("Messages", "le support est protégé en écriture.");
        case uint32_t(HResultFromWin32(ERROR_NOT_READY)):
            return UiText("Messages", "le support du dossier « %1 » a été retiré.").arg(folder);
        case uint32_t(HResultFromWin32(ERROR_WRITE_FAULT)):
            return UiText("Messages",
                          "le support du dossier « %1 » ne répond plus (retiré ou défectueux).")
                .arg(folder);
        case uint32_t(VFW_E_TIMEOUT):
            return UiText("Messages", "l'arrêt a pris trop de temps.");
        case uint32_t(VFW_E_NO_CAPTURE_HARDWARE):
            return UiText("Messages", "la caméra ou le micro ne répond plus.");
        default:
            return UiText("Messages", "erreur du système vidéo : %1").arg(GraphErrorText(failure));
    }
}

QString CameraFailureReason(HRESULT failure) {
    switch (uint32_t(failure)) {
        case uint32_t(VFW_E_NO_CAPTURE_HARDWARE):
        case uint32_t(VFW_E_TIMEOUT):
            return UiText("Messages", "la caméra ou le micro ne répond plus.");
        case uint32_t(E_ACCESSDENIED):
            return UiText("Messages", "l'accès à la caméra a été refusé.");
        default:
            return UiText("Messages", "erreur du système vidéo : %1").arg(GraphErrorText(failure));
    }
}

TRecordingEnd FinishRecordingFile(const QString& path, HRESULT failure, HRESULT stopResult) {
    TRecordingEnd end;
    end.path = path;
    const QString shown = QDir::toNativeSeparators(path);
    if (!QFileInfo::exists(path)) {
        // Gone with its folder, or never made: nothing to keep, but said.
        if (FAILED(failure) || FAILED(stopResult)) {
            end.message =
                UiText("Messages", "L'enregistrement s'est arrêté : %1\n\nLe fichier %2 est perdu.")
                    .arg(RecordingFailureReason(FAILED(failure) ? failure : stopResult, path),
                         shown);
        }
        return end;
    }
    TRecordingState state = TRecordingState::Complete;
    if (FAILED(failure) || FAILED(stopResult))
        state = RepairRecording(path);
    end.repaired = state == TRecordingState::Repaired;
    end.plays = state == TRecordingState::Complete || end.repaired;
    if (state == TRecordingState::NotARecording) {
        // Not even its header was written: it holds nothing.
        QFile::remove(path);
    }
    QString what;
    if (end.plays) {
        what = UiText("Messages", "Le fichier %1 contient ce qui a été enregistré jusque-là.")
                   .arg(shown);
    } else if (state == TRecordingState::NotARecording) {
        what = UiText("Messages",
                      "Rien n'a pu être enregistré dans le fichier %1 ; il a été supprimé.")
                   .arg(shown);
    } else {
        what = UiText("Messages", "Le fichier %1 n'a pas pu être terminé et ne peut pas être lu.")
                   .arg(shown);
    }
    if (FAILED(failure)) {
        end.message = UiText("Messages", "L'enregistrement s'est arrêté : %1\n\n%2")
                          .arg(RecordingFailureReason(failure, path), what);
    } else if (FAILED(stopResult) && state != TRecordingState::Complete) {
        // The stop could not drain the graph: the multiplexer did not finish
        // the file, the repair did (or could not).
        end.message =
            UiText("Messages", "L'arrêt de l'enregistrement a échoué : %1\n\n%2")
                .arg(RecordingFailureReason(stopResult, path),
                     end.plays ? UiText("Messages",
                                        "Le fichier %1 a été terminé par la réparation des "
                                        "enregistrements ; il contient ce qui a été enregistré.")
                                     .arg(shown)
                               : what);
    }
    return end;
}
