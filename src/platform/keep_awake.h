// Keeps the machine from sleeping while the installer downloads: a laptop
// that goes to sleep after its idle time would otherwise cut the transfer,
// and the user who left it downloading comes back to a failure.
//
// The request belongs to the calling thread (the system drops it when the
// thread ends): the worker makes it at its start and clears it at its end.
#pragma once

#include <windows.h>

// How the request is made: SetThreadExecutionState; null: the system's own.
// Tests put a recording one in its place.
using ExecutionStateFunction = EXECUTION_STATE(WINAPI*)(EXECUTION_STATE);
extern ExecutionStateFunction g_setThreadExecutionState;

// ES_CONTINUOUS | ES_SYSTEM_REQUIRED: the system stays awake (the display
// may still go dark) until LetMachineSleep.
void KeepMachineAwake();
// ES_CONTINUOUS alone: the system's idle rules again.
void LetMachineSleep();
