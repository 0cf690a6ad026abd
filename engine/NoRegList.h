#pragma once

#include <string>

// The list that receives the free domains a query job finds. It lives on the
// UI thread; a job calls each operation through TJob::RunOnUiThread, one
// operation per call, so another job's call may come between two of them.
class TNoRegList {
public:
    virtual ~TNoRegList() = default;

    virtual void Append(const std::string& text) = 0;
    virtual int Count() const = 0;
    // Makes the item at index the selected one (the view follows it).
    virtual void Select(int index) = 0;
};
