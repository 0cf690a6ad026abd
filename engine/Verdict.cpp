#include "engine/Verdict.h"

#include "engine/Unit_Functions.h"

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

} // namespace

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
    }
    return "failed";
}

bool IsRetryable(TVerdictReason reason) {
    switch (reason) {
    case TVerdictReason::Throttled:
    case TVerdictReason::Unavailable:
    case TVerdictReason::Failed:
    case TVerdictReason::Cut:
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
    if (IsDomainAvailable(reply))
        return TVerdict{TVerdictKind::Free, TVerdictReason::None, std::nullopt, ""};
    return TVerdict{TVerdictKind::Registered, TVerdictReason::Registered, std::nullopt, ""};
}
