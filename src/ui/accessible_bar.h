// The progress bar of the manager window, exposed to assistive technology
// (Microsoft Active Accessibility) as a progress bar with a value.
#pragma once

#include <windows.h>

// Wraps the window procedure of dialog's progress control so that it
// answers WM_GETOBJECT with the bar's accessible object. Once per run.
void MakeProgressBarAccessible(HWND dialog);

// Tells assistive technology that the bar's value changed
// (EVENT_OBJECT_VALUECHANGE).
void AnnounceProgressValue(HWND dialog);
