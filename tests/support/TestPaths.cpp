#include "tests/support/TestPaths.h"

#include <fstream>
#include <sstream>

namespace testpaths {

std::string WhoisRepliesDir() {
    return std::string(TAVIREL_SOURCE_DIR) + "/tests/data/whois-replies";
}
std::string WhoisReplies2Dir() {
    return std::string(TAVIREL_SOURCE_DIR) + "/tests/data/whois-replies-2";
}
std::string BuildDir() {
    return TAVIREL_BUILD_DIR;
}
std::string SourceDir() {
    return TAVIREL_SOURCE_DIR;
}
std::string CMakeCommand() {
    return TAVIREL_CMAKE_COMMAND;
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

} // namespace testpaths
