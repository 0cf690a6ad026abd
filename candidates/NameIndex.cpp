#include "candidates/NameIndex.h"

#include <functional>
#include <limits>
#include <stdexcept>

namespace {

constexpr std::uint64_t IdMask = 0xFFFFFFFFu;

std::uint64_t HashOf(std::string_view name) {
    return std::hash<std::string_view>{}(name);
}

// The upper half of the hash is stored beside the id, so most probes that
// meet another name are settled without touching its bytes.
std::uint64_t TagOf(std::uint64_t hash) {
    return hash & ~IdMask;
}

std::size_t TableSizeFor(std::size_t names) {
    std::size_t size = 64;
    while (size / 2 < names)
        size *= 2;
    return size;
}

} // namespace

TNameIndex::TNameIndex(std::vector<std::string> existing) : FExisting(std::move(existing)) {
    if (FExisting.size() >= IdMask)
        throw std::length_error("too many names");
    FSlots.assign(TableSizeFor(FExisting.size()), 0);
    for (std::size_t i = 0; i < FExisting.size(); ++i)
        Insert(FExisting[i], static_cast<TId>(i));
}

std::string_view TNameIndex::NameOf(TId id) const {
    if (id < FExisting.size())
        return FExisting[id];
    const std::size_t added = id - FExisting.size();
    const std::size_t begin = added == 0 ? 0 : FAddedEnds[added - 1];
    return std::string_view(FAdded).substr(begin, FAddedEnds[added] - begin);
}

bool TNameIndex::Insert(std::string_view name, TId id) {
    const std::uint64_t hash = HashOf(name);
    const std::uint64_t tag = TagOf(hash);
    const std::size_t mask = FSlots.size() - 1;
    for (std::size_t slot = SlotOf(hash);; slot = (slot + 1) & mask) {
        const std::uint64_t entry = FSlots[slot];
        if (entry == 0) {
            FSlots[slot] = tag | (static_cast<std::uint64_t>(id) + 1);
            ++FUsed;
            return true;
        }
        if ((entry & ~IdMask) == tag && NameOf(static_cast<TId>((entry & IdMask) - 1)) == name)
            return false;
    }
}

void TNameIndex::Grow() {
    std::vector<std::uint64_t> old(FSlots.size() * 2, 0);
    old.swap(FSlots);
    FUsed = 0;
    const std::size_t mask = FSlots.size() - 1;
    for (const std::uint64_t entry : old) {
        if (entry == 0)
            continue;
        const TId id = static_cast<TId>((entry & IdMask) - 1);
        std::size_t slot = SlotOf(HashOf(NameOf(id)));
        while (FSlots[slot] != 0)
            slot = (slot + 1) & mask;
        FSlots[slot] = entry;
        ++FUsed;
    }
}

bool TNameIndex::Add(std::string_view name) {
    const std::size_t id = FExisting.size() + FAddedEnds.size();
    if (id >= IdMask - 1)
        throw std::length_error("too many names");
    if ((FUsed + 1) * 2 > FSlots.size())
        Grow();
    // Stored before the table learns of it, so a failed allocation never
    // leaves a slot that points at a missing name.
    FAdded.append(name);
    FAddedEnds.push_back(FAdded.size());
    if (Insert(name, static_cast<TId>(id)))
        return true;
    FAddedEnds.pop_back();
    FAdded.resize(FAdded.size() - name.size());
    return false;
}

std::vector<std::string> TNameIndex::TakeAdded() {
    std::vector<std::uint64_t>().swap(FSlots);
    std::vector<std::string>().swap(FExisting);
    std::vector<std::string> names;
    names.reserve(FAddedEnds.size());
    std::size_t begin = 0;
    for (const std::size_t end : FAddedEnds) {
        names.emplace_back(FAdded, begin, end - begin);
        begin = end;
    }
    std::string().swap(FAdded);
    std::vector<std::size_t>().swap(FAddedEnds);
    FUsed = 0;
    return names;
}
