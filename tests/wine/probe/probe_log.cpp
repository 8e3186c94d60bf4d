// log-threads THREADS LINES: opens the support log as the program does and
// has THREADS threads write LINES lines each at once ("thread T line N"
// padded to about 100 bytes), as the window, fetch and download threads do.
// log-past-full: fills the log alone to 40 bytes short of its room, then
// writes a line of 41 bytes (which does not fit) and one of 30 (which would).
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

// A line of total bytes, CR LF included.
void WriteLineOf(DWORD total) {
    LogLine line;
    BeginLogLineNow(&line);
    while (line.length + 2 < total) AddLogText(&line, ".");
    WriteLogLine(&line);
}

DWORD LogSize() {
    char path[MAX_PATH + 40];
    const DWORD length = GetTempPathA(MAX_PATH, path);
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (length == 0 || length >= MAX_PATH) return 0;
    lstrcpyA(path + length, "TembraDownloadManager.log");
    return GetFileAttributesExA(path, GetFileExInfoStandard, &data) ? data.nFileSizeLow : 0;
}

int RunLogPastFull(char**) {
    const DWORD room = LOG_FILE_LIMIT - 18;  // what "The log is full." and its CR LF leave
    OpenSupportLog();
    while (LogSize() + 200 < room) WriteLineOf(100);  // leaves 101 to 200 bytes
    WriteLineOf(room - LogSize() - 40);
    WriteLineOf(41);
    WriteLineOf(30);
    printf("done=1\n");
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
    {"log-past-full", 0, "", RunLogPastFull},
    {nullptr, 0, nullptr, nullptr},
};
