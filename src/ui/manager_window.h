// The manager window: the modal dialog "MANAGER" in which the download
// manager flow runs.
#pragma once

#include <windows.h>

#include "download/window_ops.h"

// The flow's window operations realised on the dialog window.
WindowOps ManagerWindowOps(HWND dialog);

// The dialog's activation changed (WM_ACTIVATE): the focus sink's
// activation is no longer known to be in place.
void ForgetFocusSinkActivation();

INT_PTR CALLBACK ManagerDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
