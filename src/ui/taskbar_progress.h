// The download's progress on the manager window's taskbar button, where the
// system offers it (ITaskbarList3, Windows 7 on).
#pragma once

#include <windows.h>

// The button's states (the values of TBPFLAG).
enum TaskbarState {
    TASKBAR_NO_PROGRESS = 0x0,
    TASKBAR_NORMAL = 0x2,
    TASKBAR_ERROR = 0x4,
};

// The calls, through pointers so that a test can record them in place of
// the system's; each gives up silently where the system has no taskbar list.
struct TaskbarCalls {
    void (*setState)(HWND window, TaskbarState state);
    void (*setValue)(HWND window, int percent);  // 0 to 100
};
extern TaskbarCalls g_taskbar;
