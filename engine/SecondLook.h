#pragma once

// A port-43 free that no RDAP base can confirm is asked again of the same
// server later, and beside it a name that server must answer registered (the
// canary): a registry over its quota may answer "not found" for every name,
// and the canary's answer shows whether it tells the truth now. No Qt here;
// safe on any thread.

#include "engine/NameQuery.h"
#include "engine/Verdict.h"

#include <functional>
#include <string>
#include <string_view>

// The registrable name of the server's own host when it lies under the TLD
// of suffix ("whois.cnnic.cn" for "com.cn" gives "cnnic.cn"); "" when the
// host is an address, names a port, or lies under another TLD.
std::string CanaryOfServerHost(std::string_view serverHost, std::string_view suffix);

// What the canary's server said of it: the reading of its reply.
struct TCanaryAnswer {
    std::string Name; // "" when there was none to ask
    TVerdict Verdict;
};

// Asks canary (the A-label) of server as the name itself was asked (through
// the same proxies), read with wordingServer's words.
TCanaryAnswer AskCanary(const std::string& canary, const std::string& server,
                        const std::string& wordingServer, const TNameQuerySettings& settings);

// What a second look decides, and the confirmation in words.
struct TSecondLookVerdict {
    TVerdict Verdict;
    std::string Confirmation;
    // A canary read anything but registered: the server is not telling the
    // truth now (a second answer of registered only shows the first free
    // was not).
    bool CaughtLying = false;
};

// server said free at first, then second, with the canary asked just before
// and just after it: a server that lies while over its limit lets some
// queries through as its quota refills, and a lie between two true answers
// within a moment is far less likely than one beside a single true answer.
// The name stands free only when second is free and both canaries are
// registered (with no canary to ask, it stays unconfirmed); a second registered, or a canary
// read anything but registered, makes the name unknown (unconfirmed) with
// the answers named; an unknown second is that unknown, the first free still
// waiting for its look. A canary before that is not registered decides
// alone: second and after are then not asked (unknown, failed, as given).
TSecondLookVerdict JudgeSecondLook(const std::string& server, const TCanaryAnswer& before,
                                   const TVerdict& second, const TCanaryAnswer& after);

// The whole look: the canary, the name again (ask), the canary again, each
// step only when the one before it leaves the free standing.
TSecondLookVerdict LookAgain(const std::string& server, const std::string& canary,
                             const std::function<TVerdict()>& askName,
                             const std::function<TCanaryAnswer(const std::string&)>& askCanary);

// The second look made at once, for a single name (the lookup and the WHOIS
// window): asks the name again and the canary of the answer's server
// (CanaryOfServerHost of its wording server), and settles answer when the
// two disagree. Nothing happens unless answer.NeedsSecondLook.
void LookAgainNow(TNameAnswer& answer, const TNameQuerySettings& settings);
