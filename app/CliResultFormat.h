#pragma once

// The forms in which `check` writes its results on standard output: the
// result lines as the window shows them, or one record per name as CSV
// (RFC 4180) or JSON lines, for other programs to read.

#include <array>
#include <optional>
#include <string>
#include <string_view>

struct TBatchResult;

enum class TResultFormat { Text, Csv, Jsonl };

// "text", "csv", "jsonl"; nothing for any other word.
std::optional<TResultFormat> ParseResultFormat(std::string_view word);

// The fields of a record, in column order; these names are the CSV header
// and the JSON keys, and stay as they are for the programs that read them.
inline constexpr std::array<std::string_view, 10> ResultFieldNames = {
    "domain",        // the name as the candidate list holds it
    "verdict",       // free, registered or unknown
    "reason",        // unknown only: failed, cut, throttled, ... (else empty)
    "detail",        // unknown only: why, in words ("no byte for 15 s")
    "creation_date", // as the reply gives it, normalised like the result line
    "expiry_date",   //
    "email",         // only when --show names email (it costs a referral query)
    "ip",            // only when --show names ip (it costs a name lookup)
    "server",        // the WHOIS server asked (the name server, the zone file)
    "method",        // dns, zone, whois or rdap: what decided it, or what was asked
};

// One record, values in UTF-8 in the order of ResultFieldNames.
using TResultRecord = std::array<std::string, ResultFieldNames.size()>;

// What a batch reported of a name, converted from the program's GBK.
TResultRecord RecordOfResult(const TBatchResult& result);

// The CSV header row and a record's row: fields quoted when they hold a
// comma, a quote, a control character or a line break, quotes doubled, each
// row ended by CR LF.
std::string CsvHeaderRow();
std::string CsvRow(const TResultRecord& record);
// One JSON object with every key (strings, "" where there is no value),
// ended by LF.
std::string JsonLine(const TResultRecord& record);

// A result as standard output carries it: the result line and LF (UTF-8, or
// its GBK bytes when gbk is set), or its CSV row or JSON line.
std::string FormattedResult(const TBatchResult& result, TResultFormat format, bool gbk);
