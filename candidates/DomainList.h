#pragma once

#include <string>
#include <vector>

// The candidate list as the generation and import jobs see it. The list lives
// on the UI thread; jobs call these only through TJob::RunOnUiThread.
class TDomainList {
public:
    virtual ~TDomainList() = default;

    // Every entry, first to last.
    virtual std::vector<std::string> Items() const = 0;
    // Appends, in their order, the names the list does not hold yet (exact
    // byte comparison), in one update with one redraw. Entries already there,
    // duplicates among them included, stay as they are.
    virtual void AppendMissing(const std::vector<std::string>& names) = 0;
};
