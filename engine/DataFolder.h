#pragma once

// Where the program finds the registry data it ships (servers per suffix,
// RDAP bootstrap). No Qt here.

#include <filesystem>
#include <string>

// The environment variable that, when set and not empty, names the data
// folder instead: for trials with other data, and for tests.
inline constexpr const char* DataFolderVariable = "TAVIREL_DATA_DIR";

// The data folder: TAVIREL_DATA_DIR when set; else "../share/tavirelbrisvane"
// beside the folder of the running program, which is where an installed
// program's data lies (PREFIX/bin and PREFIX/share/tavirelbrisvane) and where
// the build tree links its source tree's data/. The path is given whether or
// not the folder exists, so a caller can name it in a message.
std::filesystem::path ProgramDataFolder();

// The same rule for a program whose executable is programFile.
std::filesystem::path DataFolderOfProgram(const std::filesystem::path& programFile);

// The program's folder of one kind in the user's home by the XDG rule:
// $XDG_VARIABLE/tavirelbrisvane when that is an absolute path (a relative one
// is ignored), else $HOME/homeFallback/tavirelbrisvane ("" when neither is
// known). For example "XDG_STATE_HOME" and ".local/state".
std::string UserFolderOfKind(const char* xdgVariable, const char* homeFallback);
