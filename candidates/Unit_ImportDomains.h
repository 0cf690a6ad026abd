#pragma once

#include "candidates/CandidateJob.h"
#include "candidates/DomainList.h"

#include <string>

// Adds every valid name of a text file (one name per line, GBK bytes) that the
// candidate list does not hold yet, in file order, in one update at the end.
//
// Lines end at LF, CR LF or a lone CR; a byte 0x1A ends the file wherever it
// stands; a UTF-8 byte-order mark at the very start is skipped, so the first
// name is kept. Bytes of code 32 or less are trimmed from both ends of a line;
// empty lines, names already met and names that fail IsValidDomain are
// skipped without a message.
//
// A file that cannot be opened or read, or exhausted memory, ends the job
// with the list unchanged and the reason in Error() ("Cannot open file ...",
// "Cannot read file ...", "out of memory").
class TImportDomains : public TCandidateJob {
    Q_OBJECT

public:
    // fileName: the path as the file system spells it. Call Start next.
    TImportDomains(std::string fileName, TDomainList& domainList);

    const std::string FileName;
    TDomainList& DomainList;

    // The job ended because the file could not be opened or read (Error()
    // says why), as opposed to exhausted memory.
    bool FileFailed() const { return FFileFailed; }

protected:
    void Execute() override;

private:
    [[noreturn]] void FailOnFile(const char* what, int error);

    bool FFileFailed = false;
};
