#include "app/CliCommands.h"
#include "app/CliQueryOptions.h"

#include "batch/BudgetLedger.h"
#include "engine/DomainName.h"
#include "engine/GbkCodec.h"
#include "engine/RegistryData.h"
#include "engine/RegistryDataUpdate.h"
#include "engine/RegistryLimits.h"
#include "engine/ServerChoice.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

// servers [SUFFIX...]: which server each suffix is asked of, over which
// protocol and by which rule, with the date of the registry data.
// update-registry-data [--from URL]: a newer RDAP bootstrap file into the
// user's data folder.

namespace {

constexpr const char* ServersUsage =
    "usage: tavirelbrisvane-cli servers [--protocol auto|whois|rdap] [--registry-data FILE] "
    "[SUFFIX...]\n";
constexpr const char* UpdateUsage =
    "usage: tavirelbrisvane-cli update-registry-data [--from URL]\n";

struct TServersOptions {
    TQueryOptions Query;
    std::vector<std::string> Suffixes;
};

std::optional<std::string> ParseServersArguments(const std::vector<std::string>& args,
                                                 TServersOptions& options) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (auto error = TakeQueryOption(args, i, options.Query)) {
            if (!error->empty())
                return error;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return "unknown option '" + arg + "'";
        } else {
            options.Suffixes.push_back(arg);
        }
    }
    return std::nullopt;
}

// The suffix as the data keys it ("io", "xn--fiqs8s") from what the user
// typed in the terminal's UTF-8 (".IO", "中国"); false with the reason.
bool SuffixFromTerminal(const std::string& typed, std::string& suffix, std::string& reason) {
    std::string gbk = Utf8ToGbk(typed);
    if (!gbk.empty() && gbk.front() == '.')
        gbk.erase(0, 1);
    if (!ToAsciiName(gbk, suffix, reason))
        return false;
    reason = LabelProblem(suffix);
    return reason.empty();
}

std::string RouteText(const TServerRoute& route) {
    return std::string(ProtocolWord(route.Protocol)) + "\t" +
           (route.Server.empty() ? "-" : route.Server) + "\t" +
           std::string(SourceWord(route.Source));
}

// "\trate 5/s, budget 1000 of 1000 left in 24 hours" for a server with a
// published limit (the ledger's spending straight, without proxies); "" else.
std::string LimitText(const std::string& server, TBudgetLedger* ledger) {
    const TRegistryLimit* limit = ProgramRegistryLimits().Find(server);
    if (limit == nullptr)
        return "";
    std::string text = "\trate ";
    if (limit->PerSecond) {
        char rate[32];
        std::snprintf(rate, sizeof rate, "%g/s", *limit->PerSecond);
        text += rate;
    } else {
        text += "-";
    }
    if (!limit->PerDay)
        return text + ", no daily budget";
    const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    const int left = ledger ? ledger->Left(server, "", *limit->PerDay, now) : *limit->PerDay;
    return text + ", budget " + std::to_string(left) + " of " + std::to_string(*limit->PerDay) +
           " left in 24 hours";
}

void PrintChoice(const std::string& suffix, const TServerChoice& choice, TBudgetLedger* ledger) {
    std::string line = "." + suffix + "\t" + RouteText(choice.Route);
    if (choice.Route.Source == TServerSource::Override)
        line += "\tsuffix: " + RouteText(choice.SuffixRoute);
    line += LimitText(choice.Route.Server, ledger);
    std::printf("%s\n", line.c_str());
}

// The ledger of the daily budgets, when a run has made one.
std::unique_ptr<TBudgetLedger> ExistingBudgetLedger() {
    const std::string file = BudgetLedgerFile();
    std::error_code error;
    if (file.empty() || !std::filesystem::exists(file, error))
        return nullptr;
    std::string why;
    return TBudgetLedger::Open(file, why);
}

void PrintDataDate(const TRegistryData& data) {
    const std::string line = "registry data: servers of " + data.ServersDate() + " (" +
                             data.ServersFile() + "), RDAP bootstrap of " + data.RdapDate() + " (" +
                             data.RdapFile() + "), " + std::to_string(data.Size()) + " TLDs";
    std::printf("%s\n", line.c_str());
}

} // namespace

int RunServersCommand(const std::vector<std::string>& args) {
    TServersOptions options;
    if (const auto error = ParseServersArguments(args, options)) {
        std::fprintf(stderr, "tavirelbrisvane-cli servers: %s\n%s", error->c_str(), ServersUsage);
        return 2;
    }
    const std::shared_ptr<const TRegistryData> load =
        LoadQueryRegistryData("tavirelbrisvane-cli", options.Query);
    const TRegistryData& data = *load;
    PrintDataDate(data);

    const std::string whoisOverride = WhoisServerOverride();
    const std::vector<std::string> suffixes =
        options.Suffixes.empty() ? data.Tlds() : options.Suffixes;
    int status = 0;
    const std::unique_ptr<TBudgetLedger> ledger = ExistingBudgetLedger();
    for (const std::string& typed : suffixes) {
        std::string suffix, reason;
        if (!SuffixFromTerminal(typed, suffix, reason)) {
            std::fprintf(stderr, "tavirelbrisvane-cli servers: '%s' is not a suffix: %s\n",
                         typed.c_str(), GbkToUtf8(reason).c_str());
            status = 2;
            continue;
        }
        PrintChoice(suffix,
                    ChooseServerForSuffix(suffix, data, options.Query.Preference, whoisOverride),
                    ledger.get());
    }
    return status;
}

int RunUpdateRegistryDataCommand(const std::vector<std::string>& args) {
    std::string url = IanaRdapBootstrapUrl;
    bool fromUser = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--from" && i + 1 < args.size()) {
            url = args[++i];
            fromUser = true;
        } else {
            std::fprintf(stderr, "tavirelbrisvane-cli update-registry-data: unexpected '%s'\n%s",
                         args[i].c_str(), UpdateUsage);
            return 2;
        }
    }
    // Plain http only for an address the user typed: the default is https.
    const TBootstrapUpdate update = UpdateRdapBootstrap(url, fromUser, UserDataFolder());
    std::fprintf(
        update.Ok ? stdout : stderr, "%s%s\n",
        update.Ok ? "" : "tavirelbrisvane-cli update-registry-data: ", update.Message.c_str());
    return update.Ok ? 0 : 1;
}
