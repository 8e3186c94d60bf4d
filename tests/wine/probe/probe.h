// Console test program run under Wine: each command exercises one piece of
// the Windows layer and prints what it observed as "key=value" lines, which
// the Python drivers of tests/wine check.
#pragma once

#include <cstdio>

#include "../common/escaped_output.h"

struct ProbeCommand {
    const char* name;
    int argCount;
    const char* usage;
    int (*run)(char** args);
};

extern const ProbeCommand kNetworkCommands[];
extern const ProbeCommand kDownloadCommands[];
extern const ProbeCommand kInstallCommands[];
extern const ProbeCommand kFlowCommands[];
extern const ProbeCommand kProgressCommands[];
extern const ProbeCommand kResourceCommands[];
extern const ProbeCommand kWindowCommands[];
extern const ProbeCommand kLogCommands[];
extern const ProbeCommand kFolderCommands[];

#include <string>
// The installer file of the newest private download folder (newOnly: made
// since the probe started); empty if none.
std::string PrivateInstallerFile(bool newOnly);
