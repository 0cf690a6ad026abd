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

int Fail(int status, const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", Program, message.c_str());
    return status;
}

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
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(Usage, stdout);
        return 0;
    }
    TImportOptions options;
    if (const auto error = ParseImportArguments(args, options))
        return Fail(2, *error + "\n" + Usage);
    std::string error;
    if (!options.To.empty() && !CanCreateOutputFile(options.To, error))
        return Fail(2, error);

    std::vector<std::string> names;
    bool fileFailed = false;
    if (!ImportCandidateFile(options.From, names, error, &fileFailed))
        return Fail(fileFailed ? 2 : 1, error);

    if (options.To.empty()) {
        PrintLines(names, false);
        return 0;
    }
    if (!SaveCandidateFile(options.To, names, error))
        return Fail(1, error);
    std::fprintf(stderr, "%s: saved %zu names to %s\n", Program, names.size(), options.To.c_str());
    return 0;
}
