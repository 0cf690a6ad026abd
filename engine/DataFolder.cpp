#include "engine/DataFolder.h"

#include <cstdlib>
#include <system_error>

namespace {

// The name of the folder below share/, as the install rules spell it.
constexpr const char* DataFolderName = "tavirelbrisvane";

// The running program's own file; empty when the system does not say.
std::filesystem::path RunningProgramFile() {
    std::error_code error;
    std::filesystem::path file = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : file;
}

} // namespace

std::filesystem::path DataFolderOfProgram(const std::filesystem::path& programFile) {
    return (programFile.parent_path() / ".." / "share" / DataFolderName).lexically_normal();
}

std::filesystem::path ProgramDataFolder() {
    const char* chosen = std::getenv(DataFolderVariable);
    if (chosen != nullptr && *chosen != '\0')
        return chosen;
    std::filesystem::path program = RunningProgramFile();
    if (program.empty()) {
        // Without its own path the program can only look where it was started.
        std::error_code error;
        program = std::filesystem::current_path(error) / "program";
    }
    return DataFolderOfProgram(program);
}

std::string UserFolderOfKind(const char* xdgVariable, const char* homeFallback) {
    const char* xdg = std::getenv(xdgVariable);
    if (xdg != nullptr && xdg[0] == '/')
        return std::string(xdg) + "/" + DataFolderName;
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/')
        return std::string(home) + "/" + homeFallback + "/" + DataFolderName;
    return "";
}
