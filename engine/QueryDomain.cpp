#include "engine/QueryDomain.h"

#include "engine/NameQuery.h"
#include "engine/RdapClient.h"
#include "engine/RegistryData.h"
#include "engine/Unit_Functions.h"

#include <initializer_list>

using namespace queryfields;

namespace {

constexpr std::string_view LF = "\n";

// "  查询失败了"
constexpr std::string_view QueryFailedText = "  \xB2\xE9\xD1\xAF\xCA\xA7\xB0\xDC\xC1\xCB";
// " 无返回信息 "
constexpr std::string_view NoInformationText = " \xCE\xDE\xB7\xB5\xBB\xD8\xD0\xC5\xCF\xA2 ";
constexpr std::string_view LineEndMark = "  <<<";
// "查询过于频繁"
constexpr std::string_view TooFrequentText = "\xB2\xE9\xD1\xAF\xB9\xFD\xD3\xDA\xC6\xB5\xB7\xB1";
// "未返回邮箱信息"
constexpr std::string_view NoEmailText = "\xCE\xB4\xB7\xB5\xBB\xD8\xD3\xCA\xCF\xE4\xD0\xC5\xCF\xA2";

constexpr std::string_view EmailPattern = R"([\w\d\-\.]+@[\w\d\-]+(\.[\w\d\-]+)+)";
constexpr std::string_view ExpiryNotice = "DISPLAYED IN THIS RECORD IS THE DATE THE";
constexpr std::size_t MaxEmailBytes = 120;

// A marker's value counts once it has this many bytes; until then the next
// marker is tried, and its value replaces the earlier one.
constexpr std::size_t SettledFieldBytes = 6;

std::string FirstSettledField(std::string_view reply,
                              std::initializer_list<std::string_view> markers) {
    std::string value;
    for (std::string_view marker : markers) {
        value = ExtractWhoisField(reply, marker, LF);
        if (value.size() >= SettledFieldBytes)
            break;
    }
    return value;
}

// Separators become single blanks; each replacement is one left-to-right pass.
std::string NormaliseDate(std::string_view value) {
    std::string date = ReplaceAllText(value, ":", " ");
    date = ReplaceAllText(date, ".", " ");
    date = ReplaceAllText(date, "  ", " ");
    return std::string(TrimText(UpperAscii(date)));
}

// Every field of a result line follows a FieldMark, and only when its flag is set.
void AppendShownField(std::string& line, bool shown, std::string_view label,
                      const std::string& value, std::size_t minBytes) {
    if (shown)
        AppendField(line, FieldMark, label, value, minBytes);
}

} // namespace

void queryfields::AppendField(std::string& line, std::string_view mark, std::string_view label,
                              std::string_view value, std::size_t minBytes) {
    if (value.size() <= minBytes)
        return;
    line.append(mark).append(label).append(value);
}

std::string queryfields::FailureLine(std::string_view domain) {
    std::string line(domain);
    line.append(QueryFailedText).append(LineEndMark);
    return line;
}

std::string ReadRegTime(std::string_view reply) {
    return NormaliseDate(
        FirstSettledField(reply, {"creation date", "registration date", "created on",
                                  "registered:", "created:", "activated:"}));
}

std::string ReadExpTime(std::string_view reply) {
    const std::string date =
        NormaliseDate(FirstSettledField(reply, {"expiration date", "expires on", "expire:"}));
    // Some registries follow the first "expiration date" with a notice instead
    // of a date; what is left after removing it stands as it is.
    return ReplaceAllText(date, ExpiryNotice, "");
}

std::string ReadEmail(std::string_view reply) {
    std::string email = FirstRegexMatch(reply, EmailPattern);
    email = ReplaceAllText(email, RateLimitAddress, TooFrequentText);
    if (email.size() > MaxEmailBytes)
        return std::string(NoEmailText);
    return email;
}

std::string ReadReferralServer(std::string_view reply) {
    const std::string lower = LowerAscii(reply);
    return std::string(TrimText(TextBefore(LF, TextAfter("whois server:", lower))));
}

std::string ComposeResultLine(const TQueryFacts& facts, const TDisplayFlags& flags) {
    std::string line;
    if (facts.ReplyBytes < MinReplyBytes)
        return FailureLine(facts.Domain);
    if (flags.ShowDomain)
        line = facts.Domain;
    AppendShownField(line, flags.ShowRegTime, RegTimeLabel, facts.RegTime, MinDateBytes);
    AppendShownField(line, flags.ShowExpTime, ExpTimeLabel, facts.ExpTime, MinDateBytes);
    AppendShownField(line, flags.ShowIPAddress, IPLabel, facts.IPAddress, MinAddressBytes);
    AppendShownField(line, flags.ShowEmail, EmailLabel, facts.Email, MinEmailBytes);
    if (line == facts.Domain)
        line.append(NoInformationText).append(LineEndMark);
    return line;
}

TQueryDomain::TQueryDomain(int index, std::string domain, TNoRegList* noRegList, bool showDomain,
                           bool showEmail, bool showIPAddress, bool showRegTime, bool showExpTime)
    : Index(index), Domain(std::move(domain)), NoRegList(noRegList), ShowDomain(showDomain),
      ShowEmail(showEmail), ShowIPAddress(showIPAddress), ShowRegTime(showRegTime),
      ShowExpTime(showExpTime),
      // What stands when the body ends before it has read a reply (an error
      // escaped it).
      Verdict{TVerdictKind::Unknown, TVerdictReason::Failed, std::nullopt,
              "the query did not finish"} {}

void TQueryDomain::Execute() {
    const TRegistryData& data = RegistryData ? *RegistryData : *ProgramRegistryData().Data;
    PausePoint();
    const TNameAnswer answer =
        AskForName(Domain, TNameQuerySettings{&data, ProtocolPreference, RdapConnections.get(),
                                              Proxies.get()});
    QueryName = answer.Name.QueryName;
    WhoisServer = answer.Server;
    Protocol = answer.Protocol;
    FallbackReason = answer.FallbackReason;
    ExchangeEnd = answer.Whois.End;
    ExchangeEndText = answer.EndText;
    ProxyKey = answer.ProxyKey;
    WhoisInfo = answer.Reply;
    if (answer.Protocol == TQueryProtocol::Rdap) {
        TakeRdapAnswer(answer);
    } else if (answer.Settled) {
        Verdict = *answer.Settled;
        // A name the rule refuses has no line; a suffix no one serves says so.
        if (Verdict.Reason != TVerdictReason::InvalidName)
            ResultLine = FailureLine(Domain);
        return;
    } else {
        ReadWhoisAnswer(answer.Whois);
    }
    // The free list hears of the domain before the result line is handed on.
    ReportIfFree();
}

void TQueryDomain::TakeRdapAnswer(const TNameAnswer& answer) {
    Verdict = *answer.Settled;
    RegTime = answer.RdapReading->RegTime;
    ExpTime = answer.RdapReading->ExpTime;
    Email = answer.RdapReading->Email;
    if (ShowIPAddress) {
        PausePoint();
        IPAddress = GetHostIP(QueryName);
    }
    if (Verdict.Kind == TVerdictKind::Unknown)
        ResultLine = FailureLine(Domain);
    else
        BuildResultLine();
}

void TQueryDomain::ReadWhoisAnswer(const TExchangeResult& firstAnswer) {
    // The dates always come from the first reply, whatever the flags.
    RunOnUiThread([this] { GetRegTime(); });
    RunOnUiThread([this] { GetExpTime(); });

    if (ShowEmail) {
        // The referral reply goes first so that its address wins.
        WhoisInfo = FollowReferral() + WhoisInfo;
        RunOnUiThread([this] { GetEmail(); });
    }
    if (ShowIPAddress) {
        PausePoint();
        IPAddress = GetHostIP(QueryName);
    }
    BuildResultLine();
    Verdict = ReadVerdict(firstAnswer);
}

std::string TQueryDomain::FollowReferral() {
    ReferralServer = ReadReferralServer(WhoisInfo);
    if (ReferralServer.size() <= MinReferralBytes)
        return "";
    TReferral referral = DecideReferral(ReferralServer);
    ReferralRefusal = ReferralRefusalText(referral);
    if (!referral.Allowed())
        return "";
    PausePoint();
    AskReferral(referral, QueryName, Proxies.get());
    return referral.Answer.Reply;
}

void TQueryDomain::ThreadRefused() {
    ResultLine = FailureLine(Domain);
    Verdict.Detail = Error();
}

TVerdict TQueryDomain::ReadVerdict(const TExchangeResult& firstAnswer) const {
    TVerdict verdict = ReadWhoisVerdict(firstAnswer, WhoisServer);
    // WhoisInfo holds the referral reply too when one was fetched; the
    // registrar's record of a held name outweighs the first reply's not-found
    // marker.
    if (verdict.Kind == TVerdictKind::Free && !IsDomainAvailable(WhoisInfo))
        return TVerdict{TVerdictKind::Registered, TVerdictReason::Registered, std::nullopt,
                        "the reply of " + ReferralServer + " shows it held"};
    return verdict;
}

void TQueryDomain::BuildResultLine() {
    ResultLine = ComposeResultLine(
        TQueryFacts{Domain, WhoisInfo.size(), RegTime, ExpTime, IPAddress, Email},
        TDisplayFlags{ShowDomain, ShowEmail, ShowIPAddress, ShowRegTime, ShowExpTime});
}

void TQueryDomain::ReportIfFree() {
    if (NoRegList == nullptr || Verdict.Kind != TVerdictKind::Free)
        return;
    RunOnUiThread([this] { NoRegList->Append(Domain); });
    // A separate step: another job's addition may come in between, and the
    // selection then falls on that later last line.
    RunOnUiThread([this] { NoRegList->Select(NoRegList->Count() - 1); });
}

void TQueryDomain::GetRegTime() {
    RegTime = ReadRegTime(WhoisInfo);
}

void TQueryDomain::GetExpTime() {
    ExpTime = ReadExpTime(WhoisInfo);
}

void TQueryDomain::GetEmail() {
    Email = ReadEmail(WhoisInfo);
}
