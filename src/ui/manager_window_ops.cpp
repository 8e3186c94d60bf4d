// The flow's window operations on the real manager dialog.
#include "download/download_worker.h"
#include "download/manager_state.h"
#include "ui/manager_window.h"
#include "ui/progress_bar.h"
#include "ui/progress_report.h"
#include "ui/resource_ids.h"

namespace {

HWND Dialog(void* window) { return static_cast<HWND>(window); }
HWND Item(void* window, int id) { return GetDlgItem(Dialog(window), id); }

void* StatusBox(void* window) { return Item(window, IDC_STATUS); }
void SetTitle(void* window, const char* text) { SetWindowTextA(Dialog(window), text); }
void SetStatusText(void* window, const char* text) { SetWindowTextA(Item(window, IDC_STATUS), text); }
void RepaintStatus(void* window) { UpdateWindow(Item(window, IDC_STATUS)); }
void DeselectStatus(void* window) { PostMessageA(Item(window, IDC_STATUS), EM_SETSEL, static_cast<WPARAM>(-1), 0); }

// Whether the focus sink's activation is in place: set once it was
// activated, cleared when the dialog's activation changes. Every chunk of a
// download asks for the activation; from the second on it is skipped
// instead of costing two calls into the window manager (wineserver).
bool g_sinkActivated;

void ActivateSink(HWND sink) {
    SetActiveWindow(sink);
    g_sinkActivated = true;
}

// The status box behaves as if it lost the focus to the hidden focus sink:
// no caret, no selection.
void ParkFocus(void* window) {
    HWND status = Item(window, IDC_STATUS), sink = Item(window, IDC_FOCUS_SINK);
    PostMessageA(status, WM_KILLFOCUS, reinterpret_cast<WPARAM>(sink), 0);
    PostMessageA(sink, WM_SETFOCUS, reinterpret_cast<WPARAM>(status), 0);
    ActivateSink(sink);
}

void ActivateFocusSink(void* window) {
    if (!g_sinkActivated) ActivateSink(Item(window, IDC_FOCUS_SINK));
}

// Only a failure shows the OK button.
void ShowOkButton(void* window) {
    ReportFailure(Dialog(window));
    HWND ok = Item(window, IDOK);
    ShowWindow(ok, SW_SHOW);
    SetFocus(ok);
}

void RedrawProgress(void* window) {
    DrawProgressBar(Dialog(window));
    ReportProgress(Dialog(window));
}

std::int32_t StartTickerTimer(void* window) {
    return static_cast<std::int32_t>(SetTimer(Dialog(window), TICKER_TIMER_ID, TICKER_PERIOD_MS, nullptr));
}

void KillTickerTimer(void* window, std::int32_t id) { KillTimer(Dialog(window), static_cast<UINT_PTR>(id)); }
void PostStart(void* window) { PostMessageA(Dialog(window), WM_DLM_START, 0, 0); }
void StartWorker(void* window) { StartDownloadWorker(Dialog(window)); }
void EndWindow(void* window, int result) {
    ReportEnd(Dialog(window));
    EndDialog(Dialog(window), result);
}

}  // namespace

void ForgetFocusSinkActivation() { g_sinkActivated = false; }

WindowOps ManagerWindowOps(HWND dialog) {
    WindowOps ops = {};
    ops.window = dialog;
    ops.statusBox = StatusBox;
    ops.setTitle = SetTitle;
    ops.setStatusText = SetStatusText;
    ops.repaintStatus = RepaintStatus;
    ops.deselectStatus = DeselectStatus;
    ops.parkFocus = ParkFocus;
    ops.activateFocusSink = ActivateFocusSink;
    ops.showOkButton = ShowOkButton;
    ops.redrawProgress = RedrawProgress;
    ops.startTickerTimer = StartTickerTimer;
    ops.killTimer = KillTickerTimer;
    ops.postStart = PostStart;
    ops.startWorker = StartWorker;
    ops.endWindow = EndWindow;
    return ops;
}
