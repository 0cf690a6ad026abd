#include "app/CliCommands.h"
#include "app/VersionText.h"

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
     "lookup [--ip] DOMAIN...   query each domain and show what the engine reads"},
    {"check", RunCheckCommand,
     "check [--threads N] [--show LIST] [--format text|csv|jsonl] [--free-out FILE]\n"
     "        [--unknown-out FILE] [--results-out FILE] [--journal FILE] [--dns on|off]\n"
     "        [--zone FILE]... [--gbk] [FILE]"},
    {"journal", RunJournalCommand, "journal FILE [--format text|csv|jsonl] [--gbk]"},
    {"generate", RunGenerateCommand, "generate PATTERN [--count N] [--to FILE] [--gbk]"},
    {"import", RunImportCommand, "import FILE [--to FILE]"},
    {"whois", RunWhoisCommand, "whois DOMAIN [--ip] [--gbk]"},
    {"servers", RunServersCommand,
     "servers [--protocol auto|whois|rdap] [--registry-data FILE] [SUFFIX...]"},
    {"update-registry-data", RunUpdateRegistryDataCommand, "update-registry-data [--from URL]"},
    {"zone", RunZoneCommand, "zone FILE...   index a TLD zone file and say what it holds"},
};

void PrintUsage(std::FILE* to) {
    std::fprintf(to, "usage: tavirelbrisvane-cli COMMAND [ARGS]\n"
                     "       tavirelbrisvane-cli --version\n"
                     "commands (each answers --help):\n");
    for (const TCommand& c : Commands)
        std::fprintf(to, "  %s\n", c.Usage);
    std::fprintf(to, "exit status: 0 done, 1 a name left unknown or a file not saved, 2 bad "
                     "arguments or an unreadable file\n");
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
    if (!std::strcmp(argv[1], "--version")) {
        std::fputs(VersionText("tavirelbrisvane-cli").c_str(), stdout);
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
