// Probe commands for package selection, the info file and the worker.
#include <cstdlib>
#include <cstring>
#include <string>

#include "download/download_worker.h"
#include "download/info_file.h"
#include "download/manager_state.h"
#include "install/download_folder.h"
#include "download/package.h"
#include "download/transfer_settings.h"
#include "probe.h"

// Logs every library the prefix rule asks for, then reads it for real.
static bool LoggingVersionReader(const char* path, unsigned* major, unsigned* minor, void*) {
    const bool ok = GetFileVersion(path, major, minor);
    PrintEscaped("read", path);
    if (ok) printf("version=%u.%u\n", *major, *minor);
    return ok;
}

// prefix DIR: the prefix rule on a folder of test libraries (DIR ends in "\").
static int RunPrefix(char** args) {
    printf("prefix=%s\n", ChoosePackagePrefix(args[0], LoggingVersionReader, nullptr));
    return 0;
}

// compose BASE LANG: ComposePackage on the system directory.
static int RunCompose(char** args) {
    char url[TEXT_BUFFER_SIZE] = {};
    std::strncpy(url, args[0], sizeof url - 1);
    printf("system_prefix=%s\n", SystemPackagePrefix());
    char fileName[ADDRESS_BUFFER_SIZE] = {};
    printf("result=%d\n", ComposePackage(url, sizeof url, fileName, sizeof fileName, args[1]) ? 1 : 0);
    PrintEscaped("url", url);
    PrintEscaped("file", fileName);
    return 0;
}

// info URL: ParseInfoFile on URL.
static int RunInfo(char** args) {
    g_manager.urlBuffer = static_cast<char*>(std::calloc(TEXT_BUFFER_SIZE, 1));
    g_manager.responseText = static_cast<char*>(std::calloc(TEXT_BUFFER_SIZE, 1));
    std::strncpy(g_manager.urlBuffer, args[0], TEXT_BUFFER_SIZE - 1);
    printf("result=%d\n", ParseInfoFile() ? 1 : 0);
    printf("total=%d\n", g_manager.totalSize);
    PrintEscaped("news", g_manager.tickerStart ? g_manager.tickerStart : "");
    return 0;
}

static std::string g_messages;
static bool g_finished;

static LRESULT CALLBACK RecorderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DLM_PROGRESS || message == WM_DLM_FINISHED) {
        if (!g_messages.empty()) g_messages += ',';
        g_messages += message == WM_DLM_PROGRESS ? 'P' : 'F';
        g_messages += std::to_string(static_cast<long long>(wParam));
        if (lParam != 0) g_messages += "!lParam";
        if (message == WM_DLM_FINISHED) g_finished = true;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Refuses the first g_refusals posts of WM_DLM_FINISHED, as a full queue would.
static int g_refusals, g_refused;
static BOOL WINAPI RefusingPost(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DLM_FINISHED && g_refused < g_refusals) {
        ++g_refused;
        return FALSE;
    }
    return PostMessageA(window, message, wParam, lParam);
}

static int RunWorker(char** args);

// Records the worker's requests for a 1 ms timer resolution, as "b1" and "e1".
static std::string g_timerCalls;
static UINT WINAPI RecordBegin(UINT period) {
    g_timerCalls += "b" + std::to_string(period);
    return TIMERR_NOERROR;
}
static UINT WINAPI RecordEnd(UINT period) {
    g_timerCalls += "e" + std::to_string(period);
    return TIMERR_NOERROR;
}

// The pacing's other system functions, recorded: the throttling opt-out as
// "t<class>:<version>/<control>/<state>", a timer asked for as "h<flags>"
// (given when g_giveTimer), and the Sleep fallback's calls, counted.
static std::string g_pacingCalls;
static bool g_giveTimer = true;
static int g_sleeps;
static BOOL WINAPI RecordSetProcessInformation(HANDLE, int infoClass, void* info, DWORD size) {
    const ULONG* state = static_cast<const ULONG*>(info);
    g_pacingCalls += "t" + std::to_string(infoClass) + ":" +
                     (size == 3 * sizeof(ULONG) ? std::to_string(state[0]) + "/" + std::to_string(state[1]) + "/" +
                                                      std::to_string(state[2])
                                                : "size" + std::to_string(size)) + ",";
    return TRUE;
}
static HANDLE WINAPI RecordCreateTimer(SECURITY_ATTRIBUTES*, const wchar_t*, DWORD flags, DWORD) {
    g_pacingCalls += "h" + std::to_string(flags) + ",";
    // A plain waitable timer stands in: the worker must not care which.
    return g_giveTimer ? CreateWaitableTimerA(nullptr, FALSE, nullptr) : nullptr;
}
static void WINAPI RecordSleep(DWORD ms) {
    ++g_sleeps;
    Sleep(ms);
}

// worker-paced timer|no-timer BASE FILE: the worker with the pacing's
// system functions recorded, the high-resolution timer given or not.
static int RunWorkerPaced(char** args) {
    g_giveTimer = std::strcmp(args[0], "timer") == 0;
    g_setProcessInformation = RecordSetProcessInformation;
    g_createWaitableTimerExW = RecordCreateTimer;
    g_sleep = RecordSleep;
    const int result = RunWorker(args + 1);
    printf("pacing=%s\nsleeps=%d\n", g_pacingCalls.c_str(), g_sleeps);
    return result;
}

// pacing-support: what this system offers of the throttling opt-out and the
// high-resolution timer, and how long 200 pauses of 1 ms take each way.
static int RunPacingSupport(char**) {
    using SetInfo = BOOL(WINAPI*)(HANDLE, int, void*, DWORD);
    using CreateTimer = HANDLE(WINAPI*)(SECURITY_ATTRIBUTES*, const wchar_t*, DWORD, DWORD);
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    auto setInfo = reinterpret_cast<SetInfo>(reinterpret_cast<void*>(GetProcAddress(kernel32, "SetProcessInformation")));
    auto createTimer =
        reinterpret_cast<CreateTimer>(reinterpret_cast<void*>(GetProcAddress(kernel32, "CreateWaitableTimerExW")));
    ULONG state[3] = {1, 4, 0};
    SetLastError(0);
    const BOOL optedOut = setInfo ? setInfo(GetCurrentProcess(), 4, state, sizeof state) : FALSE;
    printf("set_process_information=%d\nopt_out=%d error=%lu\n", setInfo ? 1 : 0, optedOut ? 1 : 0, GetLastError());
    SetLastError(0);
    HANDLE timer = createTimer ? createTimer(nullptr, nullptr, 2, TIMER_ALL_ACCESS) : nullptr;
    printf("high_resolution_timer=%d error=%lu\n", timer ? 1 : 0, GetLastError());
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    auto measure = [&](const char* name, auto pause) {
        QueryPerformanceCounter(&start);
        for (int i = 0; i < 200; ++i) pause();
        QueryPerformanceCounter(&end);
        printf("%s_us=%lld\n", name, (end.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart / 200);
    };
    measure("sleep", [] { Sleep(1); });
    if (timer) {
        measure("timer", [&] {
            LARGE_INTEGER due;
            due.QuadPart = -10000;
            SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE);
            WaitForSingleObject(timer, 100);
        });
        CloseHandle(timer);
    }
    return 0;
}

// worker-refused N BASE FILE: the worker with its first N posts of
// WM_DLM_FINISHED refused.
static int RunWorkerRefused(char** args) {
    g_refusals = atoi(args[0]);
    g_postWorkerMessage = RefusingPost;
    const int result = RunWorker(args + 1);
    printf("refused=%d\n", g_refused);
    return result;
}

// worker BASE FILE: the worker on a message-only window that records the
// messages it receives, until WM_DLM_FINISHED or 120 s.
static int RunWorker(char** args) {
    // The private download folder in the current directory, where the test
    // finds it (and a disk of the test's choice lies).
    static wchar_t parent[MAX_PATH + 2];
    const DWORD length = GetCurrentDirectoryW(MAX_PATH, parent);
    if (length == 0 || length >= MAX_PATH) return 2;
    if (parent[length - 1] != L'\\') parent[length] = L'\\';
    g_downloadFolderParent = parent;
    std::strncpy(g_manager.downloadAddress, args[0], ADDRESS_BUFFER_SIZE - 1);
    std::strncpy(g_manager.installerFileName, args[1], ADDRESS_BUFFER_SIZE - 1);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = RecorderProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "TembraProbeRecorder";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA("TembraProbeRecorder", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                windowClass.hInstance, nullptr);
    g_beginTimerPeriod = RecordBegin;
    g_endTimerPeriod = RecordEnd;
    StartDownloadWorker(window);
    const DWORD deadline = GetTickCount() + 120000;
    while (!g_finished && static_cast<int>(deadline - GetTickCount()) > 0) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 200, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    }
    printf("finished=%d\n", g_finished ? 1 : 0);
    printf("messages=%s\n", g_messages.c_str());
    printf("downloaded=%d\n", g_manager.downloaded.load());
    printf("timer=%s\n", g_timerCalls.c_str());
    printf("read_size=%u\npause_ms=%u\n", READ_SIZE, READ_PAUSE_MS);
    return 0;
}

const ProbeCommand kDownloadCommands[] = {
    {"prefix", 1, "DIR\\", RunPrefix},
    {"compose", 2, "BASE LANG", RunCompose},
    {"info", 1, "URL", RunInfo},
    {"worker", 2, "BASE FILE", RunWorker},
    {"worker-refused", 3, "N BASE FILE", RunWorkerRefused},
    {"worker-paced", 3, "timer|no-timer BASE FILE", RunWorkerPaced},
    {"pacing-support", 0, "", RunPacingSupport},
    {nullptr, 0, nullptr, nullptr},
};
