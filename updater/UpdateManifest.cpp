#include "updater/UpdateManifest.h"

#include "engine/IntegerText.h"
#include "updater/UpdaterText.h"

#include <QFile>
#include <QXmlStreamReader>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <functional>
#include <system_error>

namespace webupdater {

namespace {

std::string TrimLeftBlanks(std::string_view text) {
    size_t begin = 0;
    while (begin < text.size() && static_cast<unsigned char>(text[begin]) <= ' ')
        ++begin;
    return std::string(text.substr(begin));
}

QString TrimmedQ(const QString& value) {
    qsizetype begin = 0;
    qsizetype end = value.size();
    while (begin < end && value[begin].unicode() <= ' ')
        ++begin;
    while (end > begin && value[end - 1].unicode() <= ' ')
        --end;
    return value.mid(begin, end - begin);
}

// White space as the version scan knows it.
bool IsScanBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') ||
           c == QLatin1Char('\r');
}

// Blanks at both ends dropped, every inner run of them one space.
QString NormaliseWhiteSpace(QStringView text) {
    QString result;
    bool pendingBlank = false;
    for (const QChar c : text) {
        if (IsScanBlank(c)) {
            pendingBlank = !result.isEmpty();
            continue;
        }
        if (pendingBlank)
            result += QLatin1Char(' ');
        pendingBlank = false;
        result += c;
    }
    return result;
}

// A manifest value read as a path: "\" separates like "/".
QString ManifestPath(const QString& value) {
    QString path = TrimmedQ(value);
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return path;
}

// Goes through the manifest part by part, forward only, with the text parts
// exactly as stored. Reaching the end (or a part the reader cannot read) ends
// every later search too.
class TManifestScanner {
public:
    TManifestScanner(const QByteArray& xml, TUpdateReporter& report)
        : Reader_(xml), Report_(report) {}

    // Moves to the next part; false at the end.
    bool Next() {
        while (!Ended_) {
            const QXmlStreamReader::TokenType token = Reader_.readNext();
            if (token == QXmlStreamReader::Invalid || token == QXmlStreamReader::EndDocument) {
                Ended_ = true;
                return false;
            }
            // Without a declaration the reader still opens the document; that
            // is no part of the file.
            if (token == QXmlStreamReader::StartDocument && Reader_.documentVersion().isEmpty())
                continue;
            return true;
        }
        return false;
    }

    bool IsDeclaration() const { return Reader_.tokenType() == QXmlStreamReader::StartDocument; }
    bool IsTag(const char* name) const {
        return Reader_.tokenType() == QXmlStreamReader::StartElement &&
               Reader_.name() == QLatin1String(name);
    }
    const QXmlStreamReader& Reader() const { return Reader_; }

    bool FindTag(const char* name) {
        while (Next()) {
            if (IsTag(name)) {
                Report_.WriteLog(std::string("Parsing XML tag: ") + name);
                return true;
            }
        }
        return false;
    }

    std::optional<std::string> FindText() {
        while (Next()) {
            if (Reader_.tokenType() == QXmlStreamReader::Characters) {
                Report_.WriteLog("Parsing XML data");
                return QToGbk(Reader_.text().toString());
            }
            Report_.ReportError(2, " (XML Data Section)");
            Report_.WriteLog("Error parsing XML data");
        }
        return std::nullopt;
    }

private:
    QXmlStreamReader Reader_;
    bool Ended_ = false;
    TUpdateReporter& Report_;
};

void ReadDeclaration(TManifestScanner& scanner, TUpdateReporter& report) {
    bool declaration = false;
    while (!declaration && scanner.Next()) {
        if (scanner.IsDeclaration())
            declaration = true;
        else
            report.ReportError(2, "(  XML Head Section)");
    }
    if (declaration)
        report.WriteLog("Parsing XML Head section");
}

void ReadDetails(TManifestScanner& scanner, double appCurrentVer, TUpdateReporter& report,
                 TUpdateManifest& manifest) {
    scanner.FindTag("Updates");
    scanner.FindTag("Details");
    if (scanner.FindTag("ApplicationName"))
        if (auto text = scanner.FindText())
            manifest.ApplicationName = *text;
    if (scanner.FindTag("Author"))
        if (auto text = scanner.FindText())
            manifest.Author = *text;
    if (scanner.FindTag("Company"))
        if (auto text = scanner.FindText())
            manifest.Company = *text;
    if (scanner.FindTag("Version")) {
        if (auto text = scanner.FindText()) {
            manifest.PublishedVersionText = *text;
            manifest.PublishedVersion = ParseVersionText(*text);
            report.WriteLog("Application current version is: " + FormatNumber(appCurrentVer) +
                            kLfCr + "  Update version is: " + *text);
        }
    }
    scanner.FindTag("ChangeLog");
    manifest.ChangeLogLines.push_back(kLfCr);
    while (scanner.FindTag("Info")) {
        for (const QXmlStreamAttribute& attribute : scanner.Reader().attributes())
            if (attribute.name() == QLatin1String("Text"))
                manifest.ChangeLogLines.push_back(
                    TrimLeftBlanks(QToGbk(attribute.value().toString())));
    }
}

// Digits only, no sign, within range; none otherwise.
std::optional<std::int64_t> ParseByteCount(const QString& text) {
    if (text.isEmpty() || text.size() > 18)
        return std::nullopt;
    std::int64_t value = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + (c.unicode() - '0');
    }
    return value;
}

void ReadFileAttributes(TManifestScanner& scanner, TUpdateReporter& report,
                        TUpdateManifest& manifest) {
    auto entry = std::make_shared<TUpRec>();
    for (const QXmlStreamAttribute& attribute : scanner.Reader().attributes()) {
        const QString name = TrimmedQ(attribute.name().toString());
        if (name == QLatin1String("Name")) {
            const QString value = ManifestPath(attribute.value().toString());
            entry->Unsafe = entry->Unsafe || !IsSafeRelativePath(value);
            entry->Name = value;
        } else if (name == QLatin1String("Destination")) {
            QString value = ManifestPath(attribute.value().toString());
            while (value.endsWith(QLatin1Char('/')) && value.size() > 1)
                value.chop(1);
            value += QLatin1Char('/');
            if (value == QLatin1String("ApplicationFolder/"))
                value.clear();
            entry->Unsafe = entry->Unsafe || !IsSafeRelativePath(value);
            entry->Destination = value;
        } else if (name == QLatin1String("Sha256")) {
            entry->Sha256 = TrimmedQ(attribute.value().toString());
        } else if (name == QLatin1String("Size")) {
            entry->Size = ParseByteCount(TrimmedQ(attribute.value().toString()));
            entry->SizeUnreadable = !entry->Size;
        } else if (name == QLatin1String("Terminate")) {
            const QString value = TrimmedQ(attribute.value().toString());
            if (value == QLatin1String("yes")) {
                entry->Terminate = true;
                manifest.RestartFiles.push_back({entry->Name, entry});
                report.WriteLog("Adding files which require restart into the update list: " +
                                QToGbk(entry->Name));
            } else if (value == QLatin1String("no")) {
                entry->Terminate = false;
                manifest.NormalFiles.push_back({entry->Name, entry});
                report.WriteLog("Adding files into the update list: " + QToGbk(entry->Name));
            }
        }
    }
}

void ReadInstructions(TManifestScanner& scanner, TUpdateReporter& report,
                      TUpdateManifest& manifest) {
    scanner.FindTag("Instructions");
    while (scanner.FindTag("File"))
        ReadFileAttributes(scanner, report, manifest);
}

} // namespace

bool ReadUpdateManifest(const QString& path, double appCurrentVer, TUpdateReporter& report,
                        TUpdateManifest& manifest) {
    // A file that cannot be opened reads as an empty one: no part, no entry.
    QFile file(path);
    QByteArray xml;
    if (file.open(QIODevice::ReadOnly))
        xml = file.read(kMaxManifestBytes + 1);
    if (xml.size() > kMaxManifestBytes) {
        report.WriteLog("The manifest is larger than " + std::to_string(kMaxManifestBytes) +
                        " bytes and is not read.");
        report.ReportError(2, QToGbk(path));
        return false;
    }
    return ReadUpdateManifestXml(xml, appCurrentVer, report, manifest);
}

bool ReadUpdateManifestXml(const QByteArray& xml, double appCurrentVer, TUpdateReporter& report,
                           TUpdateManifest& manifest) {
    const size_t entriesBefore = manifest.NormalFiles.size() + manifest.RestartFiles.size();
    {
        TManifestScanner scanner(xml, report);
        ReadDeclaration(scanner, report);
        ReadDetails(scanner, appCurrentVer, report, manifest);
    }
    // The file entries are searched from the beginning again.
    TManifestScanner scanner(xml, report);
    ReadInstructions(scanner, report, manifest);
    return manifest.NormalFiles.size() + manifest.RestartFiles.size() > entriesBefore;
}

std::optional<std::string> ReadPublishedVersion(QXmlStreamReader& parser) {
    enum class Stage { Declaration, VersionTag, VersionText } stage = Stage::Declaration;
    while (!parser.atEnd()) {
        const QXmlStreamReader::TokenType token = parser.readNext();
        if (token == QXmlStreamReader::Invalid)
            break;
        switch (stage) {
        case Stage::Declaration:
            if (token == QXmlStreamReader::StartDocument && !parser.documentVersion().isEmpty())
                stage = Stage::VersionTag;
            break;
        case Stage::VersionTag:
            if (token == QXmlStreamReader::StartElement &&
                parser.name() == QLatin1String("Version"))
                stage = Stage::VersionText;
            break;
        case Stage::VersionText:
            if (token == QXmlStreamReader::Characters) {
                const QString text = NormaliseWhiteSpace(parser.text());
                if (!text.isEmpty())
                    return QToGbk(text);
            }
            break;
        }
    }
    // A file that simply ends (an empty or cut-off answer) holds no version;
    // anything else the scanner cannot read is a parse error.
    if (parser.hasError() && parser.error() != QXmlStreamReader::PrematureEndOfDocumentError)
        throw TUpdateError(QToGbk(parser.errorString()));
    return std::nullopt;
}

namespace {

// Why an entry is refused before anything is done for it; none when it is kept.
std::optional<std::string> RefusalReason(const TUpListItem& item, bool requireSha256) {
    const TUpRec& entry = *item.Entry;
    if (entry.Unsafe || !IsSafeRelativePath(item.ListedName))
        return "it points outside the application folder or holds characters a file name must "
               "not hold";
    if (entry.Sha256 && !IsSha256Text(*entry.Sha256))
        return "its Sha256 value is not 64 hexadecimal digits";
    if (!entry.Sha256 && requireSha256)
        return "it has no Sha256 digest, and one is required";
    if (entry.SizeUnreadable)
        return "its Size value is not a whole number of bytes";
    return std::nullopt;
}

void LogRefusal(TUpdateReporter& report, const TUpRec& entry, const std::string& why) {
    report.WriteLog("Refused file entry (" + why + "): " + QToGbk(entry.Name) +
                    "  Destination: " + QToGbk(entry.Destination));
    report.ReportError(1, QToGbk(entry.Name));
}

} // namespace

void RefuseUnsafeEntries(TUpdateReporter& report, TUpdateManifest& manifest, bool requireSha256) {
    auto refuse = [&](std::vector<TUpListItem>& list) {
        std::vector<TUpListItem> kept;
        for (TUpListItem& item : list) {
            if (const std::optional<std::string> why = RefusalReason(item, requireSha256))
                LogRefusal(report, *item.Entry, *why);
            else
                kept.push_back(std::move(item));
        }
        list = std::move(kept);
    };
    refuse(manifest.NormalFiles);
    refuse(manifest.RestartFiles);
}

void RefuseEntry(TUpdateReporter& report, TUpdateManifest& manifest, std::shared_ptr<TUpRec> entry,
                 const std::string& why) {
    LogRefusal(report, *entry, why);
    for (auto* list : {&manifest.NormalFiles, &manifest.RestartFiles})
        std::erase_if(*list, [&](const TUpListItem& item) { return item.Entry == entry; });
}

bool IsSha256Text(const QString& text) {
    if (text.size() != 64)
        return false;
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
               (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
               (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
    });
}

namespace {

// Characters a name may hold but must not begin or end with: a space of any
// kind is easily lost (a trim, a copy from a listing) and the name would then
// be another file's.
bool IsBlankAtAnEnd(QChar c) {
    return c.isSpace() || c.category() == QChar::Separator_Space ||
           c.category() == QChar::Separator_Line || c.category() == QChar::Separator_Paragraph;
}

bool HasBlankAtAnEnd(const QString& path) {
    for (const QString& segment : path.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        if (IsBlankAtAnEnd(segment.front()) || IsBlankAtAnEnd(segment.back()))
            return true;
    return false;
}

} // namespace

bool IsSafeRelativePath(const QString& path) {
    if (path.startsWith(QLatin1Char('/')) || path.contains(QLatin1String("..")))
        return false;
    static const QString kShellCharacters = QStringLiteral("\"'$`;&|<>\\");
    for (const char32_t c : path.toUcs4()) {
        const QChar::Category category = QChar::category(c);
        if (c < 0x20 || c == 0x7F || category == QChar::Other_Control)
            return false;
        // Invisible characters (zero-width spaces, direction marks, byte
        // order marks) and unassigned ones make two different names look alike.
        if (category == QChar::Other_Format || category == QChar::Other_NotAssigned)
            return false;
        if (c < 0x80 && kShellCharacters.contains(QChar(c)))
            return false;
    }
    return !HasBlankAtAnEnd(path);
}

double ParseVersionText(const std::string& text) {
    const std::string trimmed = TrimBlanks(text);
    double value = 0;
    const char* begin = trimmed.data();
    const char* end = begin + trimmed.size();
    const auto [stop, ec] = std::from_chars(begin, end, value, std::chars_format::general);
    if (trimmed.empty() || ec != std::errc() || stop != end || !std::isfinite(value))
        throw TUpdateError("'" + text + "' is not a valid floating point value");
    return value;
}

std::string FormatNumber(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.15g", value);
    return text;
}

int VersionToWholeNumber(double version) {
    const std::string text = FormatNumber(version * 1000);
    const std::optional<std::int32_t> number = ParseIntegerText(text);
    if (!number || text.find_first_not_of("-0123456789") != std::string::npos)
        throw TUpdateError(NotAnIntegerMessage(text));
    return *number;
}

std::string TrimBlanks(std::string_view text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ')
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ')
        --end;
    return std::string(text.substr(begin, end - begin));
}

} // namespace webupdater
