#include "engine/QueryDomain.h"

#include "engine/DomainName.h"
#include "engine/NameQuery.h"
#include "engine/RdapClient.h"
#include "engine/RegistryData.h"
#include "engine/SecondLook.h"
#include "engine/ServerChoice.h"
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
// "未注册" "已注册" "未知"
constexpr std::string_view FreeText = "\xCE\xB4\xD7\xA2\xB2\xE1";
constexpr std::string_view RegisteredText = "\xD2\xD1\xD7\xA2\xB2\xE1";
constexpr std::string_view UnknownText = "\xCE\xB4\xD6\xAA";
// "（" "）" "，服务器要求等待 " " 秒"
constexpr std::string_view OpenParenthesis = "\xA3\xA8";
constexpr std::string_view CloseParenthesis = "\xA3\xA9";
constexpr std::string_view WaitAskedText =
    "\xA3\xAC\xB7\xFE\xCE\xF1\xC6\xF7\xD2\xAA\xC7\xF3\xB5\xC8\xB4\xFD ";
constexpr std::string_view SecondsText = " \xC3\xEB";
// "DNS" "区域文件"
constexpr std::string_view DnsSourceText = "DNS";
constexpr std::string_view ZoneSourceText = "\xC7\xF8\xD3\xF2\xCE\xC4\xBC\xFE";

// The reasons in the program's words; "" where the verdict says it all.
struct TReasonText {
    TVerdictReason Reason;
    std::string_view Text;
};
constexpr TReasonText ReasonTexts[] = {
    // "保留域名"
    {TVerdictReason::Reserved, "\xB1\xA3\xC1\xF4\xD3\xF2\xC3\xFB"},
    {TVerdictReason::Throttled, TooFrequentText},
    // "服务器暂时无法应答"
    {TVerdictReason::Unavailable,
     "\xB7\xFE\xCE\xF1\xC6\xF7\xD4\xDD\xCA\xB1\xCE\xDE\xB7\xA8\xD3\xA6\xB4\xF0"},
    // "查询失败"
    {TVerdictReason::Failed, "\xB2\xE9\xD1\xAF\xCA\xA7\xB0\xDC"},
    // "应答不完整"
    {TVerdictReason::Cut, "\xD3\xA6\xB4\xF0\xB2\xBB\xCD\xEA\xD5\xFB"},
    // "无效的查询名"
    {TVerdictReason::InvalidName, "\xCE\xDE\xD0\xA7\xB5\xC4\xB2\xE9\xD1\xAF\xC3\xFB"},
    // "不支持的后缀"
    {TVerdictReason::UnsupportedSuffix, "\xB2\xBB\xD6\xA7\xB3\xD6\xB5\xC4\xBA\xF3\xD7\xBA"},
    // "无法判断的回复"
    {TVerdictReason::Unreadable, "\xCE\xDE\xB7\xA8\xC5\xD0\xB6\xCF\xB5\xC4\xBB\xD8\xB8\xB4"},
    // "未经确认的未注册"
    {TVerdictReason::Unconfirmed,
     "\xCE\xB4\xBE\xAD\xC8\xB7\xC8\xCF\xB5\xC4\xCE\xB4\xD7\xA2\xB2\xE1"},
};

std::string_view VerdictText(TVerdictKind kind) {
    switch (kind) {
    case TVerdictKind::Free:
        return FreeText;
    case TVerdictKind::Registered:
        return RegisteredText;
    case TVerdictKind::Unknown:
        break;
    }
    return UnknownText;
}

std::string_view ReasonText(TVerdictReason reason) {
    for (const TReasonText& row : ReasonTexts) {
        if (row.Reason == reason)
            return row.Text;
    }
    return {};
}

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

// A registrar's record of a held name lists its name servers.
bool ListsNameServers(std::string_view reply) {
    return LowerAscii(reply).find("name server:") != std::string::npos;
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

std::string queryfields::ThrottledLine(std::string_view domain) {
    std::string line(domain);
    line.append("  ").append(TooFrequentText).append(LineEndMark);
    return line;
}

std::string queryfields::DecidedLine(std::string_view domain, TVerdictMethod method) {
    std::string line(domain);
    line.append("  ").append(RegisteredText).append(OpenParenthesis);
    line.append(method == TVerdictMethod::Zone ? ZoneSourceText : DnsSourceText);
    return line.append(CloseParenthesis);
}

std::string queryfields::VerdictSummary(const TVerdict& verdict) {
    std::string summary(VerdictText(verdict.Kind));
    const std::string_view reason = ReasonText(verdict.Reason);
    if (reason.empty())
        return summary;
    summary.append(OpenParenthesis).append(reason);
    if (verdict.Wait) {
        summary.append(WaitAskedText)
            .append(std::to_string(verdict.Wait->count()))
            .append(SecondsText);
    }
    return summary.append(CloseParenthesis);
}

std::string ReadRegTime(std::string_view reply) {
    return NormaliseDate(
        FirstSettledField(reply, {"creation date", "registration date", "created on",
                                  "registered:", "created:", "activated:"}));
}

std::string ReadExpTime(std::string_view reply) {
    // Today's gTLD replies say "Registry Expiry Date:"; it comes after the
    // older markers so that a reply that gave a date before gives the same.
    const std::string date = NormaliseDate(
        FirstSettledField(reply, {"expiration date", "expires on", "expire:", "expiry date"}));
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
    if (facts.UnknownReason == TVerdictReason::Throttled)
        return ThrottledLine(facts.Domain);
    if (facts.UnknownReason || facts.ReplyBytes < MinReplyBytes)
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

TVerdictMethod TQueryDomain::Method() const {
    if (DecidedBy != TVerdictMethod::None)
        return DecidedBy;
    switch (Protocol) {
    case TQueryProtocol::Whois:
        return TVerdictMethod::Whois;
    case TQueryProtocol::Rdap:
        return TVerdictMethod::Rdap;
    case TQueryProtocol::None:
        break;
    }
    return TVerdictMethod::None;
}

void TQueryDomain::Execute() {
    if (Settled) {
        Verdict = *Settled;
        BuildResultLine();
        return;
    }
    const TRegistryData& data = RegistryData ? *RegistryData : *ProgramRegistryData().Data;
    PausePoint();
    const TNameQuerySettings settings{&data,         ProtocolPreference, RdapConnections.get(),
                                      Proxies.get(), FirstProxy,         AskDnsWhenUnreadable,
                                      ConfirmFree};
    if (SecondLook)
        LookAgainAtFree(settings);
    else if (AskAndRead(settings) && Verdict.Kind == TVerdictKind::Free)
        AwaitSecondLook();
    // The free list hears of the domain before the result line is handed on.
    ReportIfFree();
}

bool TQueryDomain::AskAndRead(const TNameQuerySettings& settings) {
    const TNameAnswer answer = AskForName(Domain, settings);
    Confirmation = answer.Confirmation;
    QueryName = answer.Name.QueryName;
    WhoisServer = answer.Server;
    Protocol = answer.Protocol;
    FallbackReason = answer.FallbackReason;
    ExchangeEnd = answer.Whois.End;
    ExchangeEndText = answer.EndText;
    ProxyKey = answer.ProxyKey;
    ProxyIndex = answer.ProxyIndex;
    WhoisInfo = answer.Reply;
    if (answer.DecidedBy != TVerdictMethod::None) {
        // The reply proved nothing; the name servers' delegation decided it.
        DecidedBy = answer.DecidedBy;
        Verdict = *answer.Settled;
        ResultLine = DecidedLine(Domain, DecidedBy);
        return false;
    }
    if (answer.Protocol == TQueryProtocol::Rdap) {
        TakeRdapAnswer(answer);
        return false;
    }
    if (answer.Settled) {
        Verdict = *answer.Settled;
        // A name the rule refuses has no line; a suffix no one serves says so.
        if (Verdict.Reason != TVerdictReason::InvalidName)
            ResultLine = FailureLine(Domain);
        return false;
    }
    ReadWhoisAnswer(answer.Whois);
    return answer.NeedsSecondLook;
}

// A free no RDAP base confirms stands only after the batch's second look;
// the first query leaves the name unknown until then.
void TQueryDomain::AwaitSecondLook() {
    AwaitsSecondLook = true;
    Verdict = TVerdict{TVerdictKind::Unknown, TVerdictReason::Unconfirmed, std::nullopt,
                       WhoisServer + " said free; a second query follows"};
    BuildResultLine();
}

// The second look: the canary, the name again, the canary again, of the
// server the name is asked of.
void TQueryDomain::LookAgainAtFree(const TNameQuerySettings& settings) {
    const TCheckedName name = CheckDomainName(Domain, *settings.Data);
    const std::string server =
        name.IsValid()
            ? ChooseServer(name.QueryName, *settings.Data, settings.Preference).Route.Server
            : "";
    const std::string wording =
        name.IsValid() ? ReadingServer(name.QueryName, server, settings.Data) : server;
    const std::string canary =
        Canary.empty() || !name.IsValid() ? CanaryOfServerHost(wording, name.Suffix) : Canary;
    TSecondLookVerdict judged = LookAgain(
        server, canary,
        [&] {
            PausePoint();
            AskAndRead(settings);
            return Verdict;
        },
        [&](const std::string& canaryName) {
            PausePoint();
            return AskCanary(canaryName, server, wording, settings);
        });
    Verdict = std::move(judged.Verdict);
    Confirmation = std::move(judged.Confirmation);
    CaughtLying = judged.CaughtLying;
    if (WhoisServer.empty())
        WhoisServer = server;
    DecidedBy = TVerdictMethod::None;
    BuildResultLine();
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
    BuildResultLine();
}

void TQueryDomain::ReadWhoisAnswer(const TExchangeResult& firstAnswer) {
    // The dates always come from the first reply, whatever the flags.
    RunOnUiThread([this] { GetRegTime(); });
    RunOnUiThread([this] { GetExpTime(); });

    std::string referralReply;
    if (ShowEmail) {
        referralReply = FollowReferral();
        // The referral reply goes first so that its address wins.
        WhoisInfo = referralReply + WhoisInfo;
        RunOnUiThread([this] { GetEmail(); });
    }
    if (ShowIPAddress) {
        PausePoint();
        IPAddress = GetHostIP(QueryName);
    }
    const TRegistryData* data =
        RegistryData ? RegistryData.get() : ProgramRegistryData().Data.get();
    WordingServer = ReadingServer(QueryName, WhoisServer, data);
    Verdict =
        ReadQueryVerdict(firstAnswer, WhoisServer, WordingServer, referralReply, ReferralServer);
    BuildResultLine();
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

TVerdict ReadQueryVerdict(const TExchangeResult& firstAnswer, std::string_view askedServer,
                          std::string_view wordingServer, std::string_view referralReply,
                          std::string_view referralServer) {
    // An exchange that failed is the asked server's doing, whoever's wording
    // a reply would have been read with.
    const bool complete =
        firstAnswer.End == TExchangeEnd::Closed && firstAnswer.Reply.size() >= MinReplyBytes;
    TVerdict verdict = ReadWhoisVerdict(firstAnswer, complete ? wordingServer : askedServer);
    if (verdict.Kind == TVerdictKind::Free && ListsNameServers(referralReply))
        return TVerdict{TVerdictKind::Registered, TVerdictReason::Registered, std::nullopt,
                        "the reply of " + std::string(referralServer) + " shows it held"};
    return verdict;
}

void TQueryDomain::BuildResultLine() {
    TQueryFacts facts{Domain, WhoisInfo.size(), RegTime, ExpTime, IPAddress, Email};
    if (Verdict.Kind == TVerdictKind::Unknown)
        facts.UnknownReason = Verdict.Reason;
    ResultLine = ComposeResultLine(
        facts, TDisplayFlags{ShowDomain, ShowEmail, ShowIPAddress, ShowRegTime, ShowExpTime});
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
