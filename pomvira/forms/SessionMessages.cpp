// SPDX-License-Identifier: GPL-3.0-or-later
#include "SessionMessages.h"

#include <QDir>
#include <QFileInfo>

#include "files/TextConv.h"
#include "media/MediaUtil.h"

using namespace media;
using TKind = TOutcome::TKind;
using TCause = TOutcome::TCause;
using TFileState = TOutcome::TFileState;

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

namespace {

// Why a recording could not start, as its message's second paragraph: the
// failure's own words, a failure of the graph itself, or the recording's.
QString StartFailureReason(const TOutcome& outcome) {
    if (!outcome.Detail.isEmpty())
        return outcome.Detail;
    if (outcome.Result == E_NOINTERFACE || outcome.Cause == TCause::Timeout)
        return GraphFailureText(outcome.Result);
    const QString reason = RecordingFailureReason(outcome.Result, outcome.File);
    return reason.left(1).toUpper() + reason.mid(1);
}

// What became of a recording's file, in one sentence.
QString FileSentence(const TOutcome& outcome) {
    const QString shown = QDir::toNativeSeparators(outcome.File);
    switch (outcome.FileState) {
        case TFileState::Complete:
        case TFileState::Repaired:
            return UiText("Messages", "Le fichier %1 contient ce qui a été enregistré jusque-là.")
                .arg(shown);
        case TFileState::Removed:
            return UiText("Messages",
                          "Rien n'a pu être enregistré dans le fichier %1 ; il a été supprimé.")
                .arg(shown);
        default:
            return UiText("Messages",
                          "Le fichier %1 n'a pas pu être terminé et ne peut pas être lu.")
                .arg(shown);
    }
}

// What a recording's end tells: the reason a failure ended it, or that the
// stop could not complete the file (and whether the repair did).
QString StopMessage(const TOutcome& outcome) {
    const QString shown = QDir::toNativeSeparators(outcome.File);
    const HRESULT failure = outcome.Result;
    const HRESULT stop = outcome.StopResult;
    switch (outcome.FileState) {
        case TFileState::LeftForRepair:
            return UiText("Messages", "L'arrêt de l'enregistrement a échoué : %1")
                .arg(RecordingFailureReason(VFW_E_TIMEOUT, outcome.File));
        case TFileState::Gone:
            if (FAILED(failure) || FAILED(stop)) {
                return UiText("Messages",
                              "L'enregistrement s'est arrêté : %1\n\nLe fichier %2 est perdu.")
                    .arg(RecordingFailureReason(FAILED(failure) ? failure : stop, outcome.File),
                         shown);
            }
            return QString();
        default:
            break;
    }
    if (FAILED(failure)) {
        return UiText("Messages", "L'enregistrement s'est arrêté : %1\n\n%2")
            .arg(RecordingFailureReason(failure, outcome.File), FileSentence(outcome));
    }
    if (FAILED(stop) && outcome.FileState != TFileState::Complete) {
        // The stop could not drain the graph: the multiplexer did not finish
        // the file, the repair did (or could not).
        return UiText("Messages", "L'arrêt de l'enregistrement a échoué : %1\n\n%2")
            .arg(RecordingFailureReason(stop, outcome.File),
                 outcome.Plays()
                     ? UiText("Messages",
                              "Le fichier %1 a été terminé par la réparation des "
                              "enregistrements ; il contient ce qui a été enregistré.")
                           .arg(shown)
                     : FileSentence(outcome));
    }
    return QString();
}

}  // namespace

QString RecordingEndReason(const TOutcome& outcome) {
    switch (outcome.Cause) {
        case TCause::CameraGone:
            return UiText("Messages",
                          "L'enregistrement s'est arrêté : la caméra a été débranchée.");
        case TCause::CameraStalled:
            return UiText("Messages",
                          "L'enregistrement s'est arrêté : la caméra ne donnait plus d'image.");
        case TCause::MicrophoneGone:
            return UiText("Messages", "L'enregistrement s'est arrêté : le micro a été débranché.");
        case TCause::MicrophoneSilent:
            return UiText("Messages",
                          "L'enregistrement s'est arrêté : le micro ne donnait plus de son.");
        default:
            return QString();
    }
}

QString OutcomeMessage(const TOutcome& outcome) {
    switch (outcome.Kind) {
        case TKind::PreviewFailed:
            return GraphFailureText(outcome.Result);
        case TKind::PreviewRecovered:
            return UiText("Messages",
                          "L'image de la caméra s'est arrêtée : %1\n\nL'aperçu a été relancé.")
                .arg(CameraFailureReason(FAILED(outcome.Result) ? outcome.Result : E_FAIL));
        case TKind::RecordingNotStarted:
            if (SUCCEEDED(outcome.Result) && outcome.Detail.isEmpty())
                return QString();
            return UiText("ControlPanel", "L'enregistrement n'a pas pu commencer.") +
                   QStringLiteral("\n\n") + StartFailureReason(outcome);
        case TKind::RecordingStopped:
        case TKind::Closed:
            // A recording the camera or the microphone ended says so in the
            // preview's notice and in the strip instead.
            if (outcome.NoRecording() || !RecordingEndReason(outcome).isEmpty())
                return QString();
            return StopMessage(outcome);
        case TKind::StillFailed:
            switch (outcome.Cause) {
                case TCause::NoFrame:
                    return UiText("Messages",
                                  "Aucune image n'est arrivée de la caméra : "
                                  "la photo n'a pas été prise.");
                case TCause::Timeout:
                    return UiText("Messages",
                                  "Le disque ne répond pas : la photo n'a pas pu être "
                                  "enregistrée.");
                default:
                    return outcome.Detail.isEmpty() ? UiText("Messages", "Erreur inconnue")
                                                    : outcome.Detail;
            }
        case TKind::CameraUnusable:
            return UiText("Messages",
                          "La caméra est branchée mais ne peut pas être ouverte : "
                          "un autre programme l'utilise peut-être.\r\n"
                          "Le programme continue d'essayer de l'ouvrir.");
        case TKind::DevicesListed:
            // Services that did not answer in time (PipeWire, the sound
            // server), named once.
            if (outcome.Detail.isEmpty())
                return QString();
            return UiText("Messages",
                          "Le service des périphériques « %1 » ne répond pas : ses caméras et "
                          "ses micros ne sont pas encore dans la liste.\r\n"
                          "Ils y seront ajoutés dès qu'il répondra.")
                .arg(outcome.Detail.split(QLatin1Char('\n'))
                         .join(UiText("Messages", " », « ")));
        case TKind::PreviewStarted:
        case TKind::RecordingStarted:
        case TKind::StillTaken:
            return QString();
    }
    return QString();
}

QString CameraNotice(bool lost, bool stalled) {
    if (lost)
        return UiText("PreviewWindow",
                      "La caméra a été débranchée.\r\n"
                      "L'image reviendra dès qu'elle sera rebranchée.");
    if (stalled)
        return UiText("PreviewWindow",
                      "La caméra ne donne plus d'image.\r\n"
                      "Nouvel essai en cours...");
    return QString();
}

QString OutcomeAnnouncement(const TOutcome& outcome) {
    const QString file = QFileInfo(outcome.File).fileName();
    switch (outcome.Kind) {
        case TKind::RecordingStarted:
            return UiText("Announcements", "Enregistrement en cours : %1").arg(file);
        case TKind::RecordingStopped:
            // The camera or the microphone ended it; a failure is told by
            // its message box.
            if (!RecordingEndReason(outcome).isEmpty())
                return RecordingEndReason(outcome);
            return OutcomeMessage(outcome).isEmpty() && outcome.Plays()
                       ? UiText("Announcements", "Enregistrement terminé : %1").arg(file)
                       : QString();
        case TKind::StillTaken:
            return UiText("Announcements", "Photo enregistrée : %1").arg(file);
        default:
            return QString();
    }
}

QString CameraBackAnnouncement() {
    return UiText("Announcements", "L'image de la caméra est revenue.");
}
