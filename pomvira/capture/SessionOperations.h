// SPDX-License-Identifier: GPL-3.0-or-later
// The capture session's operations. An operation is a named list of steps
// (stop the graph, connect the recording, run the graph, ...), each a small
// function of the user-interface thread. A step may hand a job to a worker
// (Await): the next step runs once the job has ended, with its result. A
// step may also put other steps in place of the rest (Replace), or end the
// operation (End).
//
// Operations run one at a time, in the order they were asked for. An
// operation holds its place in the queue for as long as it lives, and it
// lives exactly as long as something may still run one of its steps: the
// step running now, or the worker's answer to the job it waits for. When the
// last of these lets go of it, however that happens (its last step
// returned, a step threw, a step returned without anything to follow, a
// worker dropped the answer), the queue moves on. No step has to remember to
// start the next operation.
#pragma once

#include <QObject>

#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

#include "media/MediaBoundary.h"

class TSessionWorker;
class TOperationQueue;

// What an operation does, for the queue to tell what waits in it.
enum class TOperationKind {
    ListDevices,
    StartPreview,
    StopPreview,
    OpenCamera,
    PrepareFormatChoice,
    ApplyFormatChoice,
    ChangeMicrophone,
    ChangeAudioFormat,
    StartRecording,
    StopRecording,
    RecoverPreview,
    ReleaseCamera,
    ReopenCamera,
    RestartCamera,
    RenewDevices,
    Close,
};
const char* OperationName(TOperationKind kind);

class TOperation : public std::enable_shared_from_this<TOperation> {
  public:
    using TStep = std::function<void(TOperation&)>;
    using TSteps = std::vector<TStep>;

    ~TOperation();
    TOperation(const TOperation&) = delete;
    TOperation& operator=(const TOperation&) = delete;

    TOperationKind Kind() const { return FKind; }
    // The result of the last job waited for (S_OK before the first), or
    // the one a step set in place of a job it could not hand over.
    media::HRESULT Result() const { return FResult; }
    void SetResult(media::HRESULT result) { FResult = result; }

    // Hands `job` to `worker`; the next step runs once it has ended, with
    // its result. When it runs past boundMs, `timedOut` runs first and the
    // result is VFW_E_TIMEOUT; the thread left inside the job runs `tail`
    // once (if ever) it comes out. One job per step.
    void Await(TSessionWorker& worker, std::function<media::HRESULT()> job, int boundMs,
               std::function<void()> timedOut = {}, std::function<void()> tail = {});
    // These steps run instead of the ones that were to follow.
    void Replace(TSteps steps);
    // These steps run first, then the ones that were to follow.
    void Insert(TSteps steps);
    // Nothing more runs: the operation ends when this step returns.
    void End() { FSteps.clear(); }

  private:
    friend class TOperationQueue;
    struct TQueueLink;
    TOperation(TOperationKind kind, TSteps steps, std::weak_ptr<TQueueLink> queue);
    // Runs the steps until one waits for a job or none is left.
    static void Run(const std::shared_ptr<TOperation>& self);

    TOperationKind FKind;
    std::deque<TStep> FSteps;
    media::HRESULT FResult = 0;
    bool FStarted = false;  // it holds the queue's turn
    bool FWaiting = false;  // for the job handed to a worker
    std::weak_ptr<TQueueLink> FQueue;
};

class TOperationQueue : public QObject {
    Q_OBJECT
  public:
    explicit TOperationQueue(QObject* parent = nullptr);
    ~TOperationQueue() override;

    // Queues an operation; it starts at once when nothing runs.
    void Enqueue(TOperationKind kind, TOperation::TSteps steps);
    // Drops the operations that wait their turn (the running one goes on).
    void DropWaiting();
    // An operation runs or waits.
    bool Busy() const;
    // An operation of this kind waits its turn; runs.
    bool Waiting(TOperationKind kind) const;
    bool Running(TOperationKind kind) const;

    // A step that threw: its operation ended there (the queue went on).
    std::function<void(const std::exception_ptr&)> OnFailure;

  private:
    friend class TOperation;
    void StartNext();
    void Ended();

    std::shared_ptr<TOperation::TQueueLink> FLink;
    std::deque<std::shared_ptr<TOperation>> FWaiting;
    std::weak_ptr<TOperation> FRunning;
};
