#include "candidates/Unit_CreateDomains.h"

#include "candidates/NameIndex.h"
#include "engine/Unit_Functions.h"

#include <vector>

TCreateDomains::TCreateDomains(std::string pattern, TDomainList& domainList, std::int32_t maxCount)
    : Pattern(std::move(pattern)), DomainList(domainList), MaxCount(maxCount) {}

void TCreateDomains::Execute() {
    std::vector<std::string> added;
    {
        TNameIndex names(ReadList(DomainList));
        // The count is tested after the attempt, so there is always one.
        do {
            ++FAttempts;
            const std::string name = ExpandDomainPattern(Pattern);
            if (!name.empty())
                names.Add(name);
        } while (FAttempts < MaxAttempts &&
                 static_cast<std::int64_t>(names.AddedCount()) < MaxCount);
        added = names.TakeAdded();
    }
    AppendToList(DomainList, added);
}
