#include "platform/read_pacing.h"

#include "platform/system_libraries.h"

TimerPeriodFunction g_beginTimerPeriod, g_endTimerPeriod;
SetProcessInformationFunction g_setProcessInformation;
CreateWaitableTimerExWFunction g_createWaitableTimerExW;
SleepFunction g_sleep;

// From processthreadsapi.h of newer SDKs.
static const int PROCESS_POWER_THROTTLING_CLASS = 4;  // ProcessPowerThrottling
static const ULONG POWER_THROTTLING_VERSION = 1;
static const ULONG POWER_THROTTLING_IGNORE_TIMER_RESOLUTION = 0x4;
struct PowerThrottlingState {
    ULONG version;
    ULONG controlMask;
    ULONG stateMask;
};
static const DWORD HIGH_RESOLUTION_TIMER = 0x2;  // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
static const DWORD PAUSE_WAIT_BOUND_MS = 100;    // the timer is due in 1 ms; never wait for ever

template <typename Function>
static void ResolveKernel32(Function* function, const char* name) {
    if (!*function) *function = reinterpret_cast<Function>(Kernel32Function(name));
}

// Where the opt-out or the class is unknown (before Windows 11) the call
// fails and nothing changes, as it should.
static void OptOutOfTimerThrottling() {
    ResolveKernel32(&g_setProcessInformation, "SetProcessInformation");
    if (!g_setProcessInformation) return;
    PowerThrottlingState state = {POWER_THROTTLING_VERSION, POWER_THROTTLING_IGNORE_TIMER_RESOLUTION, 0};
    g_setProcessInformation(GetCurrentProcess(), PROCESS_POWER_THROTTLING_CLASS, &state, sizeof state);
}

static bool RaiseTimerResolution() {
    if (!g_beginTimerPeriod) {
        const WinmmApi* winmm = Winmm();
        if (!winmm) return false;
        g_beginTimerPeriod = winmm->timeBeginPeriod;
        g_endTimerPeriod = winmm->timeEndPeriod;
    }
    return g_beginTimerPeriod(1) == TIMERR_NOERROR;
}

ReadPacing BeginReadPacing(DWORD pauseMs) {
    ReadPacing pacing = {pauseMs, nullptr, false};
    if (pauseMs == 0) return pacing;
    if (!g_sleep) g_sleep = Sleep;
    OptOutOfTimerThrottling();
    ResolveKernel32(&g_createWaitableTimerExW, "CreateWaitableTimerExW");
    if (g_createWaitableTimerExW)
        pacing.timer = g_createWaitableTimerExW(nullptr, nullptr, HIGH_RESOLUTION_TIMER, TIMER_ALL_ACCESS);
    if (!pacing.timer) pacing.raised = RaiseTimerResolution();  // the flag is unknown before 1803
    return pacing;
}

void PauseAfterRead(const ReadPacing& pacing) {
    if (pacing.pauseMs == 0) return;
    LARGE_INTEGER due;
    due.QuadPart = -10000LL * pacing.pauseMs;  // relative, in 100 ns
    if (pacing.timer && SetWaitableTimer(pacing.timer, &due, 0, nullptr, nullptr, FALSE) &&
        WaitForSingleObject(pacing.timer, PAUSE_WAIT_BOUND_MS) == WAIT_OBJECT_0)
        return;
    g_sleep(pacing.pauseMs);
}

void EndReadPacing(const ReadPacing& pacing) {
    if (pacing.timer) CloseHandle(pacing.timer);
    if (pacing.raised) g_endTimerPeriod(1);
}
