#pragma once

// Reading the update manifest: its details, its change log and its file
// entries, found by searching forward for each tag; the refusal of entries
// that could reach outside the program's folder; and the version numbers.

#include "updater/UpdateReporter.h"

#include <QByteArray>
#include <QString>
#include <QXmlStreamReader>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One file entry of the manifest. Name and Destination are paths: Unicode,
// with "/" separators.
struct TUpRec {
    QString Name;
    QString Destination;    // "" for the program's folder, otherwise ends in "/"
    bool Terminate = false; // replaced only after the program has closed
    bool Unsafe = false;    // a Name or Destination value that could leave the program's folder
    // The digest the file must have, as the manifest wrote it (trimmed).
    std::optional<QString> Sha256;
    // The most bytes the file may have, from its Size attribute; a value
    // that is not a whole number of bytes has the entry refused.
    std::optional<std::int64_t> Size;
    bool SizeUnreadable = false;
};

// A list item: the entry, and its file name as it stood when it was added.
struct TUpListItem {
    QString ListedName;
    std::shared_ptr<TUpRec> Entry;
};

// What the manifest holds. The details keep what they held before when the
// manifest lacks them; the lists grow with every manifest read.
struct TUpdateManifest {
    std::string ApplicationName;
    std::string Author;
    std::string Company;
    std::optional<double> PublishedVersion;
    std::string PublishedVersionText;
    std::vector<std::string> ChangeLogLines;
    std::vector<TUpListItem> NormalFiles;
    std::vector<TUpListItem> RestartFiles;
};

namespace webupdater {

// The most bytes a manifest may have, the start-up check's and the run's alike.
inline constexpr std::int64_t kMaxManifestBytes = 4 * 1024 * 1024;
// The most bytes a listed file may have when its entry gives no Size.
inline constexpr std::int64_t kDefaultMaxFileBytes = 512LL * 1024 * 1024;

// Reads the manifest file into manifest, logging each tag found and
// reporting each part skipped on the way. True when it added a file entry;
// a file larger than kMaxManifestBytes is not read (reported, false).
// Throws TUpdateError for a version that is not a number.
bool ReadUpdateManifest(const QString& path, double appCurrentVer, TUpdateReporter& report,
                        TUpdateManifest& manifest);
// The same with the manifest's bytes in hand.
bool ReadUpdateManifestXml(const QByteArray& xml, double appCurrentVer, TUpdateReporter& report,
                           TUpdateManifest& manifest);

// The version text of the start-up check's manifest, from a parser that
// holds its bytes: the first text after the first "Version" tag following
// the XML declaration, white space normalised; none when there is none.
// Throws TUpdateError for a document the scanner cannot read.
std::optional<std::string> ReadPublishedVersion(QXmlStreamReader& parser);

// A manifest comes from the network: an entry that could reach outside the
// program's folder, or change the meaning of the restart script, is dropped
// (logged and reported) before anything is downloaded, copied or written;
// so is one whose digest is not 64 hexadecimal digits, and, when digests are
// required, one without a digest.
void RefuseUnsafeEntries(TUpdateReporter& report, TUpdateManifest& manifest, bool requireSha256);
// Drops an entry from both lists, logging why and reporting its name as a
// copy that was not made (kind 1).
void RefuseEntry(TUpdateReporter& report, TUpdateManifest& manifest, std::shared_ptr<TUpRec> entry,
                 const std::string& why);

// 64 hexadecimal digits, in either case.
bool IsSha256Text(const QString& text);

// A manifest value (already with "/" separators) that may name a file or a
// folder below the program's folder: not absolute, no "..", no control
// character and nothing a shell would read as more than a word.
bool IsSafeRelativePath(const QString& path);
// The number a version text stands for, "." as decimal separator whatever
// the locale; throws TUpdateError when it is not a number.
double ParseVersionText(const std::string& text);
// A double as the program writes numbers: up to 15 significant digits.
std::string FormatNumber(double value);
// The version times 1000 as a whole number; throws TUpdateError when it is
// not one (more than three decimals, or out of range).
int VersionToWholeNumber(double version);

// Every byte up to and including the space trimmed from both ends.
std::string TrimBlanks(std::string_view text);

} // namespace webupdater
