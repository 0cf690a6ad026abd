#include "batch/QueryWhois.h"

#include "engine/GbkCodec.h"
#include "engine/NameQuery.h"
#include "engine/QueryDomain.h"
#include "engine/RegistryData.h"
#include "engine/SecondLook.h"
#include "engine/ServerChoice.h"
#include "engine/Unit_Functions.h"

using namespace queryfields;

namespace {

constexpr std::string_view LF = "\n";
constexpr std::string_view CRLF = "\r\n";
constexpr std::string_view BlankLine = "\n\n";

// "Morvessa Brisvane → " and " 的查询结果"
constexpr std::string_view HeadingStart = "Morvessa Brisvane \xA1\xFA ";
constexpr std::string_view HeadingEnd = " \xB5\xC4\xB2\xE9\xD1\xAF\xBD\xE1\xB9\xFB";
// "确认：", before what the second source said of a free
constexpr std::string_view ConfirmationHeading = "\xC8\xB7\xC8\xCF\xA3\xBA";
// "：", between the heading and the verdict
constexpr std::string_view SummaryMark = "\xA3\xBA";

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
    text.append(facts.Domain).append(HeadingEnd);
    if (!facts.Summary.empty())
        text.append(SummaryMark).append(facts.Summary);
    text.append(BlankLine);
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
    const TRegistryData& data = RegistryData ? *RegistryData : *ProgramRegistryData().Data;
    const TNameQuerySettings settings{&data, ProtocolPreference, nullptr, Proxies.get(),
                                      std::nullopt};
    TNameAnswer answer = AskForName(Domain, settings);
    LookAgainNow(answer, settings);
    // A name the rule refuses makes no report, as before any query.
    if (answer.Settled && answer.Settled->Reason == TVerdictReason::InvalidName &&
        answer.Protocol == TQueryProtocol::None)
        return;
    QueryName = answer.Name.QueryName;
    WhoisServer = answer.Server;
    Protocol = answer.Protocol;
    ExchangeEnd = answer.Whois.End;
    ExchangeEndText = answer.EndText;
    WhoisInfo = answer.Reply;

    std::string fullText;
    if (answer.Protocol == TQueryProtocol::Rdap)
        fullText = RdapText(answer);
    else if (answer.Protocol == TQueryProtocol::Whois)
        fullText = WhoisText(answer.Whois);
    else
        fullText = answer.Settled->Detail;
    // A port-43 free that its confirmation did not bear out is unknown.
    if (answer.Settled)
        Verdict = *answer.Settled;
    if (!answer.Confirmation.empty())
        fullText.append("\n\n").append(ConfirmationHeading).append(answer.Confirmation);
    if (ShowIPAddress && !QueryName.empty())
        IPAddress = LookUpAddress();

    // An unknown RDAP answer, like a missing reply, gets the failure line.
    const bool failed = answer.Protocol != TQueryProtocol::Whois &&
                        (!answer.Settled || answer.Settled->Kind == TVerdictKind::Unknown);
    const std::size_t replyBytes = failed ? 0 : std::max(WhoisInfo.size(), MinReplyBytes);
    Report = ComposeWhoisReport(TWhoisReportFacts{
        Domain, answer.Protocol == TQueryProtocol::Whois ? WhoisInfo.size() : replyBytes, RegTime,
        ExpTime, IPAddress, Email, std::move(fullText), VerdictSummary(Verdict)});
}

std::string TQueryWhois::RdapText(const TNameAnswer& answer) {
    RegTime = answer.RdapReading->RegTime;
    ExpTime = answer.RdapReading->ExpTime;
    Email = answer.RdapReading->Email;
    std::string text;
    if (!answer.FallbackReason.empty())
        text = "port 43: " + answer.FallbackReason + "; asked over RDAP\n\n";
    text += "RDAP " + WhoisServer + ": " + answer.EndText + "\n\n";
    const std::string indented = IndentRdapJson(answer.Rdap->Body);
    return text + (indented.empty() ? WhoisInfo : Utf8ToGbk(indented));
}

std::string TQueryWhois::WhoisText(const TExchangeResult& firstAnswer) {
    std::string fullText = WhoisInfo;
    // The dates come from the first reply.
    RunOnUiThread([this] { GetRegTime(); });
    RunOnUiThread([this] { GetExpTime(); });

    // The referral is followed whenever the guard allows it; its reply takes
    // the first one's place, even when the exchange failed.
    ReferralServer = ReadReferralServer(WhoisInfo);
    std::string referralReply;
    if (ReferralServer.size() > MinReferralBytes) {
        TReferral referral = DecideReferral(ReferralServer);
        ReferralRefusal = ReferralRefusalText(referral);
        AskReferral(referral, QueryName, Proxies.get());
        if (referral.Allowed()) {
            referralReply = referral.Answer.Reply;
            WhoisInfo = referralReply;
        }
    }
    if (fullText != WhoisInfo)
        fullText.append(BlankLine).append(WhoisInfo);
    if (!ReferralRefusal.empty())
        fullText.append(BlankLine).append(ReferralRefusal);
    const TRegistryData* data =
        RegistryData ? RegistryData.get() : ProgramRegistryData().Data.get();
    WordingServer = ReadingServer(QueryName, WhoisServer, data);
    Verdict =
        ReadQueryVerdict(firstAnswer, WhoisServer, WordingServer, referralReply, ReferralServer);
    RunOnUiThread([this] { GetEmail(); });
    return fullText;
}

std::string TQueryWhois::LookUpAddress() const {
    return ResolveHost ? ResolveHost(QueryName) : GetHostIP(QueryName);
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
