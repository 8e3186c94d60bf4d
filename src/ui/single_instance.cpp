#include "ui/single_instance.h"

// "Local\" keeps the name in the session's namespace: two users logged on to
// one machine may each run a copy, one user may not run two. Two copies in
// one folder would truncate and write the same installer file and each start
// whatever the other left of it.
static const char PROGRAM_MUTEX[] = "Local\\Tembra Download Manager";
// A window property rather than a caption or class: captions are translated
// and both windows are plain dialogs.
static const char WINDOW_MARK[] = "Tembra Download Manager";

void MarkProgramWindow(HWND window) { SetPropA(window, WINDOW_MARK, reinterpret_cast<HANDLE>(1)); }

static BOOL CALLBACK FindMarkedWindow(HWND window, LPARAM found) {
    if (!GetPropA(window, WINDOW_MARK)) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

static void BringFirstCopyForward() {
    HWND window = nullptr;
    EnumWindows(FindMarkedWindow, reinterpret_cast<LPARAM>(&window));
    if (!window) return;  // between its two windows, or ending
    if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
    SetForegroundWindow(window);
}

// Held while the copy has a window. A mutex that cannot be created at all
// does not stop the program; it only loses the guard.
static HANDLE g_mutex;

bool BecomeOnlyCopy() {
    g_mutex = CreateMutexA(nullptr, FALSE, PROGRAM_MUTEX);
    if (g_mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
        BringFirstCopyForward();
        return false;
    }
    return true;
}

void LeaveOnlyCopy() {
    if (g_mutex) CloseHandle(g_mutex);
    g_mutex = nullptr;
}
