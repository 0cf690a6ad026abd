#include "engine/RdapReading.h"
#include "engine/QueryDomain.h"
#include "tests/support/TestPaths.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

const std::string Base = "https://rdap.example/v1/";

std::string Sample(const std::string& file) {
    return testpaths::ReadFileBytes(testpaths::SourceDir() + "/data/rdap-samples/" + file);
}

// A reference moment for the answers: Fri, 05 Jun 2026 10:00:00 GMT.
std::chrono::system_clock::time_point Noon() {
    return std::chrono::system_clock::from_time_t(1780653600);
}

TRdapAnswer Answered(long status, std::string body, std::string url = Base + "domain/x") {
    TRdapAnswer answer;
    answer.End = TRdapEnd::Answered;
    answer.Status = status;
    answer.Body = std::move(body);
    answer.Base = Base;
    answer.Url = std::move(url);
    answer.Host = "rdap.example";
    answer.ReceivedAt = Noon();
    return answer;
}

TRdapAnswer WithHeaders(TRdapAnswer answer, std::string retryAfter, std::string date = "") {
    answer.RetryAfter = std::move(retryAfter);
    answer.Date = std::move(date);
    return answer;
}

TRdapAnswer Ended(TRdapEnd end, std::string body = "", long status = 0) {
    TRdapAnswer answer = Answered(status, std::move(body));
    answer.End = end;
    answer.Error = "SSL certificate problem: unable to get local issuer certificate";
    return answer;
}

// A domain object for name with the given members added.
std::string Domain(const std::string& name, const std::string& more = "") {
    return R"({"objectClassName":"domain","ldhName":")" + name + "\"" +
           (more.empty() ? "" : "," + more) + "}";
}

std::string Registrant(const std::string& email) {
    return R"("entities":[{"objectClassName":"entity","roles":["registrant"],
               "vcardArray":["vcard",[["version",{},"text","4.0"],["email",{},"text",")" +
           email + R"("]]]}])";
}

struct TReadingCase {
    const char* Name;
    TRdapAnswer Answer;
    std::string Asked;
    TVerdictKind Kind;
    TVerdictReason Reason;
    std::optional<std::chrono::seconds> Wait = std::nullopt;
    std::string RegTime = "";
    std::string ExpTime = "";
    std::string Email = "";
    std::string DetailHas = "";
};

class RdapReadingTest : public ::testing::TestWithParam<TReadingCase> {};

TEST_P(RdapReadingTest, VerdictAndFacts) {
    const TReadingCase& c = GetParam();
    const TRdapReading reading = ReadRdapAnswer(c.Answer, c.Asked);
    EXPECT_EQ(VerdictWord(reading.Verdict.Kind), VerdictWord(c.Kind));
    EXPECT_EQ(ReasonWord(reading.Verdict.Reason), ReasonWord(c.Reason));
    EXPECT_EQ(reading.Verdict.Wait, c.Wait);
    EXPECT_EQ(reading.RegTime, c.RegTime);
    EXPECT_EQ(reading.ExpTime, c.ExpTime);
    EXPECT_EQ(reading.Email, c.Email);
    EXPECT_NE(reading.Verdict.Detail.find(c.DetailHas), std::string::npos)
        << reading.Verdict.Detail;
}

using K = TVerdictKind;
using R = TVerdictReason;

INSTANTIATE_TEST_SUITE_P(
    Cases, RdapReadingTest,
    ::testing::Values(
        // Real answers of four registries.
        TReadingCase{"VerisignRedactedEmail",
                     Answered(200, Sample("registered-com-verisign-google.com.json")), "google.com",
                     K::Registered, R::Registered, std::nullopt, "1997-09-15T07 00 00Z",
                     "2028-09-13T07 00 00Z", ""},
        TReadingCase{"AfnicRegistrantEmail",
                     Answered(200, Sample("registered-fr-afnic-lemonde.fr.json")), "lemonde.fr",
                     K::Registered, R::Registered, std::nullopt, "2005-08-02T14 16 36Z",
                     "2025-06-09T22 08 09Z", "domain_names@lemonde.fr"},
        TReadingCase{"PirCapitalisedRoleNoOffset",
                     Answered(200, Sample("registered-org-pir-bitcoin.org.json")), "bitcoin.org",
                     K::Registered, R::Registered, std::nullopt, "2008-08-18T13 19 55Z",
                     "2029-08-18T13 19 55Z",
                     "2603423f6ed44178a3b9d728827aa19a.protect@whoisguard.com"},
        TReadingCase{"NewGtldEmailRemoved",
                     Answered(200, Sample("registered-click-microsoft.click.json")),
                     "microsoft.click", K::Registered, R::Registered, std::nullopt,
                     "2014-11-12T19 15 55Z", "2024-11-12T19 15 55Z", ""},
        TReadingCase{"NameInOtherCase",
                     Answered(200, Sample("registered-com-verisign-google.com.json")), "GOOGLE.COM",
                     K::Registered, R::Registered, std::nullopt, "1997-09-15T07 00 00Z",
                     "2028-09-13T07 00 00Z", ""},
        TReadingCase{"UnicodeNameAlone",
                     Answered(200, R"({"objectClassName":"domain","unicodeName":"Abc.Com."})"),
                     "abc.com", K::Registered, R::Registered},
        // Redaction in its several forms leaves no e-mail.
        TReadingCase{"EmailPlaceholder",
                     Answered(200, Domain("a.com", Registrant("REDACTED FOR PRIVACY"))), "a.com",
                     K::Registered, R::Registered},
        TReadingCase{"EmailRedactedAddress",
                     Answered(200, Domain("a.com", Registrant("redacted@redacted.invalid"))),
                     "a.com", K::Registered, R::Registered},
        TReadingCase{"EmailInRedactionList",
                     Answered(200, Domain("a.com", Registrant("proxy@privacy.example") +
                                                       R"(,"redacted":[{"name":{"type":
                                                       "Registrant Email"},"method":
                                                       "replacementValue"}])")),
                     "a.com", K::Registered, R::Registered},
        TReadingCase{"EmailAsMailtoUri",
                     Answered(200, Domain("a.com", Registrant("mailto:owner@a.com"))), "a.com",
                     K::Registered, R::Registered, std::nullopt, "", "", "owner@a.com"},
        TReadingCase{"OnlyTheRegistrantsEmail",
                     Answered(200, Domain("a.com", R"("entities":[{"roles":["registrar"],
                                 "vcardArray":["vcard",[["email",{},"text","r@reg.example"]]],
                                 "entities":[{"roles":["registrant"],"vcardArray":["vcard",
                                 [["email",{},"text","deep@a.com"]]]}]}])")),
                     "a.com", K::Registered, R::Registered, std::nullopt, "", "", "deep@a.com"},
        // Not found: only the suffix's own service can say so.
        TReadingCase{"NotFoundFromOwnBase", Answered(404, ""), "x.com", K::Free, R::None},
        TReadingCase{"NotFoundWithErrorBody",
                     Answered(404, R"({"errorCode":404,"title":"Not Found"})"), "x.com", K::Free,
                     R::None},
        TReadingCase{"NotFoundFromElsewhere",
                     Answered(404, "", "https://rdap.iana.org/domain/x.com"), "x.com", K::Unknown,
                     R::Failed, std::nullopt, "", "", "", "proves nothing"},
        // Just outside the base, read as the server reads the path.
        TReadingCase{"NotFoundOutsideTheBasesCase",
                     Answered(404, "", "https://rdap.example/V1/domain/x.com"), "x.com", K::Unknown,
                     R::Failed},
        TReadingCase{"NotFoundBehindAnEncodedDotDot",
                     Answered(404, "", "https://rdap.example/v1/%2e%2e/other/domain/x.com"),
                     "x.com", K::Unknown, R::Failed},
        TReadingCase{"NotFoundUnderTheBaseWrittenOtherwise",
                     Answered(404, "", "https://RDAP.example:443/v1/./%64omain/x.com"), "x.com",
                     K::Free, R::None},
        // Refusals and failures of the server.
        TReadingCase{"ThrottledSeconds", WithHeaders(Answered(429, ""), "120"), "x.com", K::Unknown,
                     R::Throttled, 120s, "", "", "", "wait 120 s"},
        TReadingCase{"ThrottledUntilServerDate",
                     WithHeaders(Answered(429, ""), "Fri, 05 Jun 2026 10:01:30 GMT",
                                 "Fri, 05 Jun 2026 10:00:00 GMT"),
                     "x.com", K::Unknown, R::Throttled, 90s},
        TReadingCase{"ThrottledUntilOurClock",
                     WithHeaders(Answered(429, ""), "Fri, 05 Jun 2026 10:00:45 GMT"), "x.com",
                     K::Unknown, R::Throttled, 45s},
        TReadingCase{"ThrottledWithoutWait", Answered(429, ""), "x.com", K::Unknown, R::Throttled},
        // A server clock beyond what ours can hold is not counted from.
        TReadingCase{"ThrottledServerDateOutOfRange",
                     WithHeaders(Answered(429, ""), "Fri, 05 Jun 2026 10:00:20 GMT",
                                 "Wed, 21 Oct 27510 0:28:00 GMT"),
                     "x.com", K::Unknown, R::Throttled, 20s},
        TReadingCase{"ThrottledServerDateLongPast",
                     WithHeaders(Answered(429, ""), "Fri, 05 Jun 2026 10:00:20 GMT",
                                 "Sat, 01 Jan 1600 00:00:00 GMT"),
                     "x.com", K::Unknown, R::Throttled, 20s},
        TReadingCase{"ServerError", Answered(500, ""), "x.com", K::Unknown, R::Unavailable,
                     std::nullopt, "", "", "", "HTTP 500"},
        TReadingCase{"Unavailable", Answered(503, "<html>"), "x.com", K::Unknown, R::Unavailable},
        TReadingCase{"BadRequest", Answered(400, ""), "x.com", K::Unknown, R::Failed},
        TReadingCase{"RedirectLeftStanding", Answered(302, ""), "x.com", K::Unknown, R::Failed},
        // A 200 that is no answer for the name.
        TReadingCase{"BadJson", Answered(200, "{\"objectClassName\":\"domain\","), "x.com",
                     K::Unknown, R::Failed, std::nullopt, "", "", "", "not RDAP JSON"},
        TReadingCase{"HtmlPage", Answered(200, "<html>rate limited</html>"), "x.com", K::Unknown,
                     R::Failed},
        TReadingCase{"JsonArray", Answered(200, "[]"), "x.com", K::Unknown, R::Failed},
        TReadingCase{"WrongName", Answered(200, Domain("other.com")), "x.com", K::Unknown,
                     R::Failed, std::nullopt, "", "", "", "for other.com, not x.com"},
        TReadingCase{"NotADomain",
                     Answered(200, R"({"objectClassName":"entity","ldhName":"x.com"})"), "x.com",
                     K::Unknown, R::Failed, std::nullopt, "", "", "", "not a domain object"},
        TReadingCase{"WrongTypesEverywhere",
                     Answered(200, Domain("x.com", R"("events":"soon","entities":7,
                                 "redacted":{"a":1})")),
                     "x.com", K::Registered, R::Registered},
        TReadingCase{"WrongTypesInside",
                     Answered(200, Domain("x.com", R"("events":[1,{"eventAction":2},
                                 {"eventAction":"registration","eventDate":1e308}],
                                 "entities":[null,{"roles":"registrant"},{"roles":[1,
                                 "registrant"],"vcardArray":["vcard",{"email":1}]}])")),
                     "x.com", K::Registered, R::Registered},
        // What ended the query when no answer arrived whole.
        TReadingCase{"CertificateNamed", Ended(TRdapEnd::Certificate), "x.com", K::Unknown,
                     R::Failed, std::nullopt, "", "", "", "certificate of rdap.example"},
        TReadingCase{"SizeBoundCuts", Ended(TRdapEnd::SizeBound, "{\"a\":"), "x.com", K::Unknown,
                     R::Cut},
        TReadingCase{"WholeBoundAfterBytes", Ended(TRdapEnd::WholeBound, "{", 200), "x.com",
                     K::Unknown, R::Cut},
        TReadingCase{"WholeBoundInSilence", Ended(TRdapEnd::WholeBound), "x.com", K::Unknown,
                     R::Failed, std::nullopt, "", "", "", "within 30 s"},
        TReadingCase{"BrokenBeforeAByte", Ended(TRdapEnd::Cut), "x.com", K::Unknown, R::Failed},
        TReadingCase{"RedirectRefused", Ended(TRdapEnd::RedirectRefused), "x.com", K::Unknown,
                     R::Failed}),
    [](const auto& info) { return info.param.Name; });

// The result line shows an RDAP date as the port-43 path shows the same ISO
// date, whatever offset or fraction the RDAP server wrote.
TEST(RdapDate, MatchesThePort43FormOfTheSameMoment) {
    EXPECT_EQ(FormatRdapDate("1997-09-15T07:00:00.000+0000"),
              ReadRegTime("Creation Date: 1997-09-15T07:00:00Z\r\n"));
    EXPECT_EQ(FormatRdapDate("2024-11-12T19:15:55.283Z"),
              ReadExpTime("Expiration Date: 2024-11-12T19:15:55Z\n"));
}

struct TDateCase {
    const char* Text;
    const char* Shown;
};

class RdapDateTest : public ::testing::TestWithParam<TDateCase> {};

TEST_P(RdapDateTest, ShownInUtc) {
    EXPECT_EQ(FormatRdapDate(GetParam().Text), GetParam().Shown) << GetParam().Text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RdapDateTest,
    ::testing::Values(TDateCase{"2005-08-02T14:16:36Z", "2005-08-02T14 16 36Z"},
                      TDateCase{"2005-08-02t14:16:36z", "2005-08-02T14 16 36Z"},
                      TDateCase{"2024-06-12T22:09:39.881923Z", "2024-06-12T22 09 39Z"},
                      TDateCase{"2008-08-18T13:19:55", "2008-08-18T13 19 55Z"},
                      TDateCase{"2021-01-01T02:00:00+08:00", "2020-12-31T18 00 00Z"},
                      TDateCase{"2020-12-31T22:30:00-0230", "2021-01-01T01 00 00Z"},
                      TDateCase{"2024-02-29T23:59:60Z", "2024-02-29T23 59 59Z"},
                      TDateCase{"2014-11-12", "2014-11-12"}, TDateCase{"2023-02-29T00:00:00Z", ""},
                      TDateCase{"2024-13-01T00:00:00Z", ""}, TDateCase{"2024-01-01T24:00:00Z", ""},
                      TDateCase{"2024-01-01T10:00:00.Z", ""},
                      TDateCase{"2024-01-01T10:00:00+25:00", ""},
                      TDateCase{"2024-01-01T10:00:00 junk", ""}, TDateCase{"Jan 5 2020", ""},
                      TDateCase{"", ""}));

struct TWaitCase {
    const char* Value;
    std::optional<std::chrono::seconds> Wait;
};

class RetryAfterTest : public ::testing::TestWithParam<TWaitCase> {};

TEST_P(RetryAfterTest, SecondsOrDate) {
    EXPECT_EQ(ReadRetryAfter(GetParam().Value, Noon()), GetParam().Wait) << GetParam().Value;
}

INSTANTIATE_TEST_SUITE_P(Cases, RetryAfterTest,
                         ::testing::Values(TWaitCase{"0", 0s}, TWaitCase{" 7 ", 7s},
                                           TWaitCase{"86400", 86400s}, TWaitCase{"86401", 86400s},
                                           TWaitCase{"99999999999999999999", 86400s},
                                           TWaitCase{"Fri, 05 Jun 2026 10:00:30 GMT", 30s},
                                           TWaitCase{"Friday, 05-Jun-26 10:02:00 GMT", 120s},
                                           TWaitCase{"Fri Jun  5 10:00:10 2026", 10s},
                                           TWaitCase{"Thu, 04 Jun 2026 10:00:00 GMT", 0s},
                                           TWaitCase{"Fri, 05 Jun 2099 10:00:00 GMT", 86400s},
                                           TWaitCase{"Wed, 21 Oct 27510 00:28:00 GMT", 86400s},
                                           TWaitCase{"Sat, 01 Jan 1600 00:00:00 GMT", 0s},
                                           TWaitCase{"-5", {}}, TWaitCase{"1.5", {}},
                                           TWaitCase{"soon", {}}, TWaitCase{"", {}}));

// Bodies of every bad shape are read without a throw, a crash or a hang.
TEST(RdapReading, SurvivesHostileBodies) {
    const std::vector<std::string> bodies = {
        std::string(200000, '[') + std::string(200000, ']'),
        R"({"objectClassName":"domain","ldhName":"x.com","a":)" + std::string(100000, '{'),
        R"({"objectClassName":"domain","ldhName":"x.com","n":1e99999,"m":-1e-99999})",
        R"({"objectClassName":"domain","ldhName":"x.com","n":)" + std::string(5000, '9') + "}",
        "{\"objectClassName\":\"domain\",\"ldhName\":\"x.com\xff\xfe\"}",
        std::string("{\"objectClassName\":\"domain\"\0,\"ldhName\":\"x.com\"}", 45),
        R"({"objectClassName":["domain"],"ldhName":{"x":"x.com"}})",
        R"({"objectClassName":"domain","ldhName":"x.com","entities":[{"roles":["registrant"],
           "vcardArray":["vcard",[["email"],["email",{},"text"],["email",{},"text",["a@b.c"]],
           ["email",{},"text","\u0000@\u00ff.example"]]]}]})",
        std::string(1 << 20, ' '),
        "",
        "null",
        "\"domain\"",
        "42",
    };
    for (const std::string& body : bodies) {
        const TRdapReading reading = ReadRdapAnswer(Answered(200, body), "x.com");
        EXPECT_NE(reading.Verdict.Kind, TVerdictKind::Free) << body.substr(0, 80);
        EXPECT_TRUE(reading.Email.empty() || reading.Email.find('@') != std::string::npos);
        (void)IndentRdapJson(body);
    }
}

TEST(RdapReading, IndentsJsonForPeopleAndRefusesWhatIsNone) {
    EXPECT_EQ(IndentRdapJson(R"({"ldhName":"a.com","status":["active"]})"),
              "{\n  \"ldhName\": \"a.com\",\n  \"status\": [\n    \"active\"\n  ]\n}");
    EXPECT_EQ(IndentRdapJson("{\"a\":"), "");
    EXPECT_EQ(IndentRdapJson(std::string(65, '[') + std::string(65, ']')), "");
    EXPECT_NE(IndentRdapJson(std::string(64, '[') + std::string(64, ']')), "");
}

} // namespace
