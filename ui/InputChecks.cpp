#include "ui/InputChecks.h"

#include "engine/DomainName.h"
#include "engine/IntegerText.h"
#include "engine/Unit_Functions.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

// "请先输入生成条件表达式！"
constexpr const char* EmptyPatternMessage =
    "\xC7\xEB\xCF\xC8\xCA\xE4\xC8\xEB\xC9\xFA\xB3\xC9\xCC\xF5\xBC\xFE\xB1\xED\xB4\xEF\xCA\xBD\xA3"
    "\xA1";
// "生成条件表达式有误：大括号“{”和“}”不成对。"
constexpr const char* UnbalancedBracesMessage =
    "\xC9\xFA\xB3\xC9\xCC\xF5\xBC\xFE\xB1\xED\xB4\xEF\xCA\xBD\xD3\xD0\xCE\xF3\xA3\xBA\xB4\xF3\xC0"
    "\xA8\xBA\xC5\xA1\xB0{\xA1\xB1\xBA\xCD\xA1\xB0}\xA1\xB1\xB2\xBB\xB3\xC9\xB6\xD4\xA1\xA3";
// "生成条件表达式有误：生成的“", then the name, "”不是有效的域名（", the
// reason, "）。"
constexpr const char* NoDomainNameStart =
    "\xC9\xFA\xB3\xC9\xCC\xF5\xBC\xFE\xB1\xED\xB4\xEF\xCA\xBD\xD3\xD0\xCE\xF3\xA3\xBA\xC9\xFA\xB3"
    "\xC9\xB5\xC4\xA1\xB0";
constexpr const char* NoDomainNameMiddle =
    "\xA1\xB1\xB2\xBB\xCA\xC7\xD3\xD0\xD0\xA7\xB5\xC4\xD3\xF2\xC3\xFB\xA3\xA8";
constexpr const char* NoDomainNameEnd = "\xA3\xA9\xA1\xA3";
// "只生成了 " and " 个新域名，这个表达式生成不出更多不重复的域名。"
constexpr const char* ShortGenerationStart = "\xD6\xBB\xC9\xFA\xB3\xC9\xC1\xCB ";
constexpr const char* ShortGenerationEnd =
    " \xB8\xF6\xD0\xC2\xD3\xF2\xC3\xFB\xA3\xAC\xD5\xE2\xB8\xF6\xB1\xED\xB4\xEF\xCA\xBD\xC9\xFA\xB3"
    "\xC9\xB2\xBB\xB3\xF6\xB8\xFC\xB6\xE0\xB2\xBB\xD6\xD8\xB8\xB4\xB5\xC4\xD3\xF2\xC3\xFB\xA1\xA3";
// "查询线程数至少为 1，请输入一个大于0的整数。"
constexpr const char* ThreadCountBelowOneMessage =
    "\xB2\xE9\xD1\xAF\xCF\xDF\xB3\xCC\xCA\xFD\xD6\xC1\xC9\xD9\xCE\xAA 1\xA3\xAC\xC7\xEB\xCA\xE4\xC8"
    "\xEB\xD2\xBB\xB8\xF6\xB4\xF3\xD3\xDA"
    "0\xB5\xC4\xD5\xFB\xCA\xFD\xA1\xA3";
// "文件“", the path, "”中没有文本行，未导入任何域名。"
constexpr const char* NoTextLinesStart = "\xCE\xC4\xBC\xFE\xA1\xB0";
constexpr const char* NoTextLinesEnd =
    "\xA1\xB1\xD6\xD0\xC3\xBB\xD3\xD0\xCE\xC4\xB1\xBE\xD0\xD0\xA3\xAC\xCE\xB4\xB5\xBC\xC8\xEB\xC8"
    "\xCE\xBA\xCE\xD3\xF2\xC3\xFB\xA1\xA3";
// "导入 ", " 个域名，跳过 ", " 行"; each skipped line as "“line”：reason"
constexpr const char* ImportedStart = "\xB5\xBC\xC8\xEB ";
constexpr const char* ImportedMiddle = " \xB8\xF6\xD3\xF2\xC3\xFB\xA3\xAC\xCC\xF8\xB9\xFD ";
constexpr const char* ImportedEnd = " \xD0\xD0";
constexpr const char* QuoteOpen = "\xA1\xB0";
constexpr const char* QuoteCloseColon = "\xA1\xB1\xA3\xBA";
// "……": more skipped lines than the message lists
constexpr const char* MoreLines = "\xA1\xAD\xA1\xAD";

// Expansions are random: a pattern counts as making names when one of these
// many is a name.
constexpr int SampleExpansions = 20;
// The start of a file to import that is looked at for text.
constexpr qint64 TextHeadBytes = 64 * 1024;
// A name shown in a message is cut to this many bytes.
constexpr std::size_t ShownNameBytes = 80;

bool IsGbkLeadByte(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}

// Braces pair up, nested or not. The second byte of a Chinese character may
// be a brace's byte, so characters are stepped over whole.
bool BracesBalance(const std::string& pattern) {
    int depth = 0;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const auto c = static_cast<unsigned char>(pattern[i]);
        if (IsGbkLeadByte(c)) {
            ++i;
            continue;
        }
        if (c == '{')
            ++depth;
        else if (c == '}' && --depth < 0)
            return false;
    }
    return depth == 0;
}

// The first complete GBK characters of text, at most limit bytes of it.
std::string Shortened(const std::string& text, std::size_t limit = ShownNameBytes) {
    if (text.size() <= limit)
        return text;
    std::size_t end = 0;
    while (end < limit) {
        const std::size_t step = IsGbkLeadByte(static_cast<unsigned char>(text[end])) ? 2 : 1;
        if (end + step > limit)
            break;
        end += step;
    }
    return text.substr(0, end) + MoreLines;
}

} // namespace

std::string PatternProblem(const std::string& pattern, const TRegistryData& data) {
    if (pattern.empty())
        return EmptyPatternMessage;
    if (!BracesBalance(pattern))
        return UnbalancedBracesMessage;
    std::string firstName;
    std::string firstReason;
    for (int i = 0; i < SampleExpansions; ++i) {
        const std::string name = ExpandDomainPattern(pattern);
        const TCheckedName checked = CheckDomainName(name, data);
        if (checked.IsValid())
            return "";
        if (i == 0) {
            firstName = name;
            firstReason = checked.Reason;
        }
    }
    return NoDomainNameStart + Shortened(firstName) + NoDomainNameMiddle + firstReason +
           NoDomainNameEnd;
}

std::string ShortGenerationMessage(long long wanted, std::size_t made) {
    if (static_cast<long long>(made) >= wanted)
        return "";
    return ShortGenerationStart + std::to_string(made) + ShortGenerationEnd;
}

std::string ThreadCountProblem(const std::string& threadText) {
    const std::optional<std::int32_t> count = ParseIntegerText(threadText);
    return count && *count < 1 ? ThreadCountBelowOneMessage : "";
}

bool HeadHoldsTextLines(const std::string& head) {
    if (head.find('\0') != std::string::npos)
        return false;
    return std::any_of(head.begin(), head.end(),
                       [](char c) { return static_cast<unsigned char>(c) > ' '; });
}

bool FileMayHoldTextLines(const QString& path) {
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return true;
    return HeadHoldsTextLines(file.read(TextHeadBytes).toStdString());
}

std::string NoTextLinesMessage(const std::string& path) {
    return NoTextLinesStart + path + NoTextLinesEnd;
}

std::string ImportSummary(std::size_t added, std::size_t skipped,
                          const std::vector<std::string>& lines,
                          const std::vector<std::string>& reasons) {
    std::string summary = ImportedStart + std::to_string(added) + ImportedMiddle +
                          std::to_string(skipped) + ImportedEnd;
    const std::size_t listed = std::min(lines.size(), reasons.size());
    for (std::size_t i = 0; i < listed; ++i)
        summary.append("\n")
            .append(QuoteOpen)
            .append(Shortened(lines[i]))
            .append(QuoteCloseColon)
            .append(reasons[i]);
    if (skipped > listed)
        summary += std::string("\n") + MoreLines;
    return summary;
}
