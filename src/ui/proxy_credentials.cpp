#include "ui/proxy_credentials.h"

#include "download/constants.h"
#include "download/manager_state.h"
#include "platform/internet.h"
#include "platform/support_log.h"
#include "platform/system_libraries.h"

static HWND g_credentialsWindow;

// Sent, not posted: the refused request waits for the answer. The window's
// thread handles it in its message loop or, while it waits for a fetch, in
// that wait (WaitForFetch).
static bool AskThroughWindow(HINTERNET request) {
    return SendMessageA(g_credentialsWindow, WM_DLM_PROXY_CREDENTIALS, 0, reinterpret_cast<LPARAM>(request)) == 1;
}

void EnableProxyCredentials(HWND window) {
    g_credentialsWindow = window;
    g_askProxyCredentials = AskThroughWindow;
}

LRESULT ShowProxyCredentials(HWND window, HINTERNET request) {
    const WinInetApi* net = WinInet();
    if (!net) return 0;
    const DWORD opened = GetTickCount();
    g_manager.askingCredentials = true;  // the user's time is no stall
    const DWORD answer = net->InternetErrorDlg(
        window, request, ERROR_INTERNET_INCORRECT_PASSWORD,
        FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_GENERATE_DATA | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS,
        nullptr);
    g_manager.askingCredentials = false;
    g_manager.credentialsMs += GetTickCount() - opened;
    g_manager.lastProgressTick = GetTickCount();
    LogProxyCredentials(answer == ERROR_INTERNET_FORCE_RETRY);
    return answer == ERROR_INTERNET_FORCE_RETRY ? 1 : 0;
}
