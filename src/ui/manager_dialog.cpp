// Dialog procedure of the manager window: translates its messages into the
// events of the download manager flow.
#include "download/manager_flow.h"
#include "download/manager_state.h"
#include "ui/accessible_bar.h"
#include "ui/manager_window.h"
#include "ui/proxy_credentials.h"
#include "ui/single_instance.h"

static INT_PTR OnInitDialog(HWND dialog) {
    MarkProgramWindow(dialog);
    EnableProxyCredentials(dialog);
    MakeProgressBarAccessible(dialog);
    OnManagerInit(ManagerWindowOps(dialog));
    return TRUE;
}

// Only command 1 ends the window, also while the OK button is hidden; the
// Escape key and the close box send command 2, which is ignored.
static INT_PTR OnCommand(HWND dialog, WORD command) {
    if (command == IDOK) OnManagerOk(ManagerWindowOps(dialog));
    return FALSE;
}

// Maximising is refused; a restore also takes caret and selection off the
// status box. The low four bits are not masked: only the exact commands count.
static INT_PTR OnSysCommand(HWND dialog, WPARAM wParam) {
    switch (LOWORD(wParam)) {
    case SC_MAXIMIZE:
        ShowWindow(dialog, SW_SHOWNORMAL);
        return TRUE;
    case SC_RESTORE: {
        ShowWindow(dialog, SW_RESTORE);
        const WindowOps ops = ManagerWindowOps(dialog);
        ops.deselectStatus(ops.window);
        ops.parkFocus(ops.window);
        return TRUE;
    }
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK ManagerDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(dialog);
    case WM_DLM_START:
        OnManagerStart(ManagerWindowOps(dialog));
        return TRUE;
    case WM_DLM_PROGRESS:
        OnManagerProgress(ManagerWindowOps(dialog));
        return TRUE;
    case WM_DLM_RETRYING:
        OnManagerRetrying(static_cast<unsigned>(wParam));
        return TRUE;
    case WM_DLM_ATTEMPT:
        OnManagerAttempt();
        return TRUE;
    case WM_DLM_FINISHED:
        OnManagerFinished(ManagerWindowOps(dialog), LOWORD(wParam));
        return TRUE;
    case WM_DLM_PROXY_CREDENTIALS:
        SetWindowLongPtrA(dialog, DWLP_MSGRESULT, ShowProxyCredentials(dialog, reinterpret_cast<HINTERNET>(lParam)));
        return TRUE;
    case WM_TIMER:
        OnManagerTick(ManagerWindowOps(dialog), LOWORD(wParam));
        return TRUE;
    case WM_COMMAND:
        return OnCommand(dialog, LOWORD(wParam));
    case WM_SYSCOMMAND:
        return OnSysCommand(dialog, wParam);
    case WM_ACTIVATE:
        ForgetFocusSinkActivation();
        return FALSE;  // otherwise left to the dialog manager
    case WM_DESTROY:
        OnManagerDestroy(ManagerWindowOps(dialog));
        return FALSE;
    default:
        return FALSE;
    }
}
