#pragma once

#include "candidates/DomainList.h"
#include "engine/Job.h"

#include <QEventLoop>
#include <QTimer>

#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

// A candidate list as the main window holds it, with hooks that let a test
// act at the moment a job reads or writes.
class TFakeDomainList : public TDomainList {
public:
    explicit TFakeDomainList(std::vector<std::string> lines = {}) : Lines(std::move(lines)) {}

    std::vector<std::string> Items() const override {
        ++ReadCount;
        if (OnItems)
            OnItems();
        return Lines;
    }

    void AppendMissing(const std::vector<std::string>& names) override {
        ++WriteCount;
        if (OnAppend)
            OnAppend();
        std::unordered_set<std::string> known(Lines.begin(), Lines.end());
        for (const std::string& name : names) {
            if (known.insert(name).second)
                Lines.push_back(name);
        }
    }

    std::vector<std::string> Lines;
    std::function<void()> OnItems;
    std::function<void()> OnAppend;
    mutable int ReadCount = 0;
    int WriteCount = 0;
};

// What a job left behind, read in its completion handler (the job is gone
// afterwards).
struct TJobOutcome {
    bool Ended = false;
    std::string Error;
};

// Starts job and runs the event loop until its completion handler has run
// (or 60 s have passed, which fails the test instead of hanging it).
// inHandler runs inside the handler, while the job still exists.
template <typename TJobType>
TJobOutcome RunJob(TJobType* job, const std::function<void(TJobType&)>& inHandler = {}) {
    TJobOutcome outcome;
    QEventLoop loop;
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    job->Start([&](TJob* ended) {
        outcome.Ended = true;
        outcome.Error = ended->Error();
        if (inHandler)
            inHandler(*static_cast<TJobType*>(ended));
        loop.quit();
    });
    loop.exec();
    return outcome;
}
