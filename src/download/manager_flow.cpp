#include "download/manager_flow.h"

#include <windows.h>

#include <cstring>

#include "download/discovery.h"
#include "download/info_file.h"
#include "download/info_text.h"
#include "download/installer_pin.h"
#include "download/manager_state.h"
#include "download/mirrors.h"
#include "download/package.h"
#include "download/package_rules.h"
#include "download/stored_strings.h"
#include "install/distribution_id.h"
#include "install/installer.h"
#include "install/installer_file.h"
#include "install/installer_trust.h"
#include "platform/internet.h"
#include "platform/network_timeouts.h"
#include "platform/support_log.h"
#include "ui/progress_bar.h"

void ShowError(const WindowOps& ops, int number) {
    LogStatusText(number);
    ops.setStatusText(ops.window, LoadStatusText(number));
    ops.showOkButton(ops.window);
}

void OnManagerInit(const WindowOps& ops) {
    char id[DISTRIBUTION_ID_SIZE] = {};
    if (ReadDistributionId(id, sizeof id)) StoreDistributionId(id);
    ops.setTitle(ops.window, LoadStatusText(TEXT_TITLE));
    g_manager.statusBox = ops.statusBox(ops.window);
    ops.setStatusText(ops.window, LoadStatusText(TEXT_INITIALIZING));
    ops.deselectStatus(ops.window);
    ops.parkFocus(ops.window);
    ops.postStart(ops.window);
}

// A further download base the answer names, held to the download base's
// rules; one that breaks them is left out, and the others are tried.
static void KeepUsableMirrors(bool requireHttps, bool authenticated) {
    g_manager.mirrorCount = 0;
    const int count = ReadMirrors(g_manager.mirrors, MAX_MIRRORS, g_manager.installerFileName);
    for (int i = 0; i < count; ++i) {
        if (!AcceptDownloadBase(g_manager.mirrors[i], requireHttps, authenticated)) continue;
        char* kept = g_manager.mirrors[g_manager.mirrorCount];
        if (i != g_manager.mirrorCount) std::memcpy(kept, g_manager.mirrors[i], ADDRESS_BUFFER_SIZE);
        ++g_manager.mirrorCount;
    }
}

// Download base address into the download address, then the info file
// address and installer file name, the installer's pin and the mirrors, all
// read from the final answer before the info file takes its buffer. An
// address of another scheme than the build accepts, or too long for its
// buffers, is refused like an unusable answer of the servers. A pin
// authenticates the file whatever carried it, as the signer check does.
static bool PrepareAddresses() {
    g_manager.downloadAddress[0] = '\0';
    g_manager.installerFileName[0] = '\0';
    if (!AppendText(g_manager.downloadAddress, ADDRESS_BUFFER_SIZE, g_manager.urlBuffer)) return false;
    if (!ComposePackage(g_manager.urlBuffer, TEXT_BUFFER_SIZE, g_manager.installerFileName,
                        ADDRESS_BUFFER_SIZE, g_manager.language))
        return false;
    g_manager.pinned = FindInstallerPin(g_manager.installerFileName, &g_manager.pin);
    const bool authenticated = g_manager.pinned || InstallerSigner()[0] != '\0';
    if (!AcceptDownloadBase(g_manager.downloadAddress, RequireHttpsDownload(), authenticated)) return false;
    KeepUsableMirrors(RequireHttpsDownload(), authenticated);
    // The worker appends the file name to the download address.
    return std::strlen(g_manager.downloadAddress) + std::strlen(g_manager.installerFileName) <
           ADDRESS_BUFFER_SIZE;
}

// The info file lies beside the installer at every base: the download
// address's is asked first, then each mirror's, until one gives a usable one.
static bool FetchInfoFile() {
    static char name[ADDRESS_BUFFER_SIZE];  // user-interface thread only
    name[0] = '\0';
    AppendText(name, sizeof name, g_manager.urlBuffer + std::strlen(g_manager.downloadAddress));
    for (int next = 0;; ++next) {
        if (ParseInfoFile()) return true;
        if (next == g_manager.mirrorCount || name[0] == '\0') return false;
        g_manager.urlBuffer[0] = '\0';
        AppendText(g_manager.urlBuffer, TEXT_BUFFER_SIZE, g_manager.mirrors[next]);
        AppendText(g_manager.urlBuffer, TEXT_BUFFER_SIZE, name);
    }
}

void OnManagerStart(const WindowOps& ops) {
    if (!DiscoverDownloadBase() || !PrepareAddresses()) {
        ShowError(ops, TEXT_CONNECT_FAILED);
        return;
    }
    LogPackage(g_manager.downloadAddress, g_manager.installerFileName, g_manager.language);
    if (g_manager.pinned || g_manager.mirrorCount > 0)
        LogPinned(g_manager.pinned ? g_manager.pin.size : 0, g_manager.mirrorCount);
    if (!FetchInfoFile()) {
        ShowError(ops, TEXT_PARSING_ERROR);
        return;
    }
    g_manager.lastProgressTick = GetTickCount();
    g_manager.awaitingWorker = true;
    ops.startWorker(ops.window);
    g_manager.tickerTimerId = ops.startTickerTimer(ops.window);
}

void OnManagerProgress(const WindowOps& ops) {
    if (!g_manager.awaitingWorker) return;  // a worker given up on
    g_manager.lastProgressTick = GetTickCount();
    g_manager.retryWaitMs = 0;
    ops.redrawProgress(ops.window);
    ops.activateFocusSink(ops.window);
}

// The worker waits on purpose before it tries the transfer again: that wait
// does not count as a stall, the time after it does.
void OnManagerRetrying(unsigned waitMs) {
    if (!g_manager.awaitingWorker) return;
    g_manager.lastProgressTick = GetTickCount();
    g_manager.retryWaitMs = waitMs;
}

// The worker begins an attempt (or reads back a kept file): the watchdog
// below counts one blocked call from here, not the attempts before it.
void OnManagerAttempt() {
    if (!g_manager.awaitingWorker) return;
    g_manager.lastProgressTick = GetTickCount();
    g_manager.retryWaitMs = 0;
}

// Wine's WinINet waits on a stalled body for ever (it honours no receive
// timeout), and a blocked read cannot be interrupted: after DOWNLOAD_STALL_MS
// without a chunk the window gives the worker up and shows the failure; the
// worker's late messages are then ignored and the program's end takes it.
static bool GiveUpStalledDownload(const WindowOps& ops) {
    if (!g_manager.awaitingWorker || g_manager.askingCredentials ||
        GetTickCount() - g_manager.lastProgressTick < DOWNLOAD_STALL_MS + g_manager.retryWaitMs)
        return false;
    LogStall(GetTickCount() - g_manager.lastProgressTick);
    OnManagerFinished(ops, 0);
    return true;
}

void OnManagerFinished(const WindowOps& ops, int ok) {
    if (!g_manager.awaitingWorker) return;  // the window gave this worker up
    g_manager.awaitingWorker = false;
    if (g_manager.tickerTimerId != -1) ops.killTimer(ops.window, g_manager.tickerTimerId);
    if (ok != 1) {
        ShowError(ops, TEXT_NETWORK_ERROR);
        return;
    }
    LogStatusText(TEXT_PREPARING);
    ops.setStatusText(ops.window, LoadStatusText(TEXT_PREPARING));
    ops.repaintStatus(ops.window);
    Sleep(1000);
    // A file that changed since the worker wrote it, or that fails the
    // publisher check, is not started, like one that cannot be started. A
    // started one stays held until the installer has ended (FinishInstallation).
    const bool started = SealInstallerFile() && VerifyDownloadedInstaller() && LaunchInstaller();
    if (started) {
        RetirePreviousInstall();
        ops.endWindow(ops.window, 1);
    } else {
        ReleaseInstallerFile();
        ShowError(ops, TEXT_START_FAILED);
    }
}

void OnManagerTick(const WindowOps& ops, unsigned id) {
    if (static_cast<std::int32_t>(id) != g_manager.tickerTimerId || !g_manager.tickerStart ||
        !g_manager.tickerPosition || GiveUpStalledDownload(ops))
        return;
    static char display[TEXT_BUFFER_SIZE];  // user-interface thread only
    TickerTick(display, sizeof display);
    ops.setStatusText(ops.window, display);
    ops.parkFocus(ops.window);
}

void OnManagerOk(const WindowOps& ops) { ops.endWindow(ops.window, 1); }

void OnManagerDestroy(const WindowOps&) {
    ForgetProxyCredentials();
    FreeTextBuffers();
    DeleteProgressBitmap();
}
