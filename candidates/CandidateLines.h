#pragma once

// The lines of a candidate file as the import reads them, from whatever hands
// the file's bytes over block by block. No Qt here; the import job reads a
// file with it, the tests and the fuzzer read memory.

#include <cstddef>
#include <functional>
#include <string_view>

// Puts up to room bytes of the file into `into` and returns how many, 0 at
// the end of the file; throws to end the reading.
using TReadSome = std::function<std::size_t(char* into, std::size_t room)>;

// Large blocks keep the number of system calls small; a line longer than a
// block grows the buffer until the line fits.
inline constexpr std::size_t CandidateBlockBytes = 1 << 20;

// Hands each line of the file to onLine, in file order, as a view that lives
// until onLine returns. Lines end at LF, CR LF or a lone CR; a byte 0x1A ends
// the file wherever it stands; a UTF-8 byte-order mark at the very start is
// skipped. Bytes of code 32 or less are trimmed from both ends of a line, and
// lines left empty are not handed on. How read splits the file into blocks,
// and blockBytes (at least 1), change nothing of what onLine hears.
void ReadCandidateLines(const TReadSome& read, const std::function<void(std::string_view)>& onLine,
                        std::size_t blockBytes = CandidateBlockBytes);
