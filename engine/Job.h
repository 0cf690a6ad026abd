#pragma once

#include <QMutex>
#include <QThread>
#include <QWaitCondition>

#include <functional>
#include <string>

// The life every background job shares: it is constructed on the UI thread,
// started at once with its completion handler already attached, runs Execute
// on a thread of its own, has the handler called on the UI thread once Execute
// has returned, and then deletes itself. Nobody else frees a job.
//
// "UI thread" is the thread that created the job (the thread running the
// event loop); jobs reach it only through RunOnUiThread.
class TJob : public QThread {
    Q_OBJECT

public:
    using TerminateHandler = std::function<void(TJob*)>;

    // Attaches onTerminate (the OnTerminate notification) and starts the job.
    // Call once, on the UI thread, right after construction.
    void Start(TerminateHandler onTerminate);

    // Pause and resume: a suspended job stops at its next pause point, makes
    // no further progress and reports nothing until it is resumed. An exchange
    // already under way is finished first.
    void Suspend();
    void Resume();
    bool IsSuspended() const;

    // Deletes a job that was never started, used only as a record of a
    // result: such a job does not free itself.
    void DiscardUnstarted();

    // What escaped Execute, if anything ("" when it returned normally).
    const std::string& Error() const { return FError; }

protected:
    TJob();
    ~TJob() override;

    // The job's body, on its own thread.
    virtual void Execute() = 0;
    // Called on the UI thread in place of Execute when the system refuses the
    // job a thread (Error() then says so); the completion handler follows.
    virtual void ThreadRefused() {}

    // Waits here while the job is suspended.
    void PausePoint();
    // Runs fn on the UI thread and waits for it to return; a pause point comes
    // first, so a suspended job reports nothing. Runs fn directly when called
    // on the UI thread.
    void RunOnUiThread(const std::function<void()>& fn);

private:
    void run() final;
    void Finish();

    TerminateHandler FOnTerminate;
    std::string FError;
    mutable QMutex FPauseMutex;
    QWaitCondition FResumed;
    bool FSuspended = false;
};
