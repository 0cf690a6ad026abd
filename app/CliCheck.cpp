#include "app/CliCandidates.h"
#include "app/CliCommands.h"

#include "engine/GbkCodec.h"
#include "engine/QueryDomain.h"
#include "ui/BatchController.h"
#include "ui/GbkListModel.h"

#include <QEventLoop>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <sstream>
#include <unistd.h>

namespace {

constexpr const char* Program = "tavirelbrisvane-cli check";
constexpr const char* DefaultThreads = "5";
constexpr const char* DefaultShow = "domain,regtime,exptime";

struct TCheckOptions {
    std::string Threads = DefaultThreads;
    TDisplayFlags Flags;
    std::string FreeOut;
    std::string ResultsOut;
    bool Gbk = false;
    std::string Input = "-";
};

int BadArguments(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", Program, message.c_str());
    return 2;
}

// "--show domain,regtime,..." into the five flags; false for an unknown name.
bool ParseShowList(const std::string& list, TDisplayFlags& flags, std::string& error) {
    flags = TDisplayFlags{false, false, false, false, false};
    std::stringstream items(list);
    std::string item;
    while (std::getline(items, item, ',')) {
        if (item == "domain")
            flags.ShowDomain = true;
        else if (item == "regtime")
            flags.ShowRegTime = true;
        else if (item == "exptime")
            flags.ShowExpTime = true;
        else if (item == "email")
            flags.ShowEmail = true;
        else if (item == "ip")
            flags.ShowIPAddress = true;
        else if (!item.empty()) {
            error = "unknown --show item '" + item + "' (use domain,regtime,exptime,email,ip)";
            return false;
        }
    }
    return true;
}

// Returns the error text, or nothing when the arguments are good.
std::optional<std::string> ParseCheckArguments(const std::vector<std::string>& args,
                                               TCheckOptions& options) {
    std::string show = DefaultShow;
    bool haveInput = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& to) -> bool {
            if (i + 1 >= args.size())
                return false;
            to = args[++i];
            return true;
        };
        if (arg == "--threads" || arg == "--show" || arg == "--free-out" ||
            arg == "--results-out") {
            std::string& to = arg == "--threads"    ? options.Threads
                              : arg == "--show"     ? show
                              : arg == "--free-out" ? options.FreeOut
                                                    : options.ResultsOut;
            if (!value(to))
                return arg + " needs a value";
        } else if (arg == "--gbk") {
            options.Gbk = true;
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            return "unknown option '" + arg + "'";
        } else if (haveInput) {
            return "only one input file may be given";
        } else {
            options.Input = arg;
            haveInput = true;
        }
    }
    std::string error;
    if (!ParseShowList(show, options.Flags, error))
        return error;
    return std::nullopt;
}

// Reads the candidates through the import job: valid names only, each once,
// in file order; standard input when path is "-". False with the reason when
// the file cannot be read.
bool ReadCandidateLines(const std::string& path, std::vector<std::string>& lines,
                        std::string& error) {
    return ImportCandidateFile(path, lines, error);
}

// Opens path for writing without truncating it, so a batch does not run for
// nothing when its output file cannot be created.
bool CanCreateFile(const std::string& path, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (!file) {
        error = "Cannot create file \"" + path + "\". " + std::strerror(errno);
        return false;
    }
    std::fclose(file);
    return true;
}

// Progress on standard error: redrawn in place on a terminal, otherwise only
// the closing summary.
class TProgressReport {
public:
    TProgressReport(const TGbkListModel& noReg, int noRegAtStart)
        : FNoReg(noReg), FNoRegAtStart(noRegAtStart), FTerminal(::isatty(STDERR_FILENO) == 1),
          FStart(TClock::now()) {}

    void Update(int done, int total) {
        if (!FTerminal)
            return;
        const auto now = TClock::now();
        if (done < total && now - FLastDraw < std::chrono::milliseconds(100))
            return;
        FLastDraw = now;
        std::fprintf(stderr, "\r%d/%d  free %d  %.1f/s\033[K", done, total, Free(),
                     Rate(done, now));
        std::fflush(stderr);
    }

    void Summary(int done, int total) {
        const auto now = TClock::now();
        if (FTerminal)
            std::fprintf(stderr, "\r\033[K");
        std::fprintf(stderr, "checked %d of %d domains, %d free, in %.2f s (%.1f/s)\n", done, total,
                     Free(), Seconds(now), Rate(done, now));
    }

private:
    using TClock = std::chrono::steady_clock;

    int Free() const { return FNoReg.Count() - FNoRegAtStart; }
    double Seconds(TClock::time_point now) const {
        return std::chrono::duration<double>(now - FStart).count();
    }
    double Rate(int done, TClock::time_point now) const {
        const double seconds = Seconds(now);
        return seconds > 0 ? done / seconds : 0.0;
    }

    const TGbkListModel& FNoReg;
    int FNoRegAtStart;
    bool FTerminal;
    TClock::time_point FStart;
    TClock::time_point FLastDraw{};
};

void PrintResultLine(const std::string& line, bool gbk) {
    const std::string out = gbk ? line : GbkToUtf8(line);
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fputc('\n', stdout);
}

bool SaveList(const std::string& path, const TGbkListModel& list) {
    if (path.empty())
        return true;
    std::string reason;
    if (SaveLinesCrLf(path, list.Lines(), reason))
        return true;
    std::fprintf(stderr, "%s: Cannot create file \"%s\". %s\n", Program, path.c_str(),
                 reason.c_str());
    return false;
}

} // namespace

int RunCheckCommand(const std::vector<std::string>& args) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::printf(
            "usage: tavirelbrisvane-cli check [--threads N] [--show LIST] [--free-out FILE] "
            "[--results-out FILE] [--gbk] [FILE]\n"
            "  LIST: comma list of domain,regtime,exptime,email,ip "
            "(default %s)\n",
            DefaultShow);
        return 0;
    }
    TCheckOptions options;
    if (const auto error = ParseCheckArguments(args, options))
        return BadArguments(*error);

    std::string error;
    for (const std::string* out : {&options.FreeOut, &options.ResultsOut}) {
        if (!out->empty() && !CanCreateFile(*out, error))
            return BadArguments(error);
    }
    std::vector<std::string> candidates;
    if (!ReadCandidateLines(options.Input, candidates, error))
        return BadArguments(error);

    TGbkListModel domains, queryState, noReg, domainInfo;
    domains.SetLines(std::move(candidates));
    const TDisplayFlags flags = options.Flags;
    TBatchController batch(domains, queryState, noReg, domainInfo, [flags] { return flags; });

    TProgressReport progress(noReg, 0);
    QEventLoop loop;
    QObject::connect(&batch, &TBatchController::ResultAppended,
                     [&options](const std::string& line) { PrintResultLine(line, options.Gbk); });
    QObject::connect(
        &batch, &TBatchController::ProgressChanged,
        [&progress](int position, int maximum) { progress.Update(position, maximum); });
    QObject::connect(&batch, &TBatchController::BatchEnded, &loop, &QEventLoop::quit);

    const std::string message = batch.Start(options.Threads);
    if (!message.empty())
        return BadArguments("--threads: " + GbkToUtf8(message));
    if (batch.RunningCount() != 0)
        loop.exec();
    std::fflush(stdout);
    progress.Summary(batch.ProgressPosition(), batch.TotalCount());

    const bool saved = SaveList(options.FreeOut, noReg) & SaveList(options.ResultsOut, domainInfo);
    return saved ? 0 : 1;
}
