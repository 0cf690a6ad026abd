#include "app/CliCommands.h"

#include "engine/GbkCodec.h"
#include "ui/QueryWhois.h"

#include <QEventLoop>

#include <cstdio>
#include <optional>
#include <string>

// whois DOMAIN [--ip] [--gbk]: the report the WHOIS window shows for one
// domain, on standard output. The domain comes in the terminal's UTF-8; the
// report goes out in UTF-8, or as its own GBK bytes with --gbk. Its lines end
// with CR LF, as in the window, and so does the last one here.

namespace {

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
            std::fprintf(stderr, "tavirelbrisvane-cli whois: unknown option '%s'\n", arg.c_str());
            return std::nullopt;
        } else if (haveDomain) {
            std::fprintf(stderr, "tavirelbrisvane-cli whois: one domain only\n");
            return std::nullopt;
        } else {
            parsed.Domain = arg;
            haveDomain = true;
        }
    }
    // The window ignores an empty domain field; here it is a mistake.
    if (parsed.Domain.empty()) {
        std::fprintf(stderr, "tavirelbrisvane-cli whois: no domain given\n");
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
    const std::optional<TWhoisArguments> parsed = ParseArguments(args);
    if (!parsed) {
        std::fprintf(stderr, "usage: tavirelbrisvane-cli whois DOMAIN [--ip] [--gbk]\n");
        return 2;
    }
    const std::string report = QueryReport(Utf8ToGbk(parsed->Domain), parsed->ShowIPAddress);
    if (report.empty()) {
        // The window shows an empty report for a name the query does not take.
        std::fprintf(stderr, "tavirelbrisvane-cli whois: '%s' is not a domain name it queries\n",
                     parsed->Domain.c_str());
        return 0;
    }
    const std::string shown = parsed->Gbk ? report : GbkToUtf8(report);
    std::fwrite(shown.data(), 1, shown.size(), stdout);
    std::fputs("\r\n", stdout);
    std::fflush(stdout);
    return 0;
}
