// What the progress bar stands for, told beyond its pixels: to assistive
// technology and to the taskbar button, once per whole percent.
#pragma once

#include <windows.h>

// After every redraw of the bar: when the whole percentage grew, announces
// it (ui/accessible_bar.h) and shows it on the taskbar button. Like the
// drawn bar it never falls back, so a download tells each value once: at
// most 101 times.
void ReportProgress(HWND dialog);

// The whole percentage the bar shows, 0 to 100.
int ReportedPercent();

// A failure text is shown: the taskbar button turns to its error state.
void ReportFailure(HWND dialog);

// The window ends: the taskbar button shows no progress any more.
void ReportEnd(HWND dialog);
