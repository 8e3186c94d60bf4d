// The download manager flow on a recording double of its window: every
// window operation is logged, and those the flow relies on to go on (timer,
// posting START, the worker) are carried out on a message-only window.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "download/download_worker.h"
#include "download/manager_flow.h"
#include "download/manager_state.h"
#include "install/installer.h"
#include "platform/keep_awake.h"
#include "platform/support_log.h"
#include "probe.h"

namespace {

std::vector<std::string> g_log;
HWND g_window;
bool g_ended, g_okShown;

void Log(const std::string& entry) { g_log.push_back(entry); }

void* StatusBox(void*) {
    Log("statusBox");
    return reinterpret_cast<void*>(static_cast<uintptr_t>(1001));
}
void SetTitle(void*, const char* text) { Log(std::string("title:") + text); }
void SetStatusText(void*, const char* text) { Log(std::string("status:") + text); }
void RepaintStatus(void*) { Log("repaint"); }
void DeselectStatus(void*) { Log("deselect"); }
void ParkFocus(void*) { Log("park"); }
void ActivateFocusSink(void*) { Log("activate"); }
void ShowOkButton(void*) {
    Log("showOk");
    g_okShown = true;
}
void RedrawProgress(void*) { Log("redraw:" + std::to_string(g_manager.downloaded.load())); }
std::int32_t StartTickerTimer(void*) {
    const std::int32_t id = static_cast<std::int32_t>(SetTimer(g_window, TICKER_TIMER_ID, TICKER_PERIOD_MS, nullptr));
    Log("timer:" + std::to_string(id));
    return id;
}
void KillTickerTimer(void*, std::int32_t id) {
    KillTimer(g_window, static_cast<UINT_PTR>(id));
    Log("kill:" + std::to_string(id));
}
void PostStart(void*) {
    PostMessageA(g_window, WM_DLM_START, 0, 0);
    Log("postStart");
}
void StartWorker(void*) {
    Log("worker");
    StartDownloadWorker(g_window);
}
void EndWindow(void*, int result) {
    Log("end:" + std::to_string(result));
    g_ended = true;
}

WindowOps MakeRecorder() {
    WindowOps ops = {};
    ops.statusBox = StatusBox;
    ops.setTitle = SetTitle;
    ops.setStatusText = SetStatusText;
    ops.repaintStatus = RepaintStatus;
    ops.deselectStatus = DeselectStatus;
    ops.parkFocus = ParkFocus;
    ops.activateFocusSink = ActivateFocusSink;
    ops.showOkButton = ShowOkButton;
    ops.redrawProgress = RedrawProgress;
    ops.startTickerTimer = StartTickerTimer;
    ops.killTimer = KillTickerTimer;
    ops.postStart = PostStart;
    ops.startWorker = StartWorker;
    ops.endWindow = EndWindow;
    return ops;
}

const WindowOps kRecorder = MakeRecorder();

// The requests to keep the machine awake, in order: "awake" for
// ES_CONTINUOUS | ES_SYSTEM_REQUIRED, "sleep" for ES_CONTINUOUS alone, the
// value in hex for anything else. Any thread may make them.
std::string g_executionStates;
CRITICAL_SECTION g_executionStatesLock;
EXECUTION_STATE WINAPI RecordExecutionState(EXECUTION_STATE state) {
    EnterCriticalSection(&g_executionStatesLock);
    if (!g_executionStates.empty()) g_executionStates += ',';
    char other[16];
    snprintf(other, sizeof other, "%lx", static_cast<unsigned long>(state));
    const EXECUTION_STATE awake = ES_CONTINUOUS | ES_SYSTEM_REQUIRED;
    g_executionStates += state == awake ? "awake" : state == ES_CONTINUOUS ? "sleep" : other;
    LeaveCriticalSection(&g_executionStatesLock);
    return SetThreadExecutionState(state);
}

LRESULT CALLBACK FlowWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_DLM_START:
        OnManagerStart(kRecorder);
        return 0;
    case WM_DLM_PROGRESS:
        OnManagerProgress(kRecorder);
        return 0;
    case WM_DLM_RETRYING:
        Log("retrying:" + std::to_string(wParam));
        OnManagerRetrying(static_cast<unsigned>(wParam));
        return 0;
    case WM_DLM_ATTEMPT:
        OnManagerAttempt();
        return 0;
    case WM_DLM_FINISHED:
        Log("finished:" + std::to_string(LOWORD(wParam)));
        OnManagerFinished(kRecorder, LOWORD(wParam));
        return 0;
    case WM_TIMER:
        OnManagerTick(kRecorder, LOWORD(wParam));
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

// Delivers one scripted event after the run: tick:ID, ok, destroy, finished:OK.
void Deliver(const std::string& event) {
    Log("event:" + event);
    if (event.rfind("tick:", 0) == 0)
        OnManagerTick(kRecorder, static_cast<unsigned>(atoi(event.c_str() + 5)));
    else if (event == "ok")
        OnManagerOk(kRecorder);
    else if (event == "destroy")
        OnManagerDestroy(kRecorder);
}

// flow LANG EVENTS: INIT, then the window's messages until the window ends or
// shows its OK button (60 s at most), then EVENTS (comma-separated, "-" none).
int RunFlow(char** args) {
    g_manager.instance = GetModuleHandleA(nullptr);
    g_manager.language = args[0];
    InitializeCriticalSection(&g_executionStatesLock);
    g_setThreadExecutionState = RecordExecutionState;
    OpenSupportLog();
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = FlowWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "TembraProbeFlow";
    RegisterClassA(&windowClass);
    g_window = CreateWindowA("TembraProbeFlow", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, windowClass.hInstance,
                             nullptr);
    OnManagerInit(kRecorder);
    const DWORD deadline = GetTickCount() + 60000;
    while (!g_ended && !g_okShown && static_cast<int>(deadline - GetTickCount()) > 0) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        MSG message;
        while (!g_ended && !g_okShown && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    }
    std::string events = args[1];
    if (events != "-") {
        for (size_t start = 0; start <= events.size();) {
            const size_t comma = events.find(',', start);
            Deliver(events.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
    }
    for (const std::string& entry : g_log) PrintEscaped("op", entry.c_str());
    printf("language=%s\n", g_manager.language);
    printf("buffers=%d\n", g_manager.urlBuffer || g_manager.responseText ? 1 : 0);
    EnterCriticalSection(&g_executionStatesLock);
    printf("execution_states=%s\n", g_executionStates.c_str());
    LeaveCriticalSection(&g_executionStatesLock);
    fflush(stdout);
    FinishInstallation();  // as the program does once its window is gone
    return 0;
}

}  // namespace

const ProbeCommand kFlowCommands[] = {
    {"flow", 2, "LANG EVENTS", RunFlow},
    {nullptr, 0, nullptr, nullptr},
};
