#include "app/CliCandidates.h"
#include "app/CliCommands.h"

#include "batch/QueryWhois.h"
#include "engine/DomainName.h"
#include "engine/GbkCodec.h"
#include "engine/RegistryData.h"

#include <QEventLoop>

#include <cstdio>
#include <optional>
#include <string>

// whois DOMAIN [--ip] [--gbk]: the report the WHOIS window shows for one
// domain, on standard output. The domain comes in the terminal's UTF-8; the
// report goes out in UTF-8, or as its own GBK bytes with --gbk. Its lines end
// with CR LF, as in the window, and so does the last one here.

namespace {

constexpr const char* Program = "tavirelbrisvane-cli whois";
constexpr const char* Usage =
    "usage: tavirelbrisvane-cli whois DOMAIN [--ip] [--gbk]\n"
    "  the report the WHOIS window shows for DOMAIN: a summary line, then the reply of\n"
    "  the domain's server (port 43, or RDAP as indented JSON) and of the server it\n"
    "  refers to; names below a second-level suffix (example.co.uk) are out of scope\n"
    "  --ip    resolve the domain's IPv4 address too (asks the name service)\n"
    "  --gbk   write the report in the program's GBK bytes instead of UTF-8\n"
    "exit status: 0 done, 1 no report could be made, 2 bad arguments or an invalid name\n";

struct TWhoisArguments {
    std::string Domain;
    bool ShowIPAddress = false;
    bool Gbk = false;
};

std::optional<TWhoisArguments> ParseArguments(const std::vector<std::string>& args) {
    TWhoisArguments parsed;
    bool haveDomain = false;
    for (const std::string& arg : args) {
        if (arg == "--ip") {
            parsed.ShowIPAddress = true;
        } else if (arg == "--gbk") {
            parsed.Gbk = true;
        } else if (arg.rfind("--", 0) == 0) {
            std::fprintf(stderr, "%s: unknown option '%s'\n", Program, arg.c_str());
            return std::nullopt;
        } else if (haveDomain) {
            std::fprintf(stderr, "%s: one domain only\n", Program);
            return std::nullopt;
        } else {
            parsed.Domain = arg;
            haveDomain = true;
        }
    }
    // The window ignores an empty domain field; here it is a mistake.
    if (parsed.Domain.empty()) {
        std::fprintf(stderr, "%s: no domain given\n", Program);
        return std::nullopt;
    }
    return parsed;
}

std::string QueryReport(const std::string& gbkDomain, bool showIPAddress) {
    std::string report;
    QEventLoop loop;
    auto* job = new TQueryWhois(gbkDomain, showIPAddress);
    job->Start([&](TJob* ended) {
        report = static_cast<TQueryWhois*>(ended)->Report;
        loop.quit();
    });
    loop.exec();
    return report;
}

} // namespace

int RunWhoisCommand(const std::vector<std::string>& args) {
    if (AsksForHelp(args)) {
        std::fputs(Usage, stdout);
        return 0;
    }
    const std::optional<TWhoisArguments> parsed = ParseArguments(args);
    if (!parsed) {
        std::fputs(Usage, stderr);
        return 2;
    }
    const std::string domain = Utf8ToGbk(parsed->Domain);
    // The window shows an empty report for a name the query does not take;
    // here it is a mistake in the arguments. A suffix no server is known for
    // gets its report, which says so.
    const TCheckedName checked = CheckDomainName(domain, *ProgramRegistryData().Data);
    if (checked.Problem == TNameProblem::Malformed ||
        checked.Problem == TNameProblem::NotConvertible)
        return FailCommand(Program, 2,
                           "'" + parsed->Domain + "' is not a valid domain name (" +
                               GbkToUtf8(checked.Reason) + ")");
    const std::string report = QueryReport(domain, parsed->ShowIPAddress);
    if (report.empty())
        return FailCommand(Program, 1, "no report for '" + parsed->Domain + "'");
    const std::string shown = parsed->Gbk ? report : GbkToUtf8(report);
    std::fwrite(shown.data(), 1, shown.size(), stdout);
    std::fputs("\r\n", stdout);
    std::fflush(stdout);
    return 0;
}
