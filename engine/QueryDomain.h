#pragma once

// The job that queries one candidate domain and produces its result line.

#include "engine/Job.h"
#include "engine/NoRegList.h"
#include "engine/ServerChoice.h"
#include "engine/Verdict.h"
#include "engine/WhoisExchange.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class TProxyRotation;
class TRdapConnections;
class TRegistryData;
struct TNameAnswer;
struct TNameQuerySettings;

// Written before every labelled field of a result line: one user-defined
// character of code page 936 (U+E774 when decoded as GB18030).
inline constexpr std::string_view FieldMark = "\xA4\xF6";

// The query contact address a registrar's WHOIS service prints when it refuses
// to answer because of too many queries; a reply whose first e-mail address is
// this one is taken for such a refusal.
inline constexpr std::string_view RateLimitAddress = "whoisrequest@networksolutions.com";

// The pieces of a result line that the single-domain WHOIS report is made of
// too, so both say the same thing in the same bytes.
namespace queryfields {

// "注册时间:" "到期时间:" "IP:" "邮箱:"
inline constexpr std::string_view RegTimeLabel = "\xD7\xA2\xB2\xE1\xCA\xB1\xBC\xE4:";
inline constexpr std::string_view ExpTimeLabel = "\xB5\xBD\xC6\xDA\xCA\xB1\xBC\xE4:";
inline constexpr std::string_view IPLabel = "IP:";
inline constexpr std::string_view EmailLabel = "\xD3\xCA\xCF\xE4:";

// Fewer bytes than this is no reply at all.
inline constexpr std::size_t MinReplyBytes = 3;
// A value is shown only when longer than these.
inline constexpr std::size_t MinDateBytes = 4;
inline constexpr std::size_t MinAddressBytes = 6;
inline constexpr std::size_t MinEmailBytes = 6;
// A referral server name must be longer than this to be asked.
inline constexpr std::size_t MinReferralBytes = 5;

// Appends mark, label and value, but only when the value is longer than
// minBytes: a shorter one means nothing and is left out.
void AppendField(std::string& line, std::string_view mark, std::string_view label,
                 std::string_view value, std::size_t minBytes);

// What stands for a query without a reply: the domain, "  查询失败了", "  <<<".
std::string FailureLine(std::string_view domain);
// What stands for a query the server refused for too many queries: the
// domain, "  查询过于频繁", "  <<<".
std::string ThrottledLine(std::string_view domain);

// The line of a name decided before any registry was asked (by the TLD's
// name servers or a zone file): the domain, then "  已注册（DNS）" or
// "  已注册（区域文件）".
std::string DecidedLine(std::string_view domain, TVerdictMethod method);

// The verdict in the program's words, for the head of a report: "未注册",
// "已注册", "已注册（保留域名）", "未知（查询过于频繁，服务器要求等待 60 秒）".
std::string VerdictSummary(const TVerdict& verdict);

} // namespace queryfields

// What a query reads from a WHOIS reply. The batch job and the single-domain
// WHOIS job share these; each is a pure function of the reply text.
// The normalised registration date ("2009 03 01 10 20 30"), or "".
std::string ReadRegTime(std::string_view reply);
// The normalised expiry date, or "".
std::string ReadExpTime(std::string_view reply);
// The first e-mail address of the reply, or a message when it is the rate-limit
// address or longer than 120 bytes, or "".
std::string ReadEmail(std::string_view reply);
// The server named after "whois server:", lower-cased and trimmed, or "".
// Unlike the dates, the month names are left alone: they occur inside host
// names ("whois.markmonitor.com").
std::string ReadReferralServer(std::string_view reply);

// The five display flags, in the order the jobs take them.
struct TDisplayFlags {
    bool ShowDomain = true;
    bool ShowEmail = false;
    bool ShowIPAddress = false;
    bool ShowRegTime = true;
    bool ShowExpTime = true;
};

// What a result line is made of.
struct TQueryFacts {
    std::string Domain;
    std::size_t ReplyBytes = 0; // of the reply the line reports on
    std::string RegTime;
    std::string ExpTime;
    std::string IPAddress;
    std::string Email;
    // Set when the verdict is unknown: the line then says only that, never
    // what a refused or cut reply seemed to hold.
    std::optional<TVerdictReason> UnknownReason{};
};

// The result line: for an unknown verdict the too-frequent form when the
// server throttled and the failure form for every other reason; the failure
// form for a reply of fewer than 3 bytes; the no-information form when
// nothing but the domain would be shown; otherwise the domain (when shown) and
// the labelled fields long enough to mean something. Never ends with a line
// break.
std::string ComposeResultLine(const TQueryFacts& facts, const TDisplayFlags& flags);

class TQueryDomain : public TJob {
    Q_OBJECT

public:
    // noRegList is not owned and must outlive the job; it may be null (free
    // domains then go nowhere).
    TQueryDomain(int index, std::string domain, TNoRegList* noRegList, bool showDomain,
                 bool showEmail, bool showIPAddress, bool showRegTime, bool showExpTime);

    // The job's record. The creator sets the first fields and the flags; the
    // job writes the rest on its own thread (the dates and e-mail on the UI
    // thread). The completion handler is their only reader.
    int Index;
    std::string ResultLine;
    // The name as the user gave it (shown), and as it is asked: lower-case
    // ASCII, A-labels ("" for a name the rule refuses).
    std::string Domain;
    std::string QueryName;
    TNoRegList* NoRegList;
    // The server asked ("host", "host:port", or an RDAP base URL) and over
    // which protocol; None when no server was asked.
    std::string WhoisServer;
    TQueryProtocol Protocol = TQueryProtocol::None;
    // Why port 43 was given up for RDAP; "" when it was not.
    std::string FallbackReason;
    // The referral the first reply named, and why it was refused ("" when
    // it was followed, or none was named).
    std::string ReferralServer;
    std::string ReferralRefusal;
    std::string WhoisInfo;
    std::string RegTime;
    std::string ExpTime;
    std::string Email;
    std::string IPAddress;
    bool ShowDomain;
    bool ShowEmail;
    bool ShowIPAddress;
    bool ShowRegTime;
    bool ShowExpTime;
    // How the exchange with WhoisServer ended, and that in words ("no byte
    // for 15 s", "name lookup of whois.example failed"); OtherError until a
    // query was made.
    TExchangeEnd ExchangeEnd = TExchangeEnd::OtherError;
    std::string ExchangeEndText;
    // What the query decided: read from the first reply with ReadingServer's
    // wording, unless the referral reply shows the name held. Unknown until the
    // job has read a reply; only a Free verdict puts the name in NoRegList.
    TVerdict Verdict;
    // Set when the name was decided before any registry was asked: by the
    // TLD's name servers (WhoisServer then names the one that said so) or a
    // zone file. None: Protocol tells which registry answered.
    TVerdictMethod DecidedBy = TVerdictMethod::None;
    // Whether the TLD's name servers may decide the name when its reply
    // proves nothing (the batch sets it while DNS first is on).
    bool AskDnsWhenUnreadable = false;
    // Whether a port-43 free is confirmed before it stands: over RDAP, or
    // where no RDAP base can, by a second look.
    bool ConfirmFree = true;
    // Set by the batch for its second look at a name an earlier query read
    // free: the name is asked again, and beside it Canary, a name the server
    // answered registered in this batch ("" for the server's own name,
    // CanaryOfServerHost). A first query that read such a free sets
    // AwaitsSecondLook instead and ends unknown (unconfirmed) until then.
    bool SecondLook = false;
    std::string Canary;
    bool AwaitsSecondLook = false;
    // What the second source said of a free ("" when none was asked), and
    // whether the second look caught the server lying: a name it must know
    // as registered read otherwise.
    std::string Confirmation;
    bool CaughtLying = false;
    TVerdictMethod Method() const;
    // The server whose wording the reply was read with (ReadingServer of
    // ServerChoice): WhoisServer, or with TAVIREL_WHOIS_SERVER set the server
    // the suffix would have been asked.
    std::string WordingServer;
    // Set by the creator before Start. The registry data the name is checked
    // and routed with (null: the program's own, ProgramRegistryData), the
    // protocols the user allows, and the batch's RDAP connections (null: one
    // of the job's own), shared so they outlive every job that uses them.
    std::shared_ptr<const TRegistryData> RegistryData;
    TProtocolPreference ProtocolPreference = TProtocolPreference::Auto;
    std::shared_ptr<TRdapConnections> RdapConnections;
    // The batch's proxies, shared with its other jobs; null or empty: every
    // server is asked straight.
    std::shared_ptr<TProxyRotation> Proxies;
    // The proxy to ask through first, when usable: the batch picks it by
    // its pace for WhoisServer. Nothing: the next usable one in turn.
    std::optional<std::size_t> FirstProxy;
    // The masked URL of the proxy WhoisServer was asked through, or "", and
    // its place in the rotation.
    std::string ProxyKey;
    std::optional<std::size_t> ProxyIndex;
    // Set by the creator for a name not to be asked (its server asked to be
    // left alone longer than a batch waits): the job asks nothing and ends
    // with this unknown verdict.
    std::optional<TVerdict> Settled;

protected:
    ~TQueryDomain() override = default;
    void Execute() override;
    // The batch counts a name whose job never ran as a failed query.
    void ThreadRefused() override;

private:
    // Run on the UI thread, one at a time among all jobs.
    void GetRegTime();
    void GetExpTime();
    void GetEmail();

    void ReportIfFree();
    void BuildResultLine();
    void TakeRdapAnswer(const TNameAnswer& answer);
    void ReadWhoisAnswer(const TExchangeResult& firstAnswer);
    bool AskAndRead(const TNameQuerySettings& settings);
    void AwaitSecondLook();
    void LookAgainAtFree(const TNameQuerySettings& settings);
    // The referral reply, or "" when none was asked.
    std::string FollowReferral();
};

// The verdict of a query: read from the registry's (first) answer with
// wordingServer's wording, askedServer named where the exchange itself failed.
// The referral reply only adds facts, except that a registrar's record of a
// held name (referralReply holds "name server:") outweighs a not-found text.
TVerdict ReadQueryVerdict(const TExchangeResult& firstAnswer, std::string_view askedServer,
                          std::string_view wordingServer, std::string_view referralReply,
                          std::string_view referralServer);
