#include "engine/Verdict.h"

#include "engine/Unit_Functions.h"
#include "engine/WhoisEvidence.h"
#include "engine/WhoisWording.h"

namespace {

// Fewer bytes than this is no reply at all.
constexpr std::size_t MinReplyBytes = 3;

TVerdict Unknown(TVerdictReason reason, std::string detail) {
    return TVerdict{TVerdictKind::Unknown, reason, std::nullopt, std::move(detail)};
}

// A bound or a reset cut what the server was sending; the rest never arrived.
bool CutsAnswer(TExchangeEnd end) {
    switch (end) {
    case TExchangeEnd::IdleBound:
    case TExchangeEnd::WholeBound:
    case TExchangeEnd::SizeBound:
    case TExchangeEnd::Reset:
        return true;
    default:
        return false;
    }
}

// Refusals and outages come before anything else a reply says (a refused
// query is often followed by "no entries found"); then refused and reserved
// names; the answering host's own words before the general lists.
struct TReadingStep {
    bool OfRegistry;
    TWordingKind Kind;
};

constexpr TReadingStep ReadingOrder[] = {
    {true, TWordingKind::Throttled},  {true, TWordingKind::Unavailable},
    {false, TWordingKind::Throttled}, {false, TWordingKind::Unavailable},
    {true, TWordingKind::Invalid},    {false, TWordingKind::Unsupported},
    {true, TWordingKind::Reserved},   {false, TWordingKind::Reserved},
};

// The registration marker of IsDomainAvailable: a reply that lists name
// servers is a registered name's, whatever not-found text it also holds.
bool ListsNameServers(std::string_view reply) {
    return LowerAscii(reply).find("name server:") != std::string::npos;
}

TVerdict VerdictOf(const TWording& wording, std::string_view text, std::string_view host) {
    std::string detail = std::string(host) + ": \"" + std::string(wording.Text) + "\"";
    switch (wording.Kind) {
    case TWordingKind::Throttled:
        return TVerdict{TVerdictKind::Unknown, TVerdictReason::Throttled, ReadAskedWait(text),
                        std::move(detail)};
    case TWordingKind::Unavailable:
        return TVerdict{TVerdictKind::Unknown, TVerdictReason::Unavailable, ReadAskedWait(text),
                        std::move(detail)};
    case TWordingKind::Unsupported:
        return Unknown(TVerdictReason::UnsupportedSuffix, std::move(detail));
    case TWordingKind::Invalid:
        return Unknown(TVerdictReason::InvalidName, std::move(detail));
    case TWordingKind::Reserved:
        return TVerdict{TVerdictKind::Registered, TVerdictReason::Reserved, std::nullopt,
                        std::move(detail)};
    case TWordingKind::NotFound:
        return TVerdict{TVerdictKind::Free, TVerdictReason::None, std::nullopt, std::move(detail)};
    case TWordingKind::Registered:
        return TVerdict{TVerdictKind::Registered, TVerdictReason::Registered, std::nullopt,
                        std::move(detail)};
    case TWordingKind::Notice:
        break; // read past, never a verdict of its own
    }
    return TVerdict{TVerdictKind::Registered, TVerdictReason::Registered, std::nullopt, ""};
}

// A reply that is no one's not-found text is registered only when it shows
// the name held: the host's own words for a held name, or a fact of the
// record. Registries word "no such name" in more ways than any table holds,
// and a free name read as taken is lost to the user.
TVerdict HeldOrUnreadable(std::string_view reply, std::string_view text, std::string_view host,
                          std::string_view answeringHost) {
    if (const TWording* held = FindRegistryWording(text, host, TWordingKind::Registered))
        return VerdictOf(*held, text, answeringHost);
    if (const std::optional<TEvidence> evidence = FindRegistrationEvidence(reply))
        return TVerdict{TVerdictKind::Registered, TVerdictReason::Registered, std::nullopt,
                        std::string(EvidenceWord(evidence->Kind)) + ": " + evidence->Line};
    return Unknown(TVerdictReason::Unreadable, FirstMeaningfulLine(reply));
}

} // namespace

std::string_view MethodWord(TVerdictMethod method) {
    switch (method) {
    case TVerdictMethod::None:
        break;
    case TVerdictMethod::Zone:
        return "zone";
    case TVerdictMethod::Dns:
        return "dns";
    case TVerdictMethod::Whois:
        return "whois";
    case TVerdictMethod::Rdap:
        return "rdap";
    }
    return "";
}

std::string_view VerdictWord(TVerdictKind kind) {
    switch (kind) {
    case TVerdictKind::Free:
        return "free";
    case TVerdictKind::Registered:
        return "registered";
    case TVerdictKind::Unknown:
        break;
    }
    return "unknown";
}

std::string_view ReasonWord(TVerdictReason reason) {
    switch (reason) {
    case TVerdictReason::None:
        return "";
    case TVerdictReason::Registered:
        return "registered";
    case TVerdictReason::Reserved:
        return "reserved";
    case TVerdictReason::Throttled:
        return "throttled";
    case TVerdictReason::Unavailable:
        return "unavailable";
    case TVerdictReason::Failed:
        return "failed";
    case TVerdictReason::Cut:
        return "cut";
    case TVerdictReason::InvalidName:
        return "invalid";
    case TVerdictReason::UnsupportedSuffix:
        return "unsupported-suffix";
    case TVerdictReason::Unreadable:
        return "unreadable";
    case TVerdictReason::Unconfirmed:
        return "unconfirmed";
    }
    return "failed";
}

bool IsRetryable(TVerdictReason reason) {
    switch (reason) {
    case TVerdictReason::Throttled:
    case TVerdictReason::Unavailable:
    case TVerdictReason::Failed:
    case TVerdictReason::Cut:
    case TVerdictReason::Unconfirmed:
        return true;
    default:
        return false;
    }
}

TVerdict ReadWhoisVerdict(const TExchangeResult& answer, std::string_view answeringHost,
                          const TWhoisBounds& bounds) {
    const std::string_view reply = answer.Reply;
    if (answer.End != TExchangeEnd::Closed) {
        const TVerdictReason reason =
            CutsAnswer(answer.End) && !reply.empty() ? TVerdictReason::Cut : TVerdictReason::Failed;
        return Unknown(reason, DescribeExchangeEnd(answer, answeringHost, bounds));
    }
    if (reply.size() < MinReplyBytes)
        return Unknown(TVerdictReason::Failed, "no reply from " + std::string(answeringHost));
    const std::string host = WordingHost(answeringHost);
    const std::string text = WithoutNotices(WordingText(reply), host);
    for (const TReadingStep& step : ReadingOrder) {
        const TWording* wording = step.OfRegistry ? FindRegistryWording(text, host, step.Kind)
                                                  : FindGeneralWording(text, step.Kind);
        if (wording != nullptr)
            return VerdictOf(*wording, text, answeringHost);
    }
    if (!ListsNameServers(reply)) {
        if (const TWording* notFound = FindRegistryWording(text, host, TWordingKind::NotFound))
            return VerdictOf(*notFound, text, answeringHost);
    }
    if (IsDomainAvailable(reply))
        return TVerdict{TVerdictKind::Free, TVerdictReason::None, std::nullopt, ""};
    return HeldOrUnreadable(reply, text, host, answeringHost);
}
