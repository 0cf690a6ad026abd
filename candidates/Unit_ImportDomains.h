#pragma once

#include "candidates/CandidateJob.h"
#include "candidates/DomainList.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TRegistryData;

// Adds every valid name of a text file (one name per line, GBK bytes) that the
// candidate list does not hold yet, in file order, in one update at the end.
//
// Lines end at LF, CR LF or a lone CR; a byte 0x1A ends the file wherever it
// stands; a UTF-8 byte-order mark at the very start is skipped, so the first
// name is kept. Bytes of code 32 or less are trimmed from both ends of a line;
// empty lines and names already met are skipped without a word; lines that
// fail CheckDomainName (hyphens and internationalised names pass) are skipped
// too, and counted, the first few kept as they stood (trimmed) with the
// reason, so that the caller can say which and why. Names are kept as given;
// a line in UTF-8 holding non-ASCII characters is converted to GBK first.
// A name is met once by the name it is asked as (lower case, A-labels, wide
// forms folded), so "ABC.com" after "abc.com" (in the list or the file) is
// skipped: a batch asks and counts it once, and the list keeps the first
// spelling.
//
// A file that cannot be opened or read, or exhausted memory, ends the job
// with the list unchanged and the reason in Error() ("Cannot open file ...",
// "Cannot read file ...", "out of memory").
class TImportDomains : public TCandidateJob {
    Q_OBJECT

public:
    // fileName: the path as the file system spells it; keepRejected: how many
    // of the invalid lines to keep for RejectedLines. Call Start next.
    TImportDomains(std::string fileName, TDomainList& domainList, std::size_t keepRejected = 0);

    const std::string FileName;
    TDomainList& DomainList;
    // The data whose TLDs a name may end in, set before Start; null: the
    // program's own (ProgramRegistryData).
    std::shared_ptr<const TRegistryData> RegistryData;

    // The job ended because the file could not be opened or read (Error()
    // says why), as opposed to exhausted memory.
    bool FileFailed() const { return FFileFailed; }

    // The lines skipped because they are no valid name: how many, and the
    // first keepRejected of them in file order. Read them once the job ended.
    std::size_t RejectedCount() const { return FRejectedCount; }
    const std::vector<std::string>& RejectedLines() const { return FRejectedLines; }
    // Why each of RejectedLines is no name, in the same order.
    const std::vector<std::string>& RejectedReasons() const { return FRejectedReasons; }

protected:
    void Execute() override;

private:
    [[noreturn]] void FailOnFile(const char* what, int error);
    // What read(2) gave, retried when a signal interrupted it.
    std::size_t ReadSome(int fd, char* into, std::size_t room);

    void Reject(std::string_view line, std::string reason);

    bool FFileFailed = false;
    std::size_t FKeepRejected;
    std::size_t FRejectedCount = 0;
    std::vector<std::string> FRejectedLines;
    std::vector<std::string> FRejectedReasons;
};
