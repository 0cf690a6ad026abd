#include "engine/Job.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <exception>
#include <new>

TJob::TJob() = default;

TJob::~TJob() {
    wait();
}

void TJob::Start(TerminateHandler onTerminate) {
    FOnTerminate = std::move(onTerminate);
    // The handler is attached before the thread exists, so no job can end
    // unobserved; queued, so it always runs on the UI thread.
    connect(this, &QThread::finished, this, &TJob::Finish, Qt::QueuedConnection);
    start();
    // When the system refuses a thread, finished never comes; end the job
    // through the same handler so that nobody waits for it for ever.
    if (!isRunning() && !isFinished()) {
        FError = "thread not started";
        ThreadRefused();
        QMetaObject::invokeMethod(this, &TJob::Finish, Qt::QueuedConnection);
    }
}

void TJob::Finish() {
    wait();
    if (FOnTerminate)
        FOnTerminate(this);
    deleteLater();
}

void TJob::run() {
    try {
        Execute();
    } catch (const std::bad_alloc&) {
        FError = "out of memory";
    } catch (const std::exception& e) {
        FError = e.what();
        if (FError.empty())
            FError = "unexpected error";
    } catch (...) {
        FError = "unexpected error";
    }
    // The end is a report too: a suspended job does not end until resumed.
    PausePoint();
}

void TJob::Suspend() {
    QMutexLocker lock(&FPauseMutex);
    FSuspended = true;
}

void TJob::Resume() {
    QMutexLocker lock(&FPauseMutex);
    FSuspended = false;
    FResumed.wakeAll();
}

bool TJob::IsSuspended() const {
    QMutexLocker lock(&FPauseMutex);
    return FSuspended;
}

void TJob::PausePoint() {
    QMutexLocker lock(&FPauseMutex);
    while (FSuspended)
        FResumed.wait(&FPauseMutex);
}

void TJob::RunOnUiThread(const std::function<void()>& fn) {
    if (QThread::currentThread() == thread()) {
        fn();
        return;
    }
    PausePoint();
    // Once the application is closing, nothing runs the queued call any more;
    // waiting for it would hold this thread for ever.
    if (QCoreApplication::closingDown())
        return;
    QMetaObject::invokeMethod(
        this, [&fn] { fn(); }, Qt::BlockingQueuedConnection);
}

void TJob::DiscardUnstarted() {
    if (!isRunning() && !isFinished())
        delete this;
}
