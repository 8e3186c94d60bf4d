// manager-window PROGRAM LANG: the real manager dialog, from PROGRAM's own
// template and with the program's dialog procedure, runs the flow in LANG to
// its end (or until its OK button is pressed). The taskbar calls it makes
// are recorded in place of the system's and printed when it has ended, in
// order: "taskbar=state:N" (TBPFLAG) and "taskbar=value:PERCENT".
#include <string>
#include <vector>

#include "download/manager_state.h"
#include "platform/support_log.h"
#include "probe.h"
#include "ui/manager_window.h"
#include "ui/taskbar_progress.h"

namespace {

std::vector<std::string> g_calls;
HWND g_dialog;

void RecordState(HWND window, TaskbarState state) {
    g_calls.push_back((window == g_dialog || !g_dialog ? "state:" : "other-window-state:") + std::to_string(state));
}

void RecordValue(HWND window, int percent) {
    g_calls.push_back((window == g_dialog || !g_dialog ? "value:" : "other-window-value:") + std::to_string(percent));
}

// The dialog's first message tells its handle, so that calls for another
// window would show.
INT_PTR CALLBACK Wrapped(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) g_dialog = dialog;
    return ManagerDialogProc(dialog, message, wParam, lParam);
}

int RunManagerWindow(char** args) {
    HMODULE program = LoadLibraryExA(args[0], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!program) return 1;
    g_manager.instance = program;
    g_manager.language = args[1];
    g_taskbar.setState = RecordState;
    g_taskbar.setValue = RecordValue;
    OpenSupportLog();
    const INT_PTR result = DialogBoxParamA(program, "MANAGER", nullptr, Wrapped, 0);
    printf("result=%d\n", static_cast<int>(result));
    for (const std::string& call : g_calls) printf("taskbar=%s\n", call.c_str());
    printf("downloaded=%d\n", static_cast<int>(g_manager.downloaded.load()));
    return 0;
}

}  // namespace

const ProbeCommand kWindowCommands[] = {
    {"manager-window", 2, "PROGRAM LANG", RunManagerWindow},
    {nullptr, 0, nullptr, nullptr},
};
