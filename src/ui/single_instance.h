// One copy of the program at a time per session.
#pragma once

#include <windows.h>

// Takes the session's program mutex. False when another copy holds it: that
// copy's window was brought to the front, and this copy must end at once.
bool BecomeOnlyCopy();

// The copy's windows are gone (it may still wait for the installer): a new
// copy may start.
void LeaveOnlyCopy();

// Marks a top-level window of this copy as the one a later copy brings to
// the front (the language chooser, then the manager window).
void MarkProgramWindow(HWND window);
