#include "app/CliCandidates.h"

#include "batch/GbkListModel.h"
#include "candidates/Unit_ImportDomains.h"
#include "engine/GbkCodec.h"

#include <QEventLoop>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

bool IsAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string CannotCreateMessage(const std::string& path, const std::string& reason) {
    return "Cannot create file \"" + path + "\". " + reason;
}

} // namespace

bool AsksForHelp(const std::vector<std::string>& args) {
    return args.size() == 1 && (args[0] == "--help" || args[0] == "-h");
}

int FailCommand(const char* program, int status, const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", program, message.c_str());
    return status;
}

std::string RunCandidateJob(TCandidateJob* job, const std::function<void(TCandidateJob&)>& atEnd) {
    std::string error;
    QEventLoop loop;
    job->Start([&](TJob* ended) {
        error = ended->Error();
        if (atEnd)
            atEnd(*static_cast<TCandidateJob*>(ended));
        loop.quit();
    });
    // The handler is queued to this thread, so it cannot run before the loop.
    loop.exec();
    return error;
}

bool ImportCandidateFile(const std::string& path, std::vector<std::string>& names,
                         std::string& error, bool* fileFailed, TSkippedLines* skipped,
                         std::size_t keepSkipped, std::shared_ptr<const TRegistryData> data) {
    TGbkListModel list;
    bool failedOnFile = false;
    auto* import =
        new TImportDomains(path == "-" ? "/dev/stdin" : path, list, skipped ? keepSkipped : 0);
    import->RegistryData = std::move(data);
    error = RunCandidateJob(import, [&](TCandidateJob& ended) {
        const auto& job = static_cast<TImportDomains&>(ended);
        failedOnFile = job.FileFailed();
        if (skipped)
            *skipped =
                TSkippedLines{job.RejectedCount(), job.RejectedLines(), job.RejectedReasons()};
    });
    if (fileFailed)
        *fileFailed = failedOnFile;
    if (!error.empty())
        return false;
    names = list.Lines();
    return true;
}

void PrintLines(const std::vector<std::string>& lines, bool gbk) {
    for (const std::string& line : lines) {
        // ASCII is the same in GBK and UTF-8, and valid domain names are
        // nothing else: a million of them print without a conversion each.
        if (gbk || IsAscii(line)) {
            std::fwrite(line.data(), 1, line.size(), stdout);
        } else {
            const std::string utf8 = GbkToUtf8(line);
            std::fwrite(utf8.data(), 1, utf8.size(), stdout);
        }
        std::fputc('\n', stdout);
    }
    std::fflush(stdout);
}

bool CanCreateOutputFile(const std::string& path, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (!file) {
        error = CannotCreateMessage(path, std::strerror(errno));
        return false;
    }
    std::fclose(file);
    return true;
}

bool SaveCandidateFile(const std::string& path, const std::vector<std::string>& lines,
                       std::string& error) {
    std::string reason;
    if (SaveLinesCrLf(path, lines, reason))
        return true;
    error = CannotCreateMessage(path, reason);
    return false;
}

int PrintOrSaveCandidates(const char* program, const std::vector<std::string>& lines,
                          const std::string& to, bool gbk) {
    if (to.empty()) {
        PrintLines(lines, gbk);
        return 0;
    }
    std::string error;
    if (!SaveCandidateFile(to, lines, error))
        return FailCommand(program, 1, error);
    std::fprintf(stderr, "%s: saved %zu names to %s\n", program, lines.size(), to.c_str());
    return 0;
}
