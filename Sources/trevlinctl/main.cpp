// trevlinctl: Trevlin's engine from the command line.

#include "Commands.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace trevlinctl {

namespace {

struct Command {
    const char* name;
    int (*run)(const Args&);
    const char* usage;
};

// One line per subcommand.
const Command kCommands[] = {
    {"apps", runApps,
     "apps [--seconds N] [--json]\n"
     "      Samples every process for N seconds (default 2) and prints one line\n"
     "      per app and command-line group, then \"Other / system\"."},
    {"limit", runLimit,
     "limit KEY --cores N [--method smart|strict|ecores|pause] [--always-efficiency]\n"
     "      [--no-catch-up] [--no-spare-busy] [--period MS]\n"
     "      Holds one app (a .desktop path) or command-line group (cli:NAME) to N cores\n"
     "      (a plain decimal, at most the logical core count),\n"
     "      printing its status once a second; SIGINT, SIGTERM or SIGHUP restores it and quits."},
    {"recover", runRecover,
     "recover\n"
     "      Continues every process that an abnormally ended run left stopped or demoted,\n"
     "      and removes the temporary files it left in the data folder."},
};

void printUsage(FILE* out) {
    std::fprintf(out, "usage: trevlinctl <command> [options]\n       trevlinctl --help | --version\n\ncommands:\n");
    for (const auto& c : kCommands) std::fprintf(out, "  %s\n", c.usage);
}

}  // namespace

int usageError(const std::string& message) {
    std::fprintf(stderr, "trevlinctl: %s\n\n", message.c_str());
    printUsage(stderr);
    return 2;
}

}  // namespace trevlinctl

int main(int argc, char** argv) {
    using namespace trevlinctl;
    if (argc < 2) return usageError("no command given");
    const std::string name = argv[1];
    if (name == "help" || name == "--help" || name == "-h") {
        printUsage(stdout);
        return 0;
    }
    if (name == "--version") {
        std::printf("trevlinctl %s\n", TREVLIN_VERSION);
        return 0;
    }
    Args args(argv + 2, argv + argc);
    for (const auto& c : kCommands)
        if (name == c.name) return c.run(args);
    return usageError("unknown command \"" + name + "\"");
}
