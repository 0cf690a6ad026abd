#include "app/CliCommands.h"

#include <cstdio>

int RunImportCommand(const std::vector<std::string>&) {
    std::fprintf(stderr, "tavirelbrisvane-cli: this command is not available yet\n");
    return 2;
}
