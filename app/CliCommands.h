#pragma once

#include <string>
#include <vector>

// The subcommands of tavirelbrisvane-cli. Each gets the arguments after its
// name and returns the process's exit status: 0 done, 1 the work is done but
// not all of it came out (a name left unknown, a file not saved), 2 bad
// arguments or an unreadable file. They run with a QCoreApplication in place.
int RunLookupCommand(const std::vector<std::string>& args);
int RunCheckCommand(const std::vector<std::string>& args);
int RunJournalCommand(const std::vector<std::string>& args);
int RunGenerateCommand(const std::vector<std::string>& args);
int RunImportCommand(const std::vector<std::string>& args);
int RunWhoisCommand(const std::vector<std::string>& args);
int RunServersCommand(const std::vector<std::string>& args);
int RunUpdateRegistryDataCommand(const std::vector<std::string>& args);
int RunZoneCommand(const std::vector<std::string>& args);
