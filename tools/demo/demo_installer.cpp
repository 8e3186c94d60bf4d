// Stand-in for the real Tembra Orvane installer in the demo: shows that it
// was started, then ends after a few seconds or on OK.
#include <windows.h>

static const UINT_PTR CLOSE_TIMER = 1;
static const UINT CLOSE_AFTER_MS = 6000;

static INT_PTR CALLBACK InstalledDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        SetTimer(dialog, CLOSE_TIMER, CLOSE_AFTER_MS, nullptr);
        return TRUE;
    case WM_TIMER:
        EndDialog(dialog, 0);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) EndDialog(dialog, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    DialogBoxParamA(instance, "INSTALLED", nullptr, InstalledDialogProc, 0);
    return 0;
}
