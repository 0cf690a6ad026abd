#pragma once

#include "candidates/CandidateJob.h"
#include "candidates/DomainList.h"

#include <cstdint>
#include <string>

// Adds up to MaxCount new, distinct names made from one pattern expression to
// the candidate list, in the order they were made, in one update at the end.
// The pattern is expanded at most MaxAttempts times, and at least once, so a
// count of 0 or less still adds the first expansion. A name equals another
// only byte for byte (Yang5.com and yang5.com are two names); empty
// expansions are dropped; names are not checked with IsValidDomain.
//
// Exhausted memory ends the job with the list unchanged and the reason in
// Error().
class TCreateDomains : public TCandidateJob {
    Q_OBJECT

public:
    static constexpr int MaxAttempts = 300001;

    // Call Start next.
    TCreateDomains(std::string pattern, TDomainList& domainList, std::int32_t maxCount);

    const std::string Pattern;
    TDomainList& DomainList;
    const std::int32_t MaxCount;

    // How many times the pattern was expanded; final once the job ended.
    int Attempts() const { return FAttempts; }

protected:
    void Execute() override;

private:
    int FAttempts = 0;
};
