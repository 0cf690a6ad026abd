#pragma once

// What the commands that build candidate lists share: reading their command
// line, running a generation or import job to its end on a list model, and
// printing or saving the list.

#include "candidates/CandidateJob.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class TRegistryData;

// True for a lone "--help" or "-h".
bool AsksForHelp(const std::vector<std::string>& args);

// Says "program: message" on standard error; returns status, the command's
// exit status.
int FailCommand(const char* program, int status, const std::string& message);

// Starts job and runs the event loop until its completion handler has run.
// atEnd runs inside the handler, while the job still exists. Returns the
// job's error text ("" when it ended normally).
std::string RunCandidateJob(TCandidateJob* job,
                            const std::function<void(TCandidateJob&)>& atEnd = {});

// The lines of an imported file that hold no valid name: how many, and the
// first of them (GBK bytes, trimmed).
struct TSkippedLines {
    std::size_t Count = 0;
    std::vector<std::string> First;
    std::vector<std::string> Reasons; // why each of First is no name
};

// The candidates of a file, read by the import job into an empty list: valid
// names only, each once, in file order. "-" reads standard input. False with
// the reason in error when the file cannot be opened or read; fileFailed
// (when given) tells that apart from exhausted memory; skipped (when given)
// receives the count of invalid lines and the first keepSkipped of them.
// Names are checked against data (null: the program's own).
bool ImportCandidateFile(const std::string& path, std::vector<std::string>& names,
                         std::string& error, bool* fileFailed = nullptr,
                         TSkippedLines* skipped = nullptr, std::size_t keepSkipped = 0,
                         std::shared_ptr<const TRegistryData> data = nullptr);

// One line per entry on standard output, ended by LF: converted to UTF-8, or
// the GBK bytes as they are when gbk is set.
void PrintLines(const std::vector<std::string>& lines, bool gbk);

// Opens path for writing without truncating it, so that no work is done for
// nothing when the file cannot be created. False with the message.
bool CanCreateOutputFile(const std::string& path, std::string& error);
// Saves lines as GBK bytes, each followed by CR LF, replacing the file. False
// with the message ("Cannot create file ...") when that fails.
bool SaveCandidateFile(const std::string& path, const std::vector<std::string>& lines,
                       std::string& error);

// The end of a command that built a list: the lines printed as PrintLines
// does when to is empty, else saved to it as SaveCandidateFile does, with a
// note on standard error. The command's exit status: 0, or 1 when the file
// cannot be saved.
int PrintOrSaveCandidates(const char* program, const std::vector<std::string>& lines,
                          const std::string& to, bool gbk);
