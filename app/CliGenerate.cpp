#include "app/CliCandidates.h"
#include "app/CliCommands.h"

#include "batch/GbkListModel.h"
#include "candidates/Unit_CreateDomains.h"
#include "engine/GbkCodec.h"
#include "engine/IntegerText.h"

#include <cstdio>
#include <optional>

namespace {

constexpr const char* Program = "tavirelbrisvane-cli generate";
constexpr const char* Usage = "usage: tavirelbrisvane-cli generate PATTERN [--count N] [--to FILE] "
                              "[--gbk]\n"
                              "  PATTERN: text with {数字} {字母} {随机} {拼音} {拼音x2} {拼音x3}\n"
                              "  --count N   how many new names (default 100)\n"
                              "  --to FILE   save the names as GBK text with CR LF line ends\n"
                              "  --gbk       PATTERN and the printed names are GBK bytes\n";
// The default of the main window's count field.
constexpr const char* DefaultCount = "100";

struct TGenerateOptions {
    std::string Pattern;
    std::string Count = DefaultCount;
    std::string To;
    bool Gbk = false;
};

// The error text, or nothing when the arguments are good.
std::optional<std::string> ParseGenerateArguments(const std::vector<std::string>& args,
                                                  TGenerateOptions& options) {
    bool havePattern = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--count" || arg == "--to") {
            if (i + 1 >= args.size())
                return arg + " needs a value";
            (arg == "--count" ? options.Count : options.To) = args[++i];
        } else if (arg == "--gbk") {
            options.Gbk = true;
        } else if (arg.size() > 1 && arg[0] == '-' && !havePattern) {
            return "unknown option '" + arg + "'";
        } else if (havePattern) {
            return "only one pattern may be given";
        } else {
            options.Pattern = arg;
            havePattern = true;
        }
    }
    if (!havePattern)
        return "a pattern is needed";
    if (options.Pattern.empty())
        return "the pattern is empty";
    return std::nullopt;
}

} // namespace

int RunGenerateCommand(const std::vector<std::string>& args) {
    if (AsksForHelp(args)) {
        std::fputs(Usage, stdout);
        return 0;
    }
    TGenerateOptions options;
    if (const auto error = ParseGenerateArguments(args, options))
        return FailCommand(Program, 2, *error + "\n" + Usage);
    const std::optional<std::int32_t> count = ParseIntegerText(options.Count);
    if (!count)
        return FailCommand(Program, 2, "--count: " + NotAnIntegerMessage(options.Count));
    std::string error;
    if (!options.To.empty() && !CanCreateOutputFile(options.To, error))
        return FailCommand(Program, 2, error);

    const std::string pattern = options.Gbk ? options.Pattern : Utf8ToGbk(options.Pattern);
    TGbkListModel list;
    error = RunCandidateJob(new TCreateDomains(pattern, list, *count));
    if (!error.empty())
        return FailCommand(Program, 1, error);

    return PrintOrSaveCandidates(Program, list.Lines(), options.To, options.Gbk);
}
