#include "app/CliCommands.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct TCommand {
    const char* Name;
    int (*Run)(const std::vector<std::string>&);
    const char* Usage;
};

const TCommand Commands[] = {
    {"lookup", RunLookupCommand,
     "lookup DOMAIN...          query each domain and show what the engine reads"},
    {"check", RunCheckCommand,
     "check [--threads N] [--show LIST] [--free-out FILE] [--results-out FILE] [--gbk] [FILE]"},
    {"generate", RunGenerateCommand, "generate PATTERN [--count N] [--to FILE] [--gbk]"},
    {"import", RunImportCommand, "import FILE [--to FILE]"},
    {"whois", RunWhoisCommand, "whois DOMAIN [--ip] [--gbk]"},
    {"servers", RunServersCommand,
     "servers [--protocol auto|whois|rdap] [--registry-data FILE] [SUFFIX...]"},
    {"update-registry-data", RunUpdateRegistryDataCommand, "update-registry-data [--from URL]"},
};

void PrintUsage(std::FILE* to) {
    std::fprintf(to, "usage: tavirelbrisvane-cli COMMAND [ARGS]\ncommands:\n");
    for (const TCommand& c : Commands)
        std::fprintf(to, "  %s\n", c.Usage);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        PrintUsage(stderr);
        return 2;
    }
    if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        PrintUsage(stdout);
        return 0;
    }
    for (const TCommand& c : Commands) {
        if (std::strcmp(argv[1], c.Name) == 0)
            return c.Run(std::vector<std::string>(argv + 2, argv + argc));
    }
    std::fprintf(stderr, "tavirelbrisvane-cli: unknown command '%s'\n", argv[1]);
    PrintUsage(stderr);
    return 2;
}
