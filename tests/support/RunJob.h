#pragma once

// Runs one job the way its creator would and waits for it, for the tests of
// the query jobs.

#include "engine/Job.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <functional>

// Starts job and runs the event loop until its completion handler has run (or
// 20 s pass); atEnd runs inside the handler, while the job still exists. Then
// lets the job's deferred deletion run.
template <class TJobClass>
void RunJobToEnd(TJobClass* job, const std::function<void(TJobClass&)>& atEnd) {
    QEventLoop loop;
    job->Start([&](TJob* ended) {
        atEnd(*static_cast<TJobClass*>(ended));
        loop.quit();
    });
    QTimer::singleShot(20'000, &loop, &QEventLoop::quit);
    loop.exec();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
