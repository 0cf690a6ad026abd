#include "candidates/Unit_ImportDomains.h"

#include "candidates/NameIndex.h"
#include "engine/Unit_Functions.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace {

// Large blocks keep the number of system calls small; a line longer than a
// block grows the buffer until the line fits.
constexpr std::size_t BlockSize = 1 << 20;
constexpr char EndOfFileMark = '\x1A';
constexpr std::string_view Utf8ByteOrderMark = "\xEF\xBB\xBF";

bool IsTrimmed(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

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

// Reads the file block by block and hands each line to the import rule as a
// view into the block, so a line costs no allocation of its own.
class TLineReader {
public:
    // onReadError: ends the job with the reason (errno) of a failed read;
    // onInvalid: hears of every line that holds no valid name.
    TLineReader(int fd, std::function<void(int)> onReadError,
                std::function<void(std::string_view)> onInvalid, TNameIndex& names)
        : FFd(fd), FOnReadError(std::move(onReadError)), FOnInvalid(std::move(onInvalid)),
          FNames(names), FBuffer(BlockSize) {}

    void ReadAll() {
        std::size_t kept = 0; // the start of a line the last block did not finish
        for (;;) {
            if (kept * 2 > FBuffer.size())
                FBuffer.resize(FBuffer.size() * 2);
            const std::size_t got = ReadSome(FBuffer.data() + kept, FBuffer.size() - kept);
            if (got == 0) {
                Line(std::string_view(FBuffer.data(), kept));
                return;
            }
            const std::string_view data(FBuffer.data(), kept + got);
            std::size_t begin = 0;
            for (std::size_t i = kept; i < data.size(); ++i) {
                const char c = data[i];
                if (c != '\n' && c != '\r' && c != EndOfFileMark)
                    continue;
                Line(data.substr(begin, i - begin));
                if (c == EndOfFileMark)
                    return;
                begin = i + 1;
            }
            begin = SkipLeadingBlanks(data, begin);
            kept = data.size() - begin;
            if (begin > 0 && kept > 0)
                std::memmove(FBuffer.data(), FBuffer.data() + begin, kept);
        }
    }

private:
    std::size_t ReadSome(char* into, std::size_t room) {
        for (;;) {
            const ssize_t got = ::read(FFd, into, room);
            if (got >= 0)
                return static_cast<std::size_t>(got);
            if (errno != EINTR)
                FOnReadError(errno);
        }
    }

    // Leading blanks of an unfinished line are trimmed anyway; dropping them
    // now keeps a file of blanks without line ends from filling memory.
    std::size_t SkipLeadingBlanks(std::string_view data, std::size_t begin) {
        const std::size_t first = begin;
        while (begin < data.size() && IsTrimmed(data[begin]))
            ++begin;
        // A mark behind blanks is not at the start of the file.
        if (begin != first)
            FFirstLine = false;
        return begin;
    }

    void Line(std::string_view line) {
        if (FFirstLine) {
            FFirstLine = false;
            if (line.starts_with(Utf8ByteOrderMark))
                line.remove_prefix(Utf8ByteOrderMark.size());
        }
        line = TrimText(line);
        // A tab ends the name: what follows is a note, such as the reason a
        // saved list of unknown names gives for each.
        line = TrimText(line.substr(0, line.find('\t')));
        if (line.empty())
            return;
        if (IsValidDomain(line))
            FNames.Add(line);
        else
            FOnInvalid(line);
    }

    int FFd;
    std::function<void(int)> FOnReadError;
    std::function<void(std::string_view)> FOnInvalid;
    TNameIndex& FNames;
    std::vector<char> FBuffer;
    bool FFirstLine = true;
};

} // namespace

TImportDomains::TImportDomains(std::string fileName, TDomainList& domainList,
                               std::size_t keepRejected)
    : FileName(std::move(fileName)), DomainList(domainList), FKeepRejected(keepRejected) {}

void TImportDomains::Reject(std::string_view line) {
    ++FRejectedCount;
    if (FRejectedLines.size() < FKeepRejected)
        FRejectedLines.emplace_back(line);
}

void TImportDomains::FailOnFile(const char* what, int error) {
    FFileFailed = true;
    throw std::runtime_error(std::string(what) + " \"" + FileName + "\". " +
                             std::generic_category().message(error));
}

void TImportDomains::Execute() {
    std::vector<std::string> added;
    {
        TFileHandle file(FileName);
        if (file.Fd() < 0)
            FailOnFile("Cannot open file", errno);
        TNameIndex names(ReadList(DomainList));
        TLineReader(
            file.Fd(), [this](int error) { FailOnFile("Cannot read file", error); },
            [this](std::string_view line) { Reject(line); }, names)
            .ReadAll();
        added = names.TakeAdded();
    }
    AppendToList(DomainList, added);
}
