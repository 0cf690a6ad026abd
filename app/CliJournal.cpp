#include "app/CliJournal.h"

#include "app/CliCandidates.h"
#include "app/CliCommands.h"
#include "app/CliResultFormat.h"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>
#include <unordered_set>

namespace {

constexpr const char* CheckProgram = "tavirelbrisvane-cli check";
constexpr const char* Program = "tavirelbrisvane-cli journal";
constexpr const char* Usage =
    "usage: tavirelbrisvane-cli journal FILE [--format FORMAT] [--gbk]\n"
    "  FILE               a journal kept by check --journal\n"
    "  --format FORMAT    text (the result lines, default), csv or jsonl, as check writes\n"
    "                     them; the results in the order they came, unknown ones too\n"
    "  --gbk              text lines in the program's GBK bytes instead of UTF-8\n"
    "standard error: how many names the journal holds and how they came out\n"
    "exit status: 0 every name has a verdict, 1 some name is unknown or not yet asked,\n"
    "2 bad arguments or a FILE that is not a readable journal\n";

// Two paths of one file, whether or not it exists yet.
bool SameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    const std::filesystem::path first = std::filesystem::weakly_canonical(a, error);
    if (error)
        return a == b;
    const std::filesystem::path second = std::filesystem::weakly_canonical(b, error);
    return error ? a == b : first == second;
}

struct TJournalOptions {
    std::string Path;
    TResultFormat Format = TResultFormat::Text;
    bool Gbk = false;
};

std::optional<std::string> ParseJournalArguments(const std::vector<std::string>& args,
                                                 TJournalOptions& options) {
    bool havePath = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--format") {
            if (i + 1 >= args.size())
                return arg + " needs a value";
            const std::optional<TResultFormat> format = ParseResultFormat(args[++i]);
            if (!format)
                return "--format: unknown format '" + args[i] + "' (use text, csv or jsonl)";
            options.Format = *format;
        } else if (arg == "--gbk") {
            options.Gbk = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return "unknown option '" + arg + "'";
        } else if (havePath) {
            return "only one journal may be given";
        } else {
            options.Path = arg;
            havePath = true;
        }
    }
    if (options.Path.empty())
        return "a journal file is needed";
    return std::nullopt;
}

} // namespace

std::string ShowListOf(const TDisplayFlags& flags) {
    const std::pair<bool, const char*> items[] = {{flags.ShowDomain, "domain"},
                                                  {flags.ShowRegTime, "regtime"},
                                                  {flags.ShowExpTime, "exptime"},
                                                  {flags.ShowEmail, "email"},
                                                  {flags.ShowIPAddress, "ip"}};
    std::string list;
    for (const auto& [shown, name] : items) {
        if (!shown)
            continue;
        if (!list.empty())
            list += ',';
        list += name;
    }
    return list;
}

std::unique_ptr<TBatchJournal> OpenCheckJournal(const std::string& path,
                                                const std::vector<std::string>& candidates,
                                                const TDisplayFlags& flags,
                                                const std::vector<std::string>& others,
                                                std::string& error) {
    for (const std::string& other : others) {
        if (!other.empty() && other != "-" && SameFile(path, other)) {
            error = "--journal: " + path + " is also a file the command reads or writes";
            return nullptr;
        }
    }
    const std::string show = ShowListOf(flags);
    std::unique_ptr<TBatchJournal> journal =
        TBatchJournal::OpenForList(path, candidates, show, error);
    if (!journal)
        return nullptr;
    if (journal->Show() != show) {
        error = path + " was kept with --show " + journal->Show() + "; give the same --show to " +
                "go on with it";
        return nullptr;
    }
    journal->OnFailure = [path](const std::string& failure) {
        std::fprintf(stderr,
                     "%s: cannot store results in journal %s: %s; what was committed is kept, "
                     "the rest of the batch goes unjournaled\n",
                     CheckProgram, path.c_str(), failure.c_str());
    };
    return journal;
}

void ReplayCheckJournal(const TBatchJournal& journal, TGbkListModel& noReg,
                        TGbkListModel& domainInfo,
                        const std::function<void(const TBatchResult&)>& report) {
    std::size_t kept = 0;
    for (const TBatchResult& result : journal.Kept()) {
        if (HasVerdict(result)) {
            report(result);
            ++kept;
        }
    }
    PutBackKept(journal, noReg, domainInfo);
    std::fprintf(stderr, "journal %s: %zu results kept, %zu names to ask\n", journal.Path().c_str(),
                 kept, journal.PositionsLeft().size());
}

bool EndCheckJournal(TBatchJournal& journal) {
    return journal.Failure().empty() && journal.MarkFinished();
}

int RunJournalCommand(const std::vector<std::string>& args) {
    if (AsksForHelp(args)) {
        std::fputs(Usage, stdout);
        return 0;
    }
    TJournalOptions options;
    if (const auto error = ParseJournalArguments(args, options))
        return FailCommand(Program, 2, *error + "\n" + Usage);
    std::string error;
    const std::unique_ptr<TBatchJournal> journal =
        TBatchJournal::OpenExisting(options.Path, TBatchJournal::TAccess::Read, error);
    if (!journal)
        return FailCommand(Program, 2, error);

    std::string out = options.Format == TResultFormat::Csv ? CsvHeaderRow() : std::string();
    std::size_t counts[3] = {0, 0, 0};
    for (const TBatchResult& result : journal->Kept()) {
        out += FormattedResult(result, options.Format, options.Gbk);
        ++counts[static_cast<int>(result.Kind)];
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
    std::unordered_set<std::string> asked;
    for (const TBatchResult& result : journal->Kept())
        asked.insert(result.Domain);
    std::size_t notAsked = 0;
    for (const std::string& name : journal->Candidates())
        notAsked += asked.count(name) == 0 ? 1 : 0;
    std::fprintf(stderr,
                 "journal %s: %zu names: %zu free, %zu registered, %zu unknown, %zu not yet "
                 "asked%s\n",
                 options.Path.c_str(), journal->Candidates().size(),
                 counts[static_cast<int>(TVerdictKind::Free)],
                 counts[static_cast<int>(TVerdictKind::Registered)],
                 counts[static_cast<int>(TVerdictKind::Unknown)], notAsked,
                 journal->Finished() ? "; the batch ran to its end" : "");
    return journal->PositionsLeft().empty() ? 0 : 1;
}
