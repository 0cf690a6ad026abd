#include "engine/NameQuery.h"

#include "engine/GbkCodec.h"
#include "engine/ProxiedRdap.h"
#include "engine/RdapClient.h"
#include "engine/RegistryData.h"
#include "engine/Unit_Functions.h"
#include "engine/WhoisAsking.h"
#include "engine/dns/DelegationCheck.h"

namespace {

TVerdict UnknownFor(TVerdictReason reason, std::string detail) {
    return TVerdict{TVerdictKind::Unknown, reason, std::nullopt, std::move(detail)};
}

// Why no server is asked about a name whose route is none.
std::string NoServerText(const TNameAnswer& answer, TProtocolPreference preference) {
    const std::string suffix = "." + answer.Name.Suffix;
    switch (preference) {
    case TProtocolPreference::Whois:
        return "no port-43 server is known for " + suffix;
    case TProtocolPreference::Rdap:
        return "no RDAP service is known for " + suffix;
    case TProtocolPreference::Auto:
        break;
    }
    return "no WHOIS or RDAP server is known for " + suffix;
}

// A redirect of an RDAP query may only reach what a referral may reach.
bool RedirectAllowed(const std::string& host) {
    return CheckReferral(host).Allowed;
}

void AskWhois(TNameAnswer& answer, const std::string& server, const TNameQuerySettings& settings) {
    answer.Protocol = TQueryProtocol::Whois;
    answer.Server = server;
    TWhoisAsking asked =
        AskWhoisServer(answer.Name.QueryName, server, settings.Proxies, settings.FirstProxy);
    answer.Whois = std::move(asked.Answer);
    answer.Reply = answer.Whois.Reply;
    answer.EndText = std::move(asked.EndText);
    answer.ProxyKey = std::move(asked.ProxyKey);
    answer.ProxyIndex = asked.ProxyIndex;
    if (asked.NoUsableProxy)
        answer.Settled = UnknownFor(TVerdictReason::Failed, answer.EndText);
}

void AskRdap(TNameAnswer& answer, const std::string& base, const TNameQuerySettings& settings) {
    TRdapRequest request;
    request.Base = base;
    request.Name = answer.Name.QueryName;
    request.Guard = RedirectAllowed;
    std::optional<TProxyPick> served;
    TRdapAnswer rdap = QueryRdapThroughRotation(request, settings.Connections, settings.Proxies,
                                                settings.FirstProxy, &served);
    answer.ProxyKey = served ? *served->Key : "";
    answer.ProxyIndex = served ? std::optional<std::size_t>(served->Index) : std::nullopt;
    answer.Protocol = TQueryProtocol::Rdap;
    answer.Server = rdap.Base.empty() ? RdapBaseToAsk(base) : rdap.Base;
    answer.RdapReading = ReadRdapAnswer(rdap, answer.Name.QueryName, request.Bounds);
    answer.Settled = answer.RdapReading->Verdict;
    answer.Reply = Utf8ToGbk(rdap.Body);
    answer.EndText = DescribeRdapEnd(rdap, request.Bounds);
    answer.Rdap = std::move(rdap);
}

// A port-43 service that cannot answer for the suffix at all, as opposed to
// one that failed this once: no such server, no one listening, or its own
// "not supported". Empty when it answered.
std::string FailedForGood(const TNameAnswer& answer, const TVerdict& verdict) {
    const TExchangeEnd end = answer.Whois.End;
    if (end == TExchangeEnd::NameLookupFailed || end == TExchangeEnd::Refused)
        return answer.EndText;
    if (verdict.Reason == TVerdictReason::UnsupportedSuffix)
        return answer.Server + " does not serve ." + answer.Name.Suffix;
    return "";
}

// What the port-43 exchange left in the answer, kept while RDAP is asked.
struct TWhoisPart {
    std::string Server;
    std::string Reply;
    std::string EndText;
    std::string ProxyKey;
    std::optional<std::size_t> ProxyIndex;
};

TWhoisPart WhoisPartOf(const TNameAnswer& answer) {
    return TWhoisPart{answer.Server, answer.Reply, answer.EndText, answer.ProxyKey,
                      answer.ProxyIndex};
}

void RestoreWhoisPart(TNameAnswer& answer, TWhoisPart part) {
    answer.Protocol = TQueryProtocol::Whois;
    answer.Server = std::move(part.Server);
    answer.Reply = std::move(part.Reply);
    answer.EndText = std::move(part.EndText);
    answer.ProxyKey = std::move(part.ProxyKey);
    answer.ProxyIndex = part.ProxyIndex;
    answer.Rdap.reset();
    answer.RdapReading.reset();
}

// A complete reply that proves nothing is asked another way before the name
// is reported: RDAP decides it when it answers free (404 from the suffix's own
// base) or registered (the domain object); anything else leaves it unreadable,
// with what both said.
void AskAnotherWay(TNameAnswer& answer, const TVerdict& unreadable,
                   const TNameQuerySettings& settings) {
    TWhoisPart whois = WhoisPartOf(answer);
    const std::string why = whois.Server + " sent a reply no rule can read: " + unreadable.Detail;
    AskRdap(answer, answer.Choice.RdapBase, settings);
    const TVerdict& rdap = *answer.Settled;
    if (rdap.Kind != TVerdictKind::Unknown) {
        answer.FallbackReason = why;
        return;
    }
    const std::string rdapText = "RDAP " + answer.Server + ": " +
                                 std::string(ReasonWord(rdap.Reason)) +
                                 (rdap.Detail.empty() ? "" : ", " + rdap.Detail);
    RestoreWhoisPart(answer, std::move(whois));
    answer.Settled = UnknownFor(TVerdictReason::Unreadable, unreadable.Detail + "; " + rdapText);
}

// A reply that proves nothing, of a name the TLD's own name servers
// delegate: registered (method dns), and nothing else is asked. No
// delegation decides nothing, and the reply goes on as it was.
bool DecidedByDelegation(TNameAnswer& answer) {
    const TDelegation delegation = AskDelegation(answer.Name.QueryName);
    if (!delegation.Delegated)
        return false;
    TVerdict registered;
    registered.Kind = TVerdictKind::Registered;
    registered.Reason = TVerdictReason::Registered;
    registered.Detail = delegation.Detail;
    answer.Settled = std::move(registered);
    answer.DecidedBy = TVerdictMethod::Dns;
    return true;
}

// A port-43 free stands only when the suffix's own RDAP base agrees (404): a
// registry under load may answer "not found" for a taken name. The port-43
// reply stays the one shown either way.
void ConfirmOverRdap(TNameAnswer& answer, const TNameQuerySettings& settings) {
    TWhoisPart whois = WhoisPartOf(answer);
    AskRdap(answer, answer.Choice.RdapBase, settings);
    const TVerdict rdap = *answer.Settled;
    const std::string rdapText = "RDAP " + answer.Server + ": " +
                                 std::string(VerdictWord(rdap.Kind)) +
                                 (rdap.Detail.empty() ? "" : " (" + rdap.Detail + ")");
    RestoreWhoisPart(answer, std::move(whois));
    answer.Confirmation = rdapText;
    if (rdap.Kind == TVerdictKind::Free) {
        answer.Settled.reset();
        return;
    }
    answer.Settled =
        UnknownFor(TVerdictReason::Unconfirmed, answer.Server + " said free; " + rdapText);
}

bool MayFallBack(const TServerChoice& choice, TProtocolPreference preference) {
    // A stand-in server answers for every suffix: asking the real registry
    // instead would take an offline run off the machine.
    return preference == TProtocolPreference::Auto && !choice.RdapBase.empty() &&
           choice.Route.Source != TServerSource::Override;
}

} // namespace

TNameAnswer AskForName(std::string_view gbkName, const TNameQuerySettings& settings) {
    TNameAnswer answer;
    answer.Name = CheckDomainName(gbkName, *settings.Data);
    switch (answer.Name.Problem) {
    case TNameProblem::None:
        break;
    case TNameProblem::UnknownSuffix:
        answer.Settled = UnknownFor(TVerdictReason::UnsupportedSuffix, answer.Name.Reason);
        return answer;
    case TNameProblem::Malformed:
    case TNameProblem::NotConvertible:
        answer.Settled = UnknownFor(TVerdictReason::InvalidName, answer.Name.Reason);
        return answer;
    }
    answer.Choice = ChooseServer(answer.Name.QueryName, *settings.Data, settings.Preference);
    const TServerRoute& route = answer.Choice.Route;
    switch (route.Protocol) {
    case TQueryProtocol::None:
        answer.Settled = UnknownFor(TVerdictReason::UnsupportedSuffix,
                                    NoServerText(answer, settings.Preference));
        return answer;
    case TQueryProtocol::Rdap:
        AskRdap(answer, route.Server, settings);
        return answer;
    case TQueryProtocol::Whois:
        break;
    }
    AskWhois(answer, route.Server, settings);
    if (answer.Settled)
        return answer;
    const TVerdict verdict = ReadWhoisVerdict(
        answer.Whois, ReadingServer(answer.Name.QueryName, answer.Server, settings.Data));
    if (verdict.Reason == TVerdictReason::Unreadable && settings.AskDnsWhenUnreadable &&
        DecidedByDelegation(answer))
        return answer;
    if (verdict.Kind == TVerdictKind::Free && settings.ConfirmFree &&
        answer.Choice.Route.Source != TServerSource::Override) {
        if (MayFallBack(answer.Choice, settings.Preference))
            ConfirmOverRdap(answer, settings);
        else
            answer.NeedsSecondLook = true;
        return answer;
    }
    if (!MayFallBack(answer.Choice, settings.Preference))
        return answer;
    if (std::string why = FailedForGood(answer, verdict); !why.empty()) {
        answer.FallbackReason = std::move(why);
        AskRdap(answer, answer.Choice.RdapBase, settings);
    } else if (verdict.Reason == TVerdictReason::Unreadable) {
        AskAnotherWay(answer, verdict, settings);
    }
    return answer;
}

TReferral DecideReferral(std::string_view named) {
    TReferral referral;
    referral.Named = std::string(TrimText(named));
    const std::string standIn = WhoisServerOverride();
    if (standIn.empty()) {
        referral.Target = CheckReferral(named);
        if (referral.Target.Allowed)
            referral.Server = referral.Target.Server();
    } else {
        referral.Target = CheckReferralForm(named, ReferralPolicyFromEnvironment());
        if (referral.Target.Allowed)
            referral.Server = standIn;
    }
    return referral;
}

void AskReferral(TReferral& referral, std::string_view queryName, TProxyRotation* proxies) {
    if (referral.Allowed())
        referral.Answer = AskWhoisServer(queryName, referral.Server, proxies).Answer;
}

std::string ReferralRefusalText(const TReferral& referral) {
    if (referral.Allowed())
        return "";
    return "referral to " + referral.Named + " refused: " + referral.Target.Reason;
}
