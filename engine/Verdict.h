#pragma once

// What a query decided about a name: free, registered, or unknown with the
// reason. Free is said only when a registry said so in a complete answer; a
// cut, failed or refused answer is unknown, never free. No Qt here.

#include "engine/WhoisExchange.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

enum class TVerdictKind { Free, Registered, Unknown };

enum class TVerdictReason {
    None,              // free: nothing more to say
    Registered,        // held by someone
    Reserved,          // not registrable (premium, prohibited, reserved)
    Throttled,         // the server refused because of too many queries
    Unavailable,       // the server cannot answer now
    Failed,            // no answer: lookup, refusal, connect bound, error
    Cut,               // an answer that a bound or a reset cut short
    InvalidName,       // the name was refused, by our rule or by the registry
    UnsupportedSuffix, // no server is known for the suffix
    // A complete reply with no wording we know and no registration fact in
    // it: neither free nor registered until another source decides.
    Unreadable,
    // The registry said free, and a second source (RDAP of the suffix's own
    // base) did not agree: neither free nor registered until asked again.
    Unconfirmed,
};

struct TVerdict {
    TVerdictKind Kind = TVerdictKind::Unknown;
    TVerdictReason Reason = TVerdictReason::Failed;
    // Throttled or unavailable: the wait the server asked for, when its text
    // names one (one second to a day).
    std::optional<std::chrono::seconds> Wait;
    // For people: why, in a few words (the exchange's end, the text matched).
    std::string Detail;
};

// Where a verdict came from, cheapest first: a zone file the user gave, the
// TLD's own name servers (a delegation), or the registry over port 43 or
// RDAP. None: nothing was asked.
enum class TVerdictMethod { None, Zone, Dns, Whois, Rdap };

// "", "zone", "dns", "whois", "rdap".
std::string_view MethodWord(TVerdictMethod method);

// Stable words for outputs and files: "free", "registered", "unknown".
std::string_view VerdictWord(TVerdictKind kind);
// "" for None; "registered", "reserved", "throttled", "unavailable",
// "failed", "cut", "invalid", "unsupported-suffix", "unreadable".
std::string_view ReasonWord(TVerdictReason reason);

// Whether time can mend the reason, so the name is worth asking again. An
// unreadable reply is not: the same server asked the same name answers the
// same words, and asking again only spends its budget; another source (RDAP,
// DNS) decides such a name, or the user looks at it.
bool IsRetryable(TVerdictReason reason);

// The verdict of one port-43 answer: answer as GetWhoisAnswer gives it (the
// reply in GBK, with what ended the exchange), answeringHost the server whose
// wording the reply is read with (and that the reason names). In this order:
// an exchange the server did not end, or fewer than 3 bytes, is cut or
// failed; a refusal or outage text (the host's, then the general ones) is
// throttled or unavailable, whatever else the reply says; a refused name is
// invalid, a reserved one registered (reserved); the host's not-found texts,
// then the markers of IsDomainAvailable, make it free ("name server:"
// outweighs both); the host's registered wording, or a registration fact
// (FindRegistrationEvidence), makes it registered; anything else is unknown,
// unreadable, with the reply's first meaningful line as the detail.
TVerdict ReadWhoisVerdict(const TExchangeResult& answer, std::string_view answeringHost,
                          const TWhoisBounds& bounds = TWhoisBounds{});
