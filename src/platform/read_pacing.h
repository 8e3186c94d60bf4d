// The download worker's pause after each read, as long as it is meant to be
// on every Windows.
//
// Sleep(1) lasts a timer tick: 15.6 ms at Windows' default resolution, which
// would cap a 4 KiB-per-read download near 0.25 MiB/s. So the pause is a
// wait on a high-resolution waitable timer (Windows 10 1803 and later), or
// else Sleep with the timer resolution raised to 1 ms. Windows 11 no longer
// grants a raised resolution to a process whose windows are hidden or
// covered ("Windows does not guarantee a higher resolution than the default
// system resolution", timeBeginPeriod's documentation), unless the process
// opts out of that throttling, which the worker does first.
#pragma once

#include <windows.h>

// The system functions the pacing uses; null: the system's own, looked up
// on first use (kernel32's, absent on older systems, and winmm's). Tests put
// recording ones in their place.
using TimerPeriodFunction = UINT(WINAPI*)(UINT);
extern TimerPeriodFunction g_beginTimerPeriod, g_endTimerPeriod;
using SetProcessInformationFunction = BOOL(WINAPI*)(HANDLE, int, void*, DWORD);
extern SetProcessInformationFunction g_setProcessInformation;
using CreateWaitableTimerExWFunction = HANDLE(WINAPI*)(SECURITY_ATTRIBUTES*, const wchar_t*, DWORD, DWORD);
extern CreateWaitableTimerExWFunction g_createWaitableTimerExW;
using SleepFunction = void(WINAPI*)(DWORD);
extern SleepFunction g_sleep;

struct ReadPacing {
    DWORD pauseMs;
    HANDLE timer;  // high-resolution waitable timer, or null
    bool raised;   // timer resolution raised for the Sleep fallback
};

// Opts the process out of timer throttling and prepares the pause of
// pauseMs (0: none, nothing is asked of the system).
ReadPacing BeginReadPacing(DWORD pauseMs);
void PauseAfterRead(const ReadPacing& pacing);
void EndReadPacing(const ReadPacing& pacing);
