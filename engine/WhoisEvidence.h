#pragma once

// What in a port-43 reply shows that a name is held. A registered name's
// record nearly always carries one registration fact: a creation, expiry or
// update date, a registrar, a name server, a status line, a holder or one of
// its contacts. A reply with none of them proves nothing, whatever it does not
// say; such a reply is read as unreadable, never as registered. The labels
// are read in the many layouts registries use: "Label: value", dot leaders,
// "[Label] value", "Label<blanks>value", "label#. . . value", rwhois's
// "domain:Label:value", and a label alone with its value on the next line.
// No Qt here; pure functions of the text.

#include <optional>
#include <string>
#include <string_view>

enum class TEvidenceKind { Date, Registrar, NameServer, Status, Holder };

struct TEvidence {
    TEvidenceKind Kind;
    // The reply's line that shows it, trimmed and cut to a short length.
    std::string Line;
};

// "date", "registrar", "name server", "status", "holder".
std::string_view EvidenceWord(TEvidenceKind kind);

// The first registration fact of reply (any case, GBK or ASCII), or none.
// Comment lines (beginning with '%', '#', ';' or '>') never count: they hold
// disclaimers and the time of the database, not the name's record.
std::optional<TEvidence> FindRegistrationEvidence(std::string_view reply);

// The longest line FirstMeaningfulLine returns; a longer one is cut.
inline constexpr std::size_t MeaningfulLineBytes = 200;
// What a reply says first: its first line that is neither blank, nor a
// comment, nor a ruler of punctuation; failing that its first non-blank line.
// Trimmed, tabs as blanks, cut to MeaningfulLineBytes; "" for a blank reply.
std::string FirstMeaningfulLine(std::string_view reply);
