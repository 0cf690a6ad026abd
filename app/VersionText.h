#pragma once

#include <string>

// What "PROGRAM --version" prints: the program's name and version, and the
// registry data folder it reads (or that it is missing), each line ended by LF.
std::string VersionText(const std::string& program);
