#include "RecordingOutcome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "files/RecordingRepair.h"
#include "files/TextConv.h"
#include "media/MediaUtil.h"

using namespace media;

namespace {

QString Text(const char16_t* text) {
    return ShownText(text);
}

}  // namespace

QString RecordingFailureReason(HRESULT failure, const QString& path) {
    const QString folder = QDir::toNativeSeparators(QFileInfo(path).absolutePath());
    switch (uint32_t(failure)) {
        case uint32_t(HResultFromWin32(ERROR_DISK_FULL)):
            return Text(u"le disque est plein.");
        case uint32_t(HResultFromWin32(ERROR_FILE_TOO_LARGE)):
            return Text(u"le fichier a atteint la plus grande taille permise sur ce disque.");
        case uint32_t(HResultFromWin32(ERROR_PATH_NOT_FOUND)):
            if (QFileInfo(QFileInfo(path).absolutePath()).isDir())
                return Text(u"le fichier a été supprimé ou déplacé pendant l'enregistrement.");
            return Text(u"le dossier « ") + folder +
                   Text(u" » n'existe plus (il a été supprimé, renommé ou déplacé).");
        case uint32_t(E_ACCESSDENIED):
            return Text(u"il n'est pas permis d'écrire dans le dossier « ") + folder + Text(u" ».");
        case uint32_t(HResultFromWin32(ERROR_WRITE_PROTECT)):
            return Text(u"le support est protégé en écriture.");
        case uint32_t(HResultFromWin32(ERROR_NOT_READY)):
            return Text(u"le support du dossier « ") + folder + Text(u" » a été retiré.");
        case uint32_t(HResultFromWin32(ERROR_WRITE_FAULT)):
            return Text(u"le support du dossier « ") + folder +
                   Text(u" » ne répond plus (retiré ou défectueux).");
        case uint32_t(VFW_E_TIMEOUT):
            return Text(u"l'arrêt a pris trop de temps.");
        case uint32_t(VFW_E_NO_CAPTURE_HARDWARE):
            return Text(u"la caméra ou le micro ne répond plus.");
        default:
            return Text(u"erreur du système vidéo : ") + GraphErrorText(failure);
    }
}

TRecordingEnd FinishRecordingFile(const QString& path, HRESULT failure, HRESULT stopResult) {
    TRecordingEnd end;
    end.path = path;
    const QString shown = QDir::toNativeSeparators(path);
    if (!QFileInfo::exists(path)) {
        // Gone with its folder, or never made: nothing to keep, but said.
        if (FAILED(failure) || FAILED(stopResult)) {
            end.message = Text(u"L'enregistrement s'est arrêté : ") +
                          RecordingFailureReason(FAILED(failure) ? failure : stopResult, path) +
                          Text(u"\n\nLe fichier ") + shown + Text(u" est perdu.");
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
        what = Text(u"Le fichier ") + shown + Text(u" contient ce qui a été enregistré jusque-là.");
    } else if (state == TRecordingState::NotARecording) {
        what = Text(u"Rien n'a pu être enregistré dans le fichier ") + shown +
               Text(u" ; il a été supprimé.");
    } else {
        what = Text(u"Le fichier ") + shown +
               Text(u" n'a pas pu être terminé et ne peut pas être lu.");
    }
    if (FAILED(failure)) {
        end.message = Text(u"L'enregistrement s'est arrêté : ") +
                      RecordingFailureReason(failure, path) + QStringLiteral("\n\n") + what;
    } else if (FAILED(stopResult) && state != TRecordingState::Complete) {
        // The stop could not drain the graph: the multiplexer did not finish
        // the file, the repair did (or could not).
        end.message = Text(u"L'arrêt de l'enregistrement a échoué : ") +
                      RecordingFailureReason(stopResult, path) + QStringLiteral("\n\n") +
                      (end.plays ? Text(u"Le fichier ") + shown +
                                       Text(u" a été terminé par la réparation des "
                                            u"enregistrements ; il contient ce qui a été "
                                            u"enregistré.")
                                 : what);
    }
    return end;
}
