// Console test program run under Wine: each command exercises one piece of
// the Windows layer and prints what it observed as "key=value" lines, which
// the Python drivers of tests/wine check.
#pragma once

#include <cstdio>

struct ProbeCommand {
    const char* name;
    int argCount;
    const char* usage;
    int (*run)(char** args);
};

// Prints "key=" and text with control bytes, backslashes and non-ASCII
// written as \xNN, so that CR and LF are visible in the output.
void PrintEscaped(const char* key, const char* text);

extern const ProbeCommand kNetworkCommands[];
extern const ProbeCommand kDownloadCommands[];
extern const ProbeCommand kInstallCommands[];
extern const ProbeCommand kFlowCommands[];
extern const ProbeCommand kProgressCommands[];
extern const ProbeCommand kResourceCommands[];
