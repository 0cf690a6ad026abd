#include "engine/SecondLook.h"

#include "engine/DomainName.h"
#include "engine/ServerChoice.h"
#include "engine/WhoisAsking.h"

#include <algorithm>
#include <array>

namespace {

// Second-level labels under which ccTLD registries keep their own names
// ("whois.auda.org.au", "whois.thnic.co.th"): the registrable name is one
// label longer there.
constexpr std::array<std::string_view, 10> SecondLevelWords = {"ac",  "co", "com", "edu", "go",
                                                               "gov", "ne", "net", "or",  "org"};

std::vector<std::string_view> LabelsOf(std::string_view host) {
    std::vector<std::string_view> labels;
    std::size_t start = 0;
    while (start <= host.size()) {
        const std::size_t dot = std::min(host.find('.', start), host.size());
        labels.push_back(host.substr(start, dot - start));
        start = dot + 1;
    }
    return labels;
}

std::string JoinLast(const std::vector<std::string_view>& labels, std::size_t count) {
    std::string name;
    for (std::size_t i = labels.size() - count; i < labels.size(); ++i)
        name.append(name.empty() ? "" : ".").append(labels[i]);
    return name;
}

std::string TldOf(std::string_view suffix) {
    const std::size_t dot = suffix.rfind('.');
    return std::string(dot == std::string_view::npos ? suffix : suffix.substr(dot + 1));
}

TVerdict Unconfirmed(std::string detail) {
    return TVerdict{TVerdictKind::Unknown, TVerdictReason::Unconfirmed, std::nullopt,
                    std::move(detail)};
}

// "registered (reason)": a verdict in the words of a confirmation.
std::string Said(const TVerdict& verdict) {
    std::string said(VerdictWord(verdict.Kind));
    const std::string_view reason = ReasonWord(verdict.Reason);
    if (verdict.Kind == TVerdictKind::Unknown && !reason.empty())
        said.append(", ").append(reason);
    return verdict.Detail.empty() ? said : said + " (" + verdict.Detail + ")";
}

// Why a canary read anything but registered leaves the free unconfirmed.
TSecondLookVerdict CanaryFailed(const std::string& server, const TCanaryAnswer& canary,
                                const std::string& said) {
    return {Unconfirmed(server + " said free" + said + ", but " + canary.Name + " " +
                        Said(canary.Verdict) + ", a name it must know as registered"),
            canary.Name + ": " + Said(canary.Verdict), true};
}

bool Registered(const TCanaryAnswer& canary) {
    return canary.Verdict.Kind == TVerdictKind::Registered;
}

// Asks name of server as the name itself was asked (through the same
// proxies), read with wordingServer's words; failed when no proxy is usable.
TVerdict AskAndReadWhois(const std::string& name, const std::string& server,
                         const std::string& wordingServer, const TNameQuerySettings& settings) {
    const TWhoisAsking asked = AskWhoisServer(name, server, settings.Proxies, settings.FirstProxy);
    return asked.NoUsableProxy ? TVerdict{TVerdictKind::Unknown, TVerdictReason::Failed,
                                          std::nullopt, asked.EndText}
                               : ReadWhoisVerdict(asked.Answer, wordingServer);
}

} // namespace

std::string CanaryOfServerHost(std::string_view serverHost, std::string_view suffix) {
    if (!IsHostName(serverHost))
        return "";
    const std::vector<std::string_view> labels = LabelsOf(serverHost);
    const std::string tld = TldOf(suffix);
    if (labels.size() < 2 || labels.back() != tld)
        return "";
    const std::string_view second = labels[labels.size() - 2];
    const bool underSecondLevel = std::find(SecondLevelWords.begin(), SecondLevelWords.end(),
                                            second) != SecondLevelWords.end();
    if (!underSecondLevel)
        return JoinLast(labels, 2);
    // "whois.co.ug": the host is the registry's own second level, no name.
    return labels.size() >= 4 ? JoinLast(labels, 3) : "";
}

TCanaryAnswer AskCanary(const std::string& canary, const std::string& server,
                        const std::string& wordingServer, const TNameQuerySettings& settings) {
    TCanaryAnswer answer;
    answer.Name = canary;
    if (canary.empty())
        return answer;
    answer.Verdict = AskAndReadWhois(canary, server, wordingServer, settings);
    return answer;
}

TSecondLookVerdict JudgeSecondLook(const std::string& server, const TCanaryAnswer& before,
                                   const TVerdict& second, const TCanaryAnswer& after) {
    if (!before.Name.empty() && !Registered(before))
        return CanaryFailed(server, before, "");
    if (second.Kind == TVerdictKind::Unknown)
        return {second, ""};
    if (second.Kind != TVerdictKind::Free)
        return {Unconfirmed(server + " said free, then " + Said(second)),
                "second query to " + server + ": " + Said(second)};
    const std::string again = "second query to " + server + ": free";
    // Two frees from a server that may answer "not found" to everything
    // while over its quota prove nothing without a name it must know.
    if (before.Name.empty())
        return {Unconfirmed(server + " said free twice, with no name it must know as "
                                     "registered to compare with"),
                again + "; no name to compare with"};
    if (!Registered(after))
        return CanaryFailed(server, after, " twice");
    return {second, again + "; " + before.Name + " registered before and after, as it must be"};
}

TSecondLookVerdict LookAgain(const std::string& server, const std::string& canary,
                             const std::function<TVerdict()>& askName,
                             const std::function<TCanaryAnswer(const std::string&)>& askCanary) {
    const TCanaryAnswer none;
    const TCanaryAnswer before = canary.empty() ? none : askCanary(canary);
    if (!before.Name.empty() && !Registered(before))
        return JudgeSecondLook(server, before, TVerdict{}, none);
    const TVerdict second = askName();
    const TCanaryAnswer after =
        second.Kind == TVerdictKind::Free && !canary.empty() ? askCanary(canary) : none;
    return JudgeSecondLook(server, before, second, after);
}

void LookAgainNow(TNameAnswer& answer, const TNameQuerySettings& settings) {
    if (!answer.NeedsSecondLook)
        return;
    const std::string wording = ReadingServer(answer.Name.QueryName, answer.Server, settings.Data);
    TVerdict second;
    TSecondLookVerdict judged = LookAgain(
        answer.Server, CanaryOfServerHost(wording, answer.Name.Suffix),
        [&] {
            second = AskAndReadWhois(answer.Name.QueryName, answer.Server, wording, settings);
            return second;
        },
        [&](const std::string& canary) {
            return AskCanary(canary, answer.Server, wording, settings);
        });
    answer.NeedsSecondLook = false;
    if (judged.Verdict.Kind == TVerdictKind::Unknown &&
        judged.Verdict.Reason != TVerdictReason::Unconfirmed) {
        // No later look follows here: the free stays unconfirmed.
        judged.Confirmation = "second query to " + answer.Server + ": " + Said(second);
        judged.Verdict = Unconfirmed(answer.Server + " said free; " + judged.Confirmation);
    }
    answer.Confirmation = std::move(judged.Confirmation);
    if (judged.Verdict.Kind != TVerdictKind::Free)
        answer.Settled = std::move(judged.Verdict);
}
