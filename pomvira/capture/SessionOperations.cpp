// SPDX-License-Identifier: GPL-3.0-or-later
#include "SessionOperations.h"

#include "capture/SessionWorker.h"

using namespace media;

const char* OperationName(TOperationKind kind) {
    switch (kind) {
        case TOperationKind::ListDevices: return "list the devices";
        case TOperationKind::StartPreview: return "start the preview";
        case TOperationKind::StopPreview: return "stop the preview";
        case TOperationKind::OpenCamera: return "open a camera";
        case TOperationKind::PrepareFormatChoice: return "prepare the format choice";
        case TOperationKind::ApplyFormatChoice: return "apply the format choice";
        case TOperationKind::ChangeMicrophone: return "change the microphone";
        case TOperationKind::ChangeAudioFormat: return "change the sound format";
        case TOperationKind::StartRecording: return "start a recording";
        case TOperationKind::StopRecording: return "stop the recording";
        case TOperationKind::RecoverPreview: return "recover the preview";
        case TOperationKind::ReleaseCamera: return "release the camera";
        case TOperationKind::ReopenCamera: return "reopen the camera";
        case TOperationKind::RestartCamera: return "restart the camera";
        case TOperationKind::RenewDevices: return "connect the device services anew";
        case TOperationKind::Close: return "close";
    }
    return "?";
}

// What an operation knows of its queue: the queue, while it exists.
struct TOperation::TQueueLink {
    TOperationQueue* queue;
};

TOperation::TOperation(TOperationKind kind, TSteps steps, std::weak_ptr<TQueueLink> queue)
    : FKind(kind), FSteps(steps.begin(), steps.end()), FQueue(std::move(queue)) {}

TOperation::~TOperation() {
    // Its turn in the queue goes with it.
    if (FStarted) {
        if (const std::shared_ptr<TQueueLink> link = FQueue.lock())
            link->queue->Ended();
    }
}

void TOperation::Replace(TSteps steps) {
    FSteps.assign(steps.begin(), steps.end());
}

void TOperation::Insert(TSteps steps) {
    FSteps.insert(FSteps.begin(), steps.begin(), steps.end());
}

void TOperation::Await(TSessionWorker& worker, std::function<HRESULT()> job, int boundMs,
                       std::function<void()> timedOut, std::function<void()> tail) {
    FWaiting = true;
    auto result = std::make_shared<HRESULT>(E_FAIL);
    // The worker's answer holds the operation; a worker that drops it (its
    // owner going) ends the operation as well.
    const std::shared_ptr<TOperation> self = shared_from_this();
    worker.Post([job = std::move(job), result] { *result = job(); },
                [self, result] {
                    self->FResult = *result;
                    Run(self);
                },
                boundMs,
                [self, timedOut = std::move(timedOut)] {
                    self->FResult = VFW_E_TIMEOUT;
                    // What the bound does runs as a step of its own.
                    if (timedOut)
                        self->Insert({[timedOut](TOperation&) { timedOut(); }});
                    Run(self);
                },
                std::move(tail));
}

void TOperation::Run(const std::shared_ptr<TOperation>& self) {
    self->FWaiting = false;
    while (!self->FSteps.empty() && !self->FWaiting) {
        TStep step = std::move(self->FSteps.front());
        self->FSteps.pop_front();
        try {
            step(*self);
        } catch (...) {
            // The operation ends at a step that failed; the failure is
            // told, and the queue goes on.
            self->FSteps.clear();
            const std::shared_ptr<TQueueLink> link = self->FQueue.lock();
            if (link && link->queue->OnFailure)
                link->queue->OnFailure(std::current_exception());
        }
    }
}

TOperationQueue::TOperationQueue(QObject* parent)
    : QObject(parent), FLink(std::make_shared<TOperation::TQueueLink>(TOperation::TQueueLink{this})) {}

TOperationQueue::~TOperationQueue() {
    // Operations still held somewhere (a worker's answer) find no queue.
    FLink.reset();
    FWaiting.clear();
}

void TOperationQueue::Enqueue(TOperationKind kind, TOperation::TSteps steps) {
    FWaiting.push_back(std::shared_ptr<TOperation>(new TOperation(kind, std::move(steps), FLink)));
    StartNext();
}

void TOperationQueue::DropWaiting() {
    FWaiting.clear();
}

bool TOperationQueue::Busy() const {
    return !FRunning.expired() || !FWaiting.empty();
}

bool TOperationQueue::Running(TOperationKind kind) const {
    const std::shared_ptr<TOperation> running = FRunning.lock();
    return running && running->Kind() == kind;
}

bool TOperationQueue::Waiting(TOperationKind kind) const {
    for (const std::shared_ptr<TOperation>& op : FWaiting) {
        if (op->Kind() == kind)
            return true;
    }
    return false;
}

void TOperationQueue::StartNext() {
    if (!FRunning.expired() || FWaiting.empty())
        return;
    const std::shared_ptr<TOperation> op = std::move(FWaiting.front());
    FWaiting.pop_front();
    op->FStarted = true;
    FRunning = op;
    TOperation::Run(op);
    // Unless a worker holds it now, the operation ends here.
}

void TOperationQueue::Ended() {
    // The next one starts from the event loop, never inside the end of the
    // one before (which may come in the middle of a step's clean-up).
    QMetaObject::invokeMethod(this, [this] { StartNext(); }, Qt::QueuedConnection);
}
