#pragma once

// One name asked of the server its suffix has: the name rule, the server
// choice, then the port-43 exchange or the RDAP query, with RDAP asked again
// where port 43 fails for good or sends a reply that proves nothing
// (unreadable); and the referral a port-43 reply names, under
// the referral guard. The query jobs put their pause points and their reading
// of the replies around these steps. No Qt here; safe on any thread.

#include "engine/DomainName.h"
#include "engine/RdapReading.h"
#include "engine/ReferralGuard.h"
#include "engine/ServerChoice.h"
#include "engine/Verdict.h"
#include "engine/WhoisExchange.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

class TProxyRotation;
class TRdapConnections;
class TRegistryData;

struct TNameQuerySettings {
    const TRegistryData* Data = nullptr; // must be set
    TProtocolPreference Preference = TProtocolPreference::Auto;
    // The batch's RDAP connections; null: a connection of its own.
    TRdapConnections* Connections = nullptr;
    // The batch's proxies, each question through the next usable one; null
    // or empty: straight to the server.
    TProxyRotation* Proxies = nullptr;
    // The proxy to ask through first, when usable (the batch picks it by its
    // pace for the server); nothing: the next usable one in turn.
    std::optional<std::size_t> FirstProxy;
    // Whether the TLD's name servers may decide a name whose port-43 reply
    // proves nothing (DNS first is on): a delegation makes it registered.
    bool AskDnsWhenUnreadable = false;
    // Whether a port-43 free is confirmed before it stands (unless a stand-in
    // server answers for every suffix): over the suffix's own RDAP base, where
    // a 404 agrees and anything else makes the name unknown (unconfirmed);
    // where the suffix has no RDAP base, or only port 43 is allowed, by a
    // second look that the answer asks for.
    bool ConfirmFree = true;
};

struct TNameAnswer {
    TCheckedName Name; // Name.QueryName is what was asked (the A-label)
    TServerChoice Choice;
    // The protocol and server of the answer (after a fall-back to RDAP);
    // None and "" when nothing was asked.
    TQueryProtocol Protocol = TQueryProtocol::None;
    std::string Server;
    // The port-43 answer (reply in GBK), when port 43 was asked.
    TExchangeResult Whois{};
    // Why port 43 was given up for RDAP ("" when it was not): it failed for
    // good, or its reply was unreadable and RDAP decided the name.
    std::string FallbackReason;
    // RDAP only: the answer (body in UTF-8) and what it says.
    std::optional<TRdapAnswer> Rdap;
    std::optional<TRdapReading> RdapReading;
    // The reply for people and for the reading of facts (GBK): the port-43
    // reply, or the RDAP body; and how the last exchange ended, in words.
    std::string Reply;
    std::string EndText;
    // The masked URL of the proxy Server was asked through, or "", and its
    // place in the rotation.
    std::string ProxyKey;
    std::optional<std::size_t> ProxyIndex;
    // The verdict when no port-43 reply is left to read: an invalid name, a
    // suffix no server is known for, an RDAP answer, or an unreadable port-43
    // reply that RDAP could not decide either (Protocol stays Whois, the
    // detail says what both said). None: read Whois.
    std::optional<TVerdict> Settled;
    // Dns when the TLD's name servers decided a name whose reply proved
    // nothing (Settled is then registered, its detail the server's answer).
    TVerdictMethod DecidedBy = TVerdictMethod::None;
    // A port-43 free confirmed over RDAP or a second query: what the second
    // source said ("" when none was asked).
    std::string Confirmation;
    // A port-43 free that no RDAP base can confirm (the suffix has none, or
    // the user allows port 43 only): it stands only after a second look
    // (engine/SecondLook.h), which the caller makes.
    bool NeedsSecondLook = false;
};

// Checks gbkName (as the user gave it) and asks it of its server.
TNameAnswer AskForName(std::string_view gbkName, const TNameQuerySettings& settings);

// A referral a port-43 reply names, and what came of it.
struct TReferral {
    std::string Named; // the value after "whois server:"
    TReferralTarget Target;
    // Whom it is asked of: the guard's address and port, or with
    // TAVIREL_WHOIS_SERVER set that same server, so an offline run never
    // leaves the machine; "" when refused.
    std::string Server;
    TExchangeResult Answer{}; // once asked; the reply in GBK
    bool Allowed() const { return Target.Allowed; }
};

// The guard's decision on named; nothing is asked yet.
TReferral DecideReferral(std::string_view named);
// Asks an allowed referral about queryName (the A-label).
// Through the next usable proxy of proxies, when not null.
void AskReferral(TReferral& referral, std::string_view queryName,
                 TProxyRotation* proxies = nullptr);
// "whois.example.com refused: 'x:4397' names a port ..." for people; "" when
// the referral was allowed.
std::string ReferralRefusalText(const TReferral& referral);
