#include "app/CliResultFormat.h"

#include "batch/BatchJournal.h"
#include "engine/GbkCodec.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace {

bool NeedsQuotes(std::string_view field) {
    return std::any_of(field.begin(), field.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return c == ',' || c == '"' || b < 0x20 || b == 0x7F;
    });
}

std::string CsvField(std::string_view field) {
    if (!NeedsQuotes(field))
        return std::string(field);
    std::string quoted = "\"";
    for (char c : field) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

template <class TFields> std::string CsvRowOf(const TFields& fields) {
    std::string row;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0)
            row += ',';
        row += CsvField(fields[i]);
    }
    return row + "\r\n";
}

} // namespace

std::optional<TResultFormat> ParseResultFormat(std::string_view word) {
    if (word == "text")
        return TResultFormat::Text;
    if (word == "csv")
        return TResultFormat::Csv;
    if (word == "jsonl")
        return TResultFormat::Jsonl;
    return std::nullopt;
}

TResultRecord RecordOfResult(const TBatchResult& result) {
    const bool unknown = result.Kind == TVerdictKind::Unknown;
    return TResultRecord{
        GbkToUtf8(result.Domain),
        std::string(VerdictWord(result.Kind)),
        unknown ? result.Reason : std::string(),
        unknown ? GbkToUtf8(result.Detail) : std::string(),
        GbkToUtf8(result.RegTime),
        GbkToUtf8(result.ExpTime),
        GbkToUtf8(result.Email),
        GbkToUtf8(result.IPAddress),
        GbkToUtf8(result.WhoisServer),
        result.Method,
    };
}

std::string CsvHeaderRow() {
    return CsvRowOf(ResultFieldNames);
}

std::string CsvRow(const TResultRecord& record) {
    return CsvRowOf(record);
}

std::string JsonLine(const TResultRecord& record) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (std::size_t i = 0; i < record.size(); ++i)
        object[std::string(ResultFieldNames[i])] = record[i];
    // The values are UTF-8 already; replace keeps a stray byte from ending the run.
    return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

std::string FormattedResult(const TBatchResult& result, TResultFormat format, bool gbk) {
    switch (format) {
    case TResultFormat::Csv:
        return CsvRow(RecordOfResult(result));
    case TResultFormat::Jsonl:
        return JsonLine(RecordOfResult(result));
    case TResultFormat::Text:
        break;
    }
    return (gbk ? result.ResultLine : GbkToUtf8(result.ResultLine)) + "\n";
}
