#pragma once

#include "candidates/DomainList.h"
#include "engine/Job.h"

#include <functional>
#include <string>
#include <vector>

// What the generation and import jobs share: reading the candidate list whole
// at the start and appending their new names at the end, both on the UI
// thread while the job waits.
class TCandidateJob : public TJob {
public:
    // How many new names the job handed to the list at its end (the list
    // skips those that reached it in the meantime). 0 until the job ended.
    std::size_t AddedCount() const { return FAddedCount; }

protected:
    TCandidateJob() = default;

    // The list's entries, first to last, as they stand now.
    std::vector<std::string> ReadList(const TDomainList& list);
    // Appends the names the list does not hold at this moment. Entries the
    // user or another job added or removed since the start stay as they are,
    // so no job undoes another's work or the user's clearing.
    void AppendToList(TDomainList& list, const std::vector<std::string>& names);

private:
    // RunOnUiThread, with what fn throws rethrown on the job's thread.
    void RunOnListThread(const std::function<void()>& fn);

    std::size_t FAddedCount = 0;
};
