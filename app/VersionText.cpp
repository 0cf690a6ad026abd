#include "app/VersionText.h"

#include "engine/DataFolder.h"

#include <system_error>

std::string VersionText(const std::string& program) {
    const std::filesystem::path data = ProgramDataFolder();
    std::error_code error;
    const bool present = std::filesystem::is_directory(data, error);
    return program + " " + TAVIREL_VERSION + "\nregistry data: " + data.string() +
           (present ? "" : " (missing)") + "\n";
}
