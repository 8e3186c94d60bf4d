#include "download/download_worker.h"

#include <process.h>

#include <cstring>

#include "download/manager_state.h"
#include "download/package_rules.h"
#include "download/transfer_settings.h"
#include "install/installer_file.h"
#include "platform/internet.h"
#include "platform/read_pacing.h"

// An error page is not an installer: only a 2xx answer is downloaded. The
// download address is always http:// or https:// (AcceptDownloadBase).
static bool AnswerIsSuccess(HINTERNET request) {
    DWORD status = 0;
    if (!QueryHttpNumber(request, HTTP_QUERY_STATUS_CODE, &status)) return false;
    return status >= 200 && status <= 299;
}

// WinINet ends a body that the server cut off early like a complete one (a
// read of 0 bytes), with or without a Content-Length, chunked or ended by a
// close. Where the answer announced its length, fewer bytes than that are a
// failed transfer; where it did not, fewer bytes than the info file's total.
static bool ReceivedWholeBody(HINTERNET request, DWORD received) {
    DWORD announced = 0;
    if (!QueryHttpNumber(request, HTTP_QUERY_CONTENT_LENGTH, &announced))
        return g_manager.totalSize > 0 && received >= static_cast<DWORD>(g_manager.totalSize);
    return received == announced;
}

PostFunction g_postWorkerMessage = PostMessageA;

static void Report(HWND window, unsigned message, int ok) { g_postWorkerMessage(window, message, ok, 0); }

// A full message queue (10,000 posts on Windows) refuses posts. Progress
// may be lost, the end of the transfer may not: the window would stay in
// Downloading for ever. So it is posted again until it lands or the window
// is gone.
static void ReportFinished(HWND window, int ok) {
    while (!g_postWorkerMessage(window, WM_DLM_FINISHED, ok, 0) && IsWindow(window)) Sleep(FINISHED_RETRY_MS);
}

// Reads the body into the installer file, READ_SIZE bytes asked of each
// read and the pause after each. Returns the last result.
static int Transfer(HWND window, HINTERNET request, const ReadPacing& pacing) {
    static char chunk[MAX_READ_SIZE];  // one worker per run
    int ok = 1;
    DWORD count = 0, received = 0;
    do {
        count = 0;
        ok = ReadInternet(request, chunk, READ_SIZE, &count) ? 1 : 0;
        if (count > READ_SIZE) count = 0;
        PauseAfterRead(pacing);
        if (!WriteInstallerFile(chunk, count)) ok = 0;
        received += count;
        g_manager.downloaded.fetch_add(static_cast<std::int32_t>(count));
        Report(window, WM_DLM_PROGRESS, ok);
    } while (count != 0 && ok == 1);
    if (ok == 1 && !ReceivedWholeBody(request, received)) ok = 0;
    return ok;
}

// Creates the file, opens the root and the address, transfers the body and
// releases the address and the root. The file stays held after a complete
// download, until the installer starts; a failed one lets it go.
// Returns the result for WM_DLM_FINISHED.
static int RunDownload(HWND window, const ReadPacing& pacing) {
    if (!CreateInstallerFile()) return 0;
    int ok = 0;
    char* address = g_manager.downloadAddress;
    HINTERNET root = OpenInternetRoot();
    HINTERNET request = nullptr;
    if (root && AppendText(address, ADDRESS_BUFFER_SIZE, g_manager.installerFileName))
        request = OpenInternetUrl(root, address);
    if (request && AnswerIsSuccess(request)) ok = Transfer(window, request, pacing);
    if (ok != 1) ReleaseInstallerFile();
    if (request) CloseInternetHandle(request);
    if (root) CloseInternetHandle(root);
    return ok;
}

void __cdecl DownloadWorker(void* parameter) {
    HWND window = static_cast<HWND>(parameter);
    const ReadPacing pacing = BeginReadPacing(READ_PAUSE_MS);
    const int ok = RunDownload(window, pacing);  // every way out of the transfer comes back here
    EndReadPacing(pacing);
    ReportFinished(window, ok);
    _endthread();
}

void StartDownloadWorker(HWND window) {
    if (_beginthread(DownloadWorker, 0, window) == static_cast<uintptr_t>(-1)) ReportFinished(window, 0);
}
