#include "app/CliCandidates.h"
#include "app/CliCommands.h"

#include <cstdio>
#include <optional>

namespace {

constexpr const char* Program = "tavirelbrisvane-cli import";
constexpr const char* Usage =
    "usage: tavirelbrisvane-cli import FILE [--to FILE]\n"
    "  FILE: one domain name per line (\"-\": standard input); valid names are kept,\n"
    "        each once, in file order\n"
    "  --to FILE   save the names as GBK text with CR LF line ends instead of printing\n";

struct TImportOptions {
    std::string From;
    std::string To;
};

std::optional<std::string> ParseImportArguments(const std::vector<std::string>& args,
                                                TImportOptions& options) {
    bool haveFrom = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--to") {
            if (i + 1 >= args.size())
                return arg + " needs a value";
            options.To = args[++i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            return "unknown option '" + arg + "'";
        } else if (haveFrom) {
            return "only one file may be given";
        } else {
            options.From = arg;
            haveFrom = true;
        }
    }
    if (!haveFrom || options.From.empty())
        return "a file to import is needed";
    return std::nullopt;
}

} // namespace

int RunImportCommand(const std::vector<std::string>& args) {
    if (AsksForHelp(args)) {
        std::fputs(Usage, stdout);
        return 0;
    }
    TImportOptions options;
    if (const auto error = ParseImportArguments(args, options))
        return FailCommand(Program, 2, *error + "\n" + Usage);
    std::string error;
    if (!options.To.empty() && !CanCreateOutputFile(options.To, error))
        return FailCommand(Program, 2, error);

    std::vector<std::string> names;
    bool fileFailed = false;
    if (!ImportCandidateFile(options.From, names, error, &fileFailed))
        return FailCommand(Program, fileFailed ? 2 : 1, error);

    return PrintOrSaveCandidates(Program, names, options.To, false);
}
