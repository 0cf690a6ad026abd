#pragma once

#include <string>

// Where the test programs find what lies outside them.
namespace testpaths {

// The captured registry replies and their truth tables, copied into the tree.
std::string WhoisRepliesDir();
std::string WhoisReplies2Dir();
// The build folder, to start the programs the build made.
std::string BuildDir();
std::string SourceDir();
// The cmake program that configured the build, to run its install step.
std::string CMakeCommand();
// The whole content of a file, as bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);

} // namespace testpaths
