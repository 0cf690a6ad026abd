#include "ui/QueryWhois.h"

#include "engine/QueryDomain.h"
#include "engine/Unit_Functions.h"
#include "engine/WhoisAsking.h"

using namespace queryfields;

namespace {

constexpr std::string_view LF = "\n";
constexpr std::string_view CRLF = "\r\n";
constexpr std::string_view BlankLine = "\n\n";

// "Morvessa Brisvane → " and " 的查询结果"
constexpr std::string_view HeadingStart = "Morvessa Brisvane \xA1\xFA ";
constexpr std::string_view HeadingEnd = " \xB5\xC4\xB2\xE9\xD1\xAF\xBD\xE1\xB9\xFB";

// The registration date opens the line, so it has no FieldMark before it.
std::string FieldLine(const TWhoisReportFacts& facts) {
    std::string line;
    AppendField(line, "", RegTimeLabel, facts.RegTime, MinDateBytes);
    AppendField(line, FieldMark, ExpTimeLabel, facts.ExpTime, MinDateBytes);
    AppendField(line, FieldMark, IPLabel, facts.IPAddress, MinAddressBytes);
    AppendField(line, FieldMark, EmailLabel, facts.Email, MinEmailBytes);
    return line;
}

std::string HeadingAndFields(const TWhoisReportFacts& facts) {
    std::string text(HeadingStart);
    text.append(facts.Domain).append(HeadingEnd).append(BlankLine);
    text.append(FieldLine(facts));
    return text;
}

} // namespace

std::string ComposeWhoisReport(const TWhoisReportFacts& facts) {
    std::string report =
        facts.ReplyBytes < MinReplyBytes ? FailureLine(facts.Domain) : HeadingAndFields(facts);
    report.append(BlankLine).append(facts.FullText);
    // Every LF, also one that already had a CR before it.
    return std::string(TrimText(ReplaceAllText(report, LF, CRLF)));
}

TQueryWhois::TQueryWhois(std::string domain, bool showIPAddress)
    : Domain(std::move(domain)), ShowIPAddress(showIPAddress) {}

void TQueryWhois::Execute() {
    if (!IsValidDomain(Domain))
        return;
    WhoisServer = GetWhoisServer(Domain);
    TWhoisAsking answer = AskWhoisServer(Domain, WhoisServer, Proxies.get());
    ExchangeEnd = answer.Answer.End;
    ExchangeEndText = answer.EndText;
    WhoisInfo = std::move(answer.Answer.Reply);
    std::string fullText = WhoisInfo;

    // The dates come from the first reply.
    RunOnUiThread([this] { GetRegTime(); });
    RunOnUiThread([this] { GetExpTime(); });

    // The referral is always followed; its reply takes the first one's place,
    // even when the exchange failed.
    ReferralServer = ReadReferralServer(WhoisInfo);
    if (ReferralServer.size() > MinReferralBytes)
        WhoisInfo = AskWhoisServer(Domain, ReferralServer, Proxies.get()).Answer.Reply;
    if (fullText != WhoisInfo)
        fullText.append(BlankLine).append(WhoisInfo);

    RunOnUiThread([this] { GetEmail(); });
    if (ShowIPAddress)
        IPAddress = LookUpAddress();

    Report = ComposeWhoisReport(TWhoisReportFacts{Domain, WhoisInfo.size(), RegTime, ExpTime,
                                                  IPAddress, Email, std::move(fullText)});
}

std::string TQueryWhois::LookUpAddress() const {
    return ResolveHost ? ResolveHost(Domain) : GetHostIP(Domain);
}

void TQueryWhois::GetRegTime() {
    RegTime = ReadRegTime(WhoisInfo);
}

void TQueryWhois::GetExpTime() {
    ExpTime = ReadExpTime(WhoisInfo);
}

void TQueryWhois::GetEmail() {
    Email = ReadEmail(WhoisInfo);
}
