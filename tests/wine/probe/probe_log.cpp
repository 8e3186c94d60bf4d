// log-threads THREADS LINES: opens the support log as the program does and
// has THREADS threads write LINES lines each at once ("thread T line N"
// padded to about 100 bytes), as the window, fetch and download threads do.
#include <cstdlib>

#include "platform/support_log.h"
#include "probe.h"

namespace {

int g_lines;

DWORD WINAPI WriteLines(void* parameter) {
    const int thread = static_cast<int>(reinterpret_cast<intptr_t>(parameter));
    for (int number = 0; number < g_lines; ++number) {
        LogLine line;
        BeginLogLineNow(&line);
        AddLogText(&line, "thread ");
        AddLogNumber(&line, static_cast<std::uint32_t>(thread));
        AddLogText(&line, " line ");
        AddLogNumber(&line, static_cast<std::uint32_t>(number));
        AddLogText(&line, " ................................................................................");
        WriteLogLine(&line);
    }
    return 0;
}

int RunLogThreads(char** args) {
    const int threads = atoi(args[0]);
    g_lines = atoi(args[1]);
    OpenSupportLog();
    HANDLE handles[16] = {};
    for (int t = 0; t < threads && t < 16; ++t)
        handles[t] = CreateThread(nullptr, 0, WriteLines, reinterpret_cast<void*>(static_cast<intptr_t>(t)), 0, nullptr);
    WaitForMultipleObjects(threads < 16 ? threads : 16, handles, TRUE, INFINITE);
    printf("done=1\n");
    return 0;
}

}  // namespace

const ProbeCommand kLogCommands[] = {
    {"log-threads", 2, "THREADS LINES", RunLogThreads},
    {nullptr, 0, nullptr, nullptr},
};
