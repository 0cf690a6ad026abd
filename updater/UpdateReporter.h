#pragma once

// What every step of the update run reports through: the run's log, its
// error reports (the status text, the error notification) and its progress.
// The update run (TWebUpdater) is the one reporter; the steps take it by
// reference so that each can be read on its own.

#include <stdexcept>
#include <string>

// An error that ends the run where it stands and reaches the caller of RunUpdate.
class TUpdateError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TUpdateReporter {
public:
    // One log entry; throws TUpdateError when the log cannot be written.
    virtual void WriteLog(const std::string& message) = 0;
    // One row of the run's error table, with its detail.
    virtual void ReportError(int kind, const std::string& detail = {}) = 0;
    // Position out of 100.
    virtual void SetProgress(int position) = 0;

protected:
    ~TUpdateReporter() = default;
};

namespace webupdater {
// The separators the run writes: LF CR between the parts of a longer
// message, CR LF at the end of log lines, and the quotation mark.
inline const std::string kLfCr = "\n\r";
inline const std::string kCrLf = "\r\n";
inline const std::string kQm = "\"";
} // namespace webupdater
