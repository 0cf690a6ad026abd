#pragma once

// The job behind the single-domain WHOIS window: it asks the domain's server
// (port 43 or RDAP), always follows a port-43 reply's referral that the
// referral guard allows, and produces the full report the window shows.
// Qt Core only: it touches no window, its one product is Report.

#include "engine/Job.h"
#include "engine/ServerChoice.h"
#include "engine/Verdict.h"
#include "engine/WhoisExchange.h"

class TProxyRotation;

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

class TRegistryData;
struct TNameAnswer;

// What a report is made of.
struct TWhoisReportFacts {
    std::string Domain;
    // The reply the failure test reads: the referral reply when one was
    // fetched, else the first reply.
    std::size_t ReplyBytes = 0;
    std::string RegTime;
    std::string ExpTime;
    std::string IPAddress;
    std::string Email;
    // The first reply, or the first reply, a blank line and the referral reply
    // (or why the referral was refused); an RDAP answer as indented JSON.
    std::string FullText;
    // The verdict in the program's words (VerdictSummary), after the heading;
    // "" for none.
    std::string Summary{};
};

// The report: the heading with the verdict and the field line (or the
// failure line when there was no reply), a blank line and the full reply
// text; every LF turned into CR LF, and no leading or trailing blanks or line
// breaks.
std::string ComposeWhoisReport(const TWhoisReportFacts& facts);

class TQueryWhois : public TJob {
    Q_OBJECT

public:
    TQueryWhois(std::string domain, bool showIPAddress);

    // The job's record. The creator sets Domain and ShowIPAddress; the job
    // writes the rest (the dates and e-mail on the UI thread). The completion
    // handler is their only reader.
    std::string Report;
    std::string Domain;
    std::string QueryName; // the name asked: lower-case ASCII, A-labels
    // The server asked (a host, or an RDAP base URL), over which protocol.
    std::string WhoisServer;
    TQueryProtocol Protocol = TQueryProtocol::None;
    std::string ReferralServer;
    // Why the referral was not followed; "" when it was, or none was named.
    std::string ReferralRefusal;
    std::string WhoisInfo;
    std::string RegTime;
    std::string ExpTime;
    std::string Email;
    std::string IPAddress;
    bool ShowIPAddress;
    // How the exchange with WhoisServer ended, and that in words; OtherError
    // until a query was made.
    TExchangeEnd ExchangeEnd = TExchangeEnd::OtherError;
    std::string ExchangeEndText;
    // What the query decided, read as the batch reads it (ReadQueryVerdict),
    // and the server whose wording a port-43 reply was read with.
    TVerdict Verdict;
    std::string WordingServer;

    // Set before Start: the registry data (null: ProgramRegistryData) and
    // the protocols the user allows.
    std::shared_ptr<const TRegistryData> RegistryData;
    TProtocolPreference ProtocolPreference = TProtocolPreference::Auto;

    // The name service for the address; empty means GetHostIP. Set before
    // Start; tests use it so that no name leaves the machine.
    std::function<std::string(std::string_view)> ResolveHost;
    // The proxies the servers are asked through, shared with the batch; null
    // or empty: straight. Set before Start.
    std::shared_ptr<TProxyRotation> Proxies;

protected:
    ~TQueryWhois() override = default;
    void Execute() override;

private:
    // Run on the UI thread, like the batch jobs' extractions.
    void GetRegTime();
    void GetExpTime();
    void GetEmail();

    std::string LookUpAddress() const;
    std::string RdapText(const TNameAnswer& answer);
    std::string WhoisText(const TExchangeResult& firstAnswer);
};
