#include "app/CliResultFormat.h"

#include "engine/GbkCodec.h"
#include "engine/QueryDomain.h"

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

TResultRecord RecordOfJob(const TQueryDomain& job) {
    const bool unknown = job.Verdict.Kind == TVerdictKind::Unknown;
    return TResultRecord{
        GbkToUtf8(job.Domain),
        std::string(VerdictWord(job.Verdict.Kind)),
        unknown ? std::string(ReasonWord(job.Verdict.Reason)) : std::string(),
        unknown ? GbkToUtf8(job.Verdict.Detail) : std::string(),
        GbkToUtf8(job.RegTime),
        GbkToUtf8(job.ExpTime),
        GbkToUtf8(job.Email),
        GbkToUtf8(job.IPAddress),
        GbkToUtf8(job.WhoisServer),
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
