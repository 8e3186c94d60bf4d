#include "download/download_worker.h"

#include <process.h>

#include <cstring>

#include "download/download_attempt.h"
#include "download/manager_state.h"
#include "download/package_rules.h"
#include "download/transfer_settings.h"
#include "install/download_folder.h"
#include "install/installer_file.h"
#include "platform/internet.h"
#include "platform/network_timeouts.h"
#include "platform/read_pacing.h"
#include "platform/support_log.h"

// A full message queue (10,000 posts on Windows) refuses posts. Progress
// may be lost, the end of the transfer may not: the window would stay in
// Downloading for ever. So it is posted again until it lands or the window
// is gone.
static void ReportFinished(HWND window, int ok) {
    while (!g_postWorkerMessage(window, WM_DLM_FINISHED, ok, 0) && IsWindow(window)) Sleep(FINISHED_RETRY_MS);
}

// A little jitter, so that clients that lost one connection together do
// not come back together.
static unsigned JitterMs() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<unsigned>(now.LowPart * 2654435761u >> 8) % RETRY_JITTER_MS;
}

// Attempts until one ends the transfer, at most MAX_DOWNLOAD_ATTEMPTS, with
// waits of 2, 4 and 8 s (or the server's Retry-After) between them, and no
// more than RETRY_BUDGET_MS spent on retrying in all. The window is told of
// every wait, so that its stall watchdog does not count it.
static int TransferWithRetries(HWND window, HINTERNET root, const char* address, const ReadPacing& pacing) {
    TransferState state = {};
    state.retryAfterSeconds = -1;
    DWORD retryingSince = 0;
    for (int attempt = 1;; ++attempt) {
        const AttemptResult result = TryTransfer(window, root, address, &state, pacing);
        LogAttemptEnd(attempt, result, state.written);
        if (result == AttemptResult::Done) return 1;
        if (result == AttemptResult::Failed || attempt == MAX_DOWNLOAD_ATTEMPTS) return 0;
        if (attempt == 1) retryingSince = GetTickCount();
        const unsigned wait = RetryDelayMs(attempt, state.retryAfterSeconds, JitterMs()) / RETRY_WAIT_DIVISOR;
        if (GetTickCount() - retryingSince + wait > RETRY_BUDGET_MS) return 0;
        ReportToWindow(window, WM_DLM_RETRYING, wait);
        LogRetryWait(wait);
        Sleep(wait);
    }
}

// Creates the file, opens the root, transfers the body and releases the
// root. The file stays held after a complete download, until the installer
// starts; a failed one lets it go. Returns the result for WM_DLM_FINISHED.
static int RunDownload(HWND window, const ReadPacing& pacing) {
    RemoveAbandonedDownloadFolders();
    if (!CreateInstallerFile()) return 0;
    int ok = 0;
    char* address = g_manager.downloadAddress;
    // Windows ends a read that waits this long, and the attempt is tried
    // again: the window's stall watchdog (DOWNLOAD_STALL_MS) must not come
    // first. (Wine honours no receive timeout: there the watchdog ends a
    // stall.)
    HINTERNET root = OpenInternetRoot(DOWNLOAD_STALL_MS * 2 / 3);
    if (root && AppendText(address, ADDRESS_BUFFER_SIZE, g_manager.installerFileName))
        ok = TransferWithRetries(window, root, address, pacing);
    if (ok != 1) ReleaseInstallerFile();
    if (root) CloseInternetHandle(root);
    return ok;
}

void __cdecl DownloadWorker(void* parameter) {
    HWND window = static_cast<HWND>(parameter);
    const ReadPacing pacing = BeginReadPacing(READ_PAUSE_MS);
    const int ok = RunDownload(window, pacing);  // every way out of the transfer comes back here
    EndReadPacing(pacing);
    g_manager.workerRunning.store(false);
    ReportFinished(window, ok);
    _endthread();
}

void StartDownloadWorker(HWND window) {
    g_manager.workerRunning.store(true);
    if (_beginthread(DownloadWorker, 0, window) == static_cast<uintptr_t>(-1)) {
        g_manager.workerRunning.store(false);
        ReportFinished(window, 0);
    }
}
