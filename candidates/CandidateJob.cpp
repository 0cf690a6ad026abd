#include "candidates/CandidateJob.h"

#include <exception>
#include <stdexcept>

void TCandidateJob::RunOnListThread(const std::function<void()>& fn) {
    // An exception (exhausted memory) must not escape into the event loop, so
    // it is carried back to the job's thread and ends the job there.
    std::exception_ptr error;
    bool ran = false;
    RunOnUiThread([&] {
        ran = true;
        try {
            fn();
        } catch (...) {
            error = std::current_exception();
        }
    });
    if (error)
        std::rethrow_exception(error);
    // A closing program runs no queued call; the job must not go on as if it
    // had read an empty list.
    if (!ran)
        throw std::runtime_error("the program is closing");
}

std::vector<std::string> TCandidateJob::ReadList(const TDomainList& list) {
    std::vector<std::string> items;
    RunOnListThread([&] { items = list.Items(); });
    return items;
}

void TCandidateJob::AppendToList(TDomainList& list, const std::vector<std::string>& names) {
    RunOnListThread([&] { list.AppendMissing(names); });
    FAddedCount = names.size();
}
