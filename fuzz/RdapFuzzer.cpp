// The reading of one RDAP answer: its body as a 200 for the name asked, its
// Retry-After and Date headers as a 429, the body printed for people, and
// the date form of the events.
//
// Input: the name asked, LF, the Retry-After value, LF, the Date value, LF,
// then the body. fuzz/run.sh seeds it with the RDAP samples behind their
// names.

#include "engine/RdapReading.h"
#include "fuzz/FuzzInput.h"

#include <chrono>
#include <string>

namespace {

constexpr std::chrono::seconds LongestWait = std::chrono::hours(24);

// "" or "2014-11-12" or "2014-11-12T19 15 55Z".
void CheckDateForm(const std::string& date) {
    FUZZ_EXPECT(date.empty() || date.size() == 10 || date.size() == 20);
    if (date.size() == 20)
        FUZZ_EXPECT(date[10] == 'T' && date[13] == ' ' && date[16] == ' ' && date[19] == 'Z');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto [name, afterName] = fuzzinput::FirstLineAndRest(fuzzinput::Text(data, size));
    const auto [retryAfter, afterRetry] = fuzzinput::FirstLineAndRest(afterName);
    const auto [date, body] = fuzzinput::FirstLineAndRest(afterRetry);

    TRdapAnswer answer;
    answer.End = TRdapEnd::Answered;
    answer.Status = 200;
    answer.Body = std::string(body);
    answer.Base = "https://rdap.example/";
    answer.Url = answer.Base + "domain/" + std::string(name);
    answer.Host = "rdap.example";
    answer.ReceivedAt = std::chrono::system_clock::time_point(std::chrono::hours(24 * 20000));

    const TRdapReading reading = ReadRdapAnswer(answer, name);
    if (reading.Verdict.Kind == TVerdictKind::Registered) {
        CheckDateForm(reading.RegTime);
        CheckDateForm(reading.ExpTime);
        FUZZ_EXPECT(reading.Email.size() <= 120);
        FUZZ_EXPECT(reading.Email.empty() || reading.Email.find('@') != std::string::npos);
    } else {
        FUZZ_EXPECT(reading.Verdict.Kind == TVerdictKind::Unknown);
        FUZZ_EXPECT(reading.RegTime.empty() && reading.ExpTime.empty() && reading.Email.empty());
    }
    IndentRdapJson(body);
    CheckDateForm(FormatRdapDate(retryAfter));
    CheckDateForm(FormatRdapDate(date));

    answer.Status = 429;
    answer.RetryAfter = std::string(retryAfter);
    answer.Date = std::string(date);
    const TRdapReading throttled = ReadRdapAnswer(answer, name);
    FUZZ_EXPECT(throttled.Verdict.Reason == TVerdictReason::Throttled);
    if (throttled.Verdict.Wait)
        FUZZ_EXPECT(throttled.Verdict.Wait->count() >= 0 && *throttled.Verdict.Wait <= LongestWait);
    return 0;
}
