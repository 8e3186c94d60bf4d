// WinINet's own credential dialog for a proxy that answers 407, shown on the
// manager window's thread whichever thread's request the proxy refused.
#pragma once

#include <windows.h>
#include <wininet.h>

// From now on a refused request of any thread is handed to window.
void EnableProxyCredentials(HWND window);

// WM_DLM_PROXY_CREDENTIALS: shows the dialog owned by window for request;
// 1 when the user gave credentials, 0 on Cancel.
LRESULT ShowProxyCredentials(HWND window, HINTERNET request);
