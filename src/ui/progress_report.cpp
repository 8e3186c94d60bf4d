#include "ui/progress_report.h"

#include "download/manager_state.h"
#include "ui/accessible_bar.h"
#include "ui/progress_geometry.h"
#include "ui/taskbar_progress.h"

static int g_reportedPercent = -1;  // -1: nothing reported yet

int ReportedPercent() { return g_reportedPercent < 0 ? 0 : g_reportedPercent; }

void ReportProgress(HWND dialog) {
    const int percent = WholePercent(g_manager.downloaded.load(), g_manager.totalSize);
    if (percent <= g_reportedPercent) return;
    if (g_reportedPercent < 0) g_taskbar.setState(dialog, TASKBAR_NORMAL);
    g_reportedPercent = percent;
    AnnounceProgressValue(dialog);
    g_taskbar.setValue(dialog, percent);
}

void ReportFailure(HWND dialog) { g_taskbar.setState(dialog, TASKBAR_ERROR); }

void ReportEnd(HWND dialog) { g_taskbar.setState(dialog, TASKBAR_NO_PROGRESS); }
