#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The names a generation or import job has met: the candidate list's entries
// as they stood when the job started, and the names the job adds. Equality is
// exact byte comparison (case-sensitive, nothing trimmed). A lookup costs the
// same for the millionth name as for the first, so a job's cost grows with
// the number of names, not with its square.
//
// Added names are kept back to back in one buffer, and the table holds only
// numbers, so a million names cost a few bytes each beyond their text.
class TNameIndex {
public:
    // existing: the list's entries; duplicates among them are no error.
    explicit TNameIndex(std::vector<std::string> existing);

    // Adds name unless an entry or an earlier added name equals it; true when
    // it was added.
    bool Add(std::string_view name);
    std::size_t AddedCount() const { return FAddedEnds.size(); }

    // The added names, in the order they were added. Frees everything else,
    // so the caller holds only these while it writes them back.
    std::vector<std::string> TakeAdded();

private:
    using TId = std::uint32_t;

    std::string_view NameOf(TId id) const;
    bool Insert(std::string_view name, TId id);
    void Grow();
    std::size_t SlotOf(std::uint64_t hash) const { return hash & (FSlots.size() - 1); }

    std::vector<std::string> FExisting;
    // Added names, back to back; FAddedEnds[i] is where name i ends.
    std::string FAdded;
    std::vector<std::size_t> FAddedEnds;
    // Open addressing, linear probing: 0 is an empty slot, otherwise the upper
    // half holds part of the name's hash and the lower half its id + 1.
    std::vector<std::uint64_t> FSlots;
    std::size_t FUsed = 0;
};
