#include "engine/dns/DnsReply.h"

#include <arpa/nameser.h>
#include <resolv.h>

#include <algorithm>
#include <climits>

namespace {

struct TOutcomeWord {
    TDnsOutcome Outcome;
    std::string_view Word;
};
constexpr TOutcomeWord OutcomeWords[] = {
    {TDnsOutcome::Delegated, "delegated"}, {TDnsOutcome::NxDomain, "nxdomain"},
    {TDnsOutcome::NoData, "nodata"},       {TDnsOutcome::OtherName, "other-name"},
    {TDnsOutcome::Address, "address"},     {TDnsOutcome::ServFail, "servfail"},
    {TDnsOutcome::Refused, "refused"},     {TDnsOutcome::OtherCode, "other-code"},
    {TDnsOutcome::Truncated, "truncated"}, {TDnsOutcome::Malformed, "malformed"},
    {TDnsOutcome::TimedOut, "timeout"},    {TDnsOutcome::Failed, "failed"},
};

TDnsReading Reading(TDnsOutcome outcome, std::string detail) {
    return TDnsReading{outcome, {}, std::move(detail)};
}

// The records of one section that matter here.
struct TSectionFacts {
    std::vector<std::string> AskedNs; // NS targets owned by the asked name
    std::string OtherNsOwner;         // the owner of NS records for another name
    bool AskedAddress = false;        // A, AAAA or CNAME owned by the asked name
};

bool ReadSection(ns_msg& message, ns_sect section, const std::string& asked, TSectionFacts& facts) {
    const int count = ns_msg_count(message, section);
    for (int i = 0; i < count; ++i) {
        ns_rr record;
        if (ns_parserr(&message, section, i, &record) != 0)
            return false;
        const std::string owner = CanonicalDnsName(ns_rr_name(record));
        const int type = ns_rr_type(record);
        if (type == ns_t_a || type == ns_t_aaaa || type == ns_t_cname) {
            facts.AskedAddress = facts.AskedAddress || owner == asked;
            continue;
        }
        if (type != ns_t_ns || ns_rr_class(record) != ns_c_in)
            continue;
        if (owner != asked) {
            if (facts.OtherNsOwner.empty())
                facts.OtherNsOwner = owner.empty() ? "." : owner;
            continue;
        }
        char target[NS_MAXDNAME];
        if (ns_name_uncompress(ns_msg_base(message), ns_msg_end(message), ns_rr_rdata(record),
                               target, sizeof target) < 0)
            return false;
        facts.AskedNs.push_back(CanonicalDnsName(target));
    }
    return true;
}

std::string Joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

} // namespace

std::string_view DnsOutcomeWord(TDnsOutcome outcome) {
    for (const TOutcomeWord& row : OutcomeWords) {
        if (row.Outcome == outcome)
            return row.Word;
    }
    return "failed";
}

bool IsDnsRetryable(TDnsOutcome outcome) {
    switch (outcome) {
    case TDnsOutcome::ServFail:
    case TDnsOutcome::Refused:
    case TDnsOutcome::OtherCode:
    case TDnsOutcome::Truncated:
    case TDnsOutcome::Malformed:
    case TDnsOutcome::TimedOut:
    case TDnsOutcome::Failed:
        return true;
    default:
        return false;
    }
}

std::string CanonicalDnsName(std::string_view name) {
    std::string canonical(name);
    while (!canonical.empty() && canonical.back() == '.')
        canonical.pop_back();
    std::transform(canonical.begin(), canonical.end(), canonical.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return canonical;
}

TDnsReading ReadNsReply(const unsigned char* reply, std::size_t length,
                        std::string_view askedName) {
    ns_msg message;
    if (reply == nullptr || length > INT_MAX ||
        ns_initparse(reply, static_cast<int>(length), &message) != 0)
        return Reading(TDnsOutcome::Malformed, "a reply that is not a DNS message");
    if (ns_msg_getflag(message, ns_f_qr) == 0)
        return Reading(TDnsOutcome::Malformed, "a query, not a reply");
    if (ns_msg_getflag(message, ns_f_tc) != 0)
        return Reading(TDnsOutcome::Truncated, "truncated");
    switch (ns_msg_getflag(message, ns_f_rcode)) {
    case ns_r_noerror:
        break;
    case ns_r_nxdomain:
        return Reading(TDnsOutcome::NxDomain, "NXDOMAIN");
    case ns_r_servfail:
        return Reading(TDnsOutcome::ServFail, "SERVFAIL");
    case ns_r_refused:
        return Reading(TDnsOutcome::Refused, "REFUSED");
    default:
        return Reading(TDnsOutcome::OtherCode,
                       "response code " + std::to_string(ns_msg_getflag(message, ns_f_rcode)));
    }
    const std::string asked = CanonicalDnsName(askedName);
    TSectionFacts facts;
    if (!ReadSection(message, ns_s_an, asked, facts) ||
        !ReadSection(message, ns_s_ns, asked, facts))
        return Reading(TDnsOutcome::Malformed, "a record that cannot be read");
    if (!facts.AskedNs.empty()) {
        TDnsReading reading{TDnsOutcome::Delegated, facts.AskedNs, ""};
        reading.Detail = "NS " + Joined(facts.AskedNs);
        return reading;
    }
    if (facts.AskedAddress)
        return Reading(TDnsOutcome::Address, "an address, no NS records");
    if (!facts.OtherNsOwner.empty()) {
        TDnsReading reading{TDnsOutcome::OtherName, {facts.OtherNsOwner}, ""};
        reading.Detail = "NS records for " + facts.OtherNsOwner;
        return reading;
    }
    return Reading(TDnsOutcome::NoData, "no NS records");
}
