// SPDX-License-Identifier: GPL-3.0-or-later
#include "RecordingOutcome.h"

#include <QFile>
#include <QFileInfo>

#include "files/RecordingRepair.h"
#include "media/MediaUtil.h"

using namespace media;

TFailure FailureOf(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const EDirectShowException& e) {
        return {e.Result(), QString()};
    } catch (const EInterfaceNotSupported& e) {
        return {E_NOINTERFACE, QString::fromUtf8(e.what())};
    } catch (const std::exception& e) {
        return {E_FAIL, QString::fromUtf8(e.what())};
    } catch (...) {
        return {E_FAIL, QString()};
    }
}

bool CameraFailure(HRESULT failure) {
    return failure == VFW_E_NOT_FOUND || failure == VFW_E_NO_CAPTURE_HARDWARE ||
           failure == E_NOINTERFACE;
}

TOutcome::TFileState FinishRecordingFile(const QString& path, HRESULT failure,
                                         HRESULT stopResult) {
    // Gone with its folder, or never made.
    if (!QFileInfo::exists(path))
        return TOutcome::TFileState::Gone;
    if (SUCCEEDED(failure) && SUCCEEDED(stopResult))
        return TOutcome::TFileState::Complete;
    switch (RepairRecording(path)) {
        case TRecordingState::Complete:
            return TOutcome::TFileState::Complete;
        case TRecordingState::Repaired:
            return TOutcome::TFileState::Repaired;
        case TRecordingState::InUse:
            // Still held by the writer of a stop given up.
            return TOutcome::TFileState::LeftForRepair;
        case TRecordingState::NotARecording:
            // Not even its header was written: it holds nothing.
            QFile::remove(path);
            return TOutcome::TFileState::Removed;
        default:
            return TOutcome::TFileState::Unplayable;
    }
}
