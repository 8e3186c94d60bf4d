#include "platform/keep_awake.h"

ExecutionStateFunction g_setThreadExecutionState;

static ExecutionStateFunction SetExecutionState() {
    if (!g_setThreadExecutionState) g_setThreadExecutionState = SetThreadExecutionState;
    return g_setThreadExecutionState;
}

void KeepMachineAwake() { SetExecutionState()(ES_CONTINUOUS | ES_SYSTEM_REQUIRED); }

void LetMachineSleep() { SetExecutionState()(ES_CONTINUOUS); }
