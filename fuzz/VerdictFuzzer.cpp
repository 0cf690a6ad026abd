// The reading of one port-43 reply, as a query reads it: the reply converted
// as GetWhoisAnswer converts it, the verdict with the answering host's
// wording, the dates, the e-mail, and the referral with its check (against a
// name service made up here: nothing leaves the process).
//
// Input: the answering host, LF, then the reply's bytes as the server sent
// them. fuzz/run.sh seeds it with the reply corpora, each reply behind the
// host that sent it.

#include "engine/DomainName.h"
#include "engine/GbkCodec.h"
#include "engine/QueryDomain.h"
#include "engine/ReferralGuard.h"
#include "engine/Unit_Functions.h"
#include "engine/Verdict.h"
#include "engine/WhoisEvidence.h"
#include "engine/WhoisWording.h"
#include "fuzz/FuzzInput.h"

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr std::array<TExchangeEnd, 9> Ends = {
    TExchangeEnd::Closed,     TExchangeEnd::NameLookupFailed,
    TExchangeEnd::Refused,    TExchangeEnd::ConnectBound,
    TExchangeEnd::IdleBound,  TExchangeEnd::WholeBound,
    TExchangeEnd::SizeBound,  TExchangeEnd::Reset,
    TExchangeEnd::OtherError,
};

// Public, private, loopback and reserved addresses, so that every branch of
// the referral check can be reached; which ones a name gets depends on the
// name alone.
constexpr std::array<TIPv4, 6> MadeUpAddresses = {
    0x5DB8D822, // 93.184.216.34
    0x0A010203, // 10.1.2.3
    0x7F000001, // 127.0.0.1
    0xC0000201, // 192.0.2.1
    0x00000000, // 0.0.0.0
    0xFFFFFFFF, // 255.255.255.255
};

bool MadeUpResolve(const std::string& host, std::vector<TIPv4>& addresses) {
    const std::size_t hash = std::hash<std::string>{}(host);
    if (hash % 7 == 0)
        return false; // the name does not resolve
    for (std::size_t i = 0; i < 1 + hash % 3; ++i)
        addresses.push_back(MadeUpAddresses[(hash >> (8 * i)) % MadeUpAddresses.size()]);
    return true;
}

void CheckVerdict(const TVerdict& verdict) {
    switch (verdict.Kind) {
    case TVerdictKind::Free:
        FUZZ_EXPECT(verdict.Reason == TVerdictReason::None);
        break;
    case TVerdictKind::Registered:
        FUZZ_EXPECT(verdict.Reason == TVerdictReason::Registered ||
                    verdict.Reason == TVerdictReason::Reserved);
        break;
    case TVerdictKind::Unknown:
        FUZZ_EXPECT(verdict.Reason != TVerdictReason::None &&
                    verdict.Reason != TVerdictReason::Registered &&
                    verdict.Reason != TVerdictReason::Reserved);
        break;
    }
    if (verdict.Wait)
        FUZZ_EXPECT(verdict.Wait->count() >= 1 && *verdict.Wait <= LongestAskedWait);
    if (verdict.Reason == TVerdictReason::Unreadable)
        FUZZ_EXPECT(verdict.Detail.size() <= MeaningfulLineBytes);
}

void CheckReferralTarget(std::string_view referral, TReferralPolicy policy) {
    const TReferralTarget target = CheckReferral(referral, MadeUpResolve, policy);
    FUZZ_EXPECT(target.Allowed == target.Reason.empty());
    if (!target.Allowed)
        return;
    // Every address of the name is public (or loopback, where the policy lets
    // it through), and the one to connect to is one of them.
    if (!IsHostName(target.Host)) {
        // Only a loopback address written as such, for tests.
        FUZZ_EXPECT(policy.AllowLoopback && target.Address == target.Host &&
                    target.Address.starts_with("127."));
        return;
    }
    std::vector<TIPv4> addresses;
    FUZZ_EXPECT(MadeUpResolve(target.Host, addresses));
    bool connectsToOne = false;
    for (TIPv4 address : addresses) {
        FUZZ_EXPECT(NonPublicBlockOf(address) == nullptr ||
                    (policy.AllowLoopback && IsLoopbackAddress(address)));
        connectsToOne = connectsToOne || DottedAddress(address) == target.Address;
    }
    FUZZ_EXPECT(connectsToOne);
    FUZZ_EXPECT(target.Port == 43 || policy.AllowLoopback);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto [host, raw] = fuzzinput::FirstLineAndRest(fuzzinput::Text(data, size));

    TExchangeResult answer;
    answer.End = TExchangeEnd::Closed;
    answer.Reply = IsUtf8Text(raw) ? Utf8ToGbk(raw) : std::string(raw);
    const std::string& reply = answer.Reply;

    const TVerdict verdict = ReadWhoisVerdict(answer, host);
    CheckVerdict(verdict);
    // Registered by the general rules only with a fact of the record to show.
    FUZZ_EXPECT(verdict.Kind != TVerdictKind::Registered || !verdict.Detail.empty());
    FindRegistrationEvidence(reply);
    // An answer the server did not end is never free, whatever it says.
    answer.End = Ends[1 + size % (Ends.size() - 1)];
    const TVerdict cut = ReadWhoisVerdict(answer, host);
    FUZZ_EXPECT(cut.Kind == TVerdictKind::Unknown);
    CheckVerdict(cut);

    IsDomainAvailable(reply);
    const std::string regTime = ReadRegTime(reply);
    const std::string expTime = ReadExpTime(reply);
    const std::string email = ReadEmail(reply);
    FUZZ_EXPECT(email.size() <= 120);

    const std::string referral = ReadReferralServer(reply);
    FUZZ_EXPECT(TrimText(referral).size() == referral.size());
    CheckReferralTarget(referral, TReferralPolicy{});
    CheckReferralTarget(referral, TReferralPolicy{true});

    const std::string line = ComposeResultLine(
        TQueryFacts{"example.com", reply.size(), regTime, expTime, "", email}, TDisplayFlags{});
    FUZZ_EXPECT(!line.empty() && line.back() != '\n');
    return 0;
}
