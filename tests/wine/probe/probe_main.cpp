#include <cstring>

#include "probe.h"

static const ProbeCommand* const kCommandTables[] = {kNetworkCommands, kDownloadCommands, kInstallCommands, kFlowCommands,
                                                     kProgressCommands, kResourceCommands, kFolderCommands,
                                                     kWindowCommands, kLogCommands};

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc >= 2) {
        for (const ProbeCommand* table : kCommandTables)
            for (const ProbeCommand* c = table; c->name; ++c)
                if (std::strcmp(c->name, argv[1]) == 0 && argc - 2 == c->argCount) return c->run(argv + 2);
    }
    fprintf(stderr, "usage:\n");
    for (const ProbeCommand* table : kCommandTables)
        for (const ProbeCommand* c = table; c->name; ++c) fprintf(stderr, "  tembra_probe %s %s\n", c->name, c->usage);
    return 2;
}
