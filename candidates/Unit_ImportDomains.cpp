#include "candidates/Unit_ImportDomains.h"

#include "candidates/CandidateLines.h"
#include "candidates/NameIndex.h"
#include "engine/DomainName.h"
#include "engine/GbkCodec.h"
#include "engine/RegistryData.h"
#include "engine/Unit_Functions.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace {

class TFileHandle {
public:
    explicit TFileHandle(const std::string& fileName)
        : FFd(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~TFileHandle() {
        if (FFd >= 0)
            ::close(FFd);
    }
    TFileHandle(const TFileHandle&) = delete;
    TFileHandle& operator=(const TFileHandle&) = delete;
    int Fd() const { return FFd; }

private:
    int FFd;
};

// The names a list's entries are asked as (an entry the rule refuses stands
// as it is), so that a name is met once however it is written.
std::vector<std::string> QueryNamesOf(std::vector<std::string> entries, const TRegistryData& data) {
    for (std::string& entry : entries) {
        TCheckedName checked = CheckDomainName(entry, data);
        if (checked.IsValid())
            entry = std::move(checked.QueryName);
    }
    return entries;
}

} // namespace

TImportDomains::TImportDomains(std::string fileName, TDomainList& domainList,
                               std::size_t keepRejected)
    : FileName(std::move(fileName)), DomainList(domainList), FKeepRejected(keepRejected) {}

void TImportDomains::Reject(std::string_view line, std::string reason) {
    ++FRejectedCount;
    if (FRejectedLines.size() < FKeepRejected) {
        FRejectedLines.emplace_back(line);
        FRejectedReasons.push_back(std::move(reason));
    }
}

void TImportDomains::FailOnFile(const char* what, int error) {
    FFileFailed = true;
    throw std::runtime_error(std::string(what) + " \"" + FileName + "\". " +
                             std::generic_category().message(error));
}

std::size_t TImportDomains::ReadSome(int fd, char* into, std::size_t room) {
    for (;;) {
        const ssize_t got = ::read(fd, into, room);
        if (got >= 0)
            return static_cast<std::size_t>(got);
        if (errno != EINTR)
            FailOnFile("Cannot read file", errno);
    }
}

void TImportDomains::Execute() {
    const TRegistryData& data = RegistryData ? *RegistryData : *ProgramRegistryData().Data;
    // The first spelling of each name asked.
    std::vector<std::string> added;
    {
        TFileHandle file(FileName);
        if (file.Fd() < 0)
            FailOnFile("Cannot open file", errno);
        TNameIndex asked(QueryNamesOf(ReadList(DomainList), data));
        ReadCandidateLines(
            [&](char* into, std::size_t room) { return ReadSome(file.Fd(), into, room); },
            [&](std::string_view line) {
                // A tab ends the name: what follows is a note, such as the
                // reason a saved list of unknown names gives for each.
                line = TrimText(line.substr(0, line.find('\t')));
                if (line.empty())
                    return;
                // A line in UTF-8 (a file saved by another program) holds its
                // name in GBK from here on, as every list does.
                std::string converted;
                if (IsUtf8Text(line)) {
                    converted = Utf8ToGbk(line);
                    line = converted;
                }
                TCheckedName checked = CheckDomainName(line, data);
                if (!checked.IsValid())
                    Reject(line, std::move(checked.Reason));
                else if (asked.Add(checked.QueryName))
                    added.emplace_back(line);
            });
    }
    AppendToList(DomainList, added);
}
