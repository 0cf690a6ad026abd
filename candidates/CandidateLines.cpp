#include "candidates/CandidateLines.h"

#include "engine/Unit_Functions.h"

#include <cstring>
#include <vector>

namespace {

constexpr char EndOfFileMark = '\x1A';
constexpr std::string_view Utf8ByteOrderMark = "\xEF\xBB\xBF";

bool IsTrimmed(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

// Reads block by block and hands each line to onLine as a view into the
// block, so a line costs no allocation of its own.
class TLineReader {
public:
    TLineReader(const TReadSome& read, const std::function<void(std::string_view)>& onLine,
                std::size_t blockBytes)
        : FRead(read), FOnLine(onLine), FBuffer(blockBytes < 1 ? 1 : blockBytes) {}

    void ReadAll() {
        std::size_t kept = 0; // the start of a line the last block did not finish
        for (;;) {
            if (kept * 2 > FBuffer.size())
                FBuffer.resize(FBuffer.size() * 2);
            const std::size_t got = FRead(FBuffer.data() + kept, FBuffer.size() - kept);
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
        if (!line.empty())
            FOnLine(line);
    }

    const TReadSome& FRead;
    const std::function<void(std::string_view)>& FOnLine;
    std::vector<char> FBuffer;
    bool FFirstLine = true;
};

} // namespace

void ReadCandidateLines(const TReadSome& read, const std::function<void(std::string_view)>& onLine,
                        std::size_t blockBytes) {
    TLineReader(read, onLine, blockBytes).ReadAll();
}
