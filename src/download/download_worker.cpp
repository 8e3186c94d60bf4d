#include "download/download_worker.h"

#include <process.h>

#include <cstring>

#include "download/download_attempt.h"
#include "download/manager_state.h"
#include "download/package_rules.h"
#include "download/transfer_settings.h"
#include "install/download_folder.h"
#include "install/installer_file.h"
#include "install/kept_download.h"
#include "platform/internet.h"
#include "platform/keep_awake.h"
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

// The download address and the mirrors, in order, each with the installer
// file name appended (the flow made sure that it fits).
struct DownloadBases {
    const char* address[1 + MAX_MIRRORS];
    int count;
};

static bool PrepareBases(DownloadBases* bases) {
    bases->count = 0;
    if (!AppendText(g_manager.downloadAddress, ADDRESS_BUFFER_SIZE, g_manager.installerFileName)) return false;
    bases->address[bases->count++] = g_manager.downloadAddress;
    for (int i = 0; i < g_manager.mirrorCount && i < MAX_MIRRORS; ++i)
        if (AppendText(g_manager.mirrors[i], ADDRESS_BUFFER_SIZE, g_manager.installerFileName))
            bases->address[bases->count++] = g_manager.mirrors[i];
    return true;
}

// Whether the file as written is the pinned one. The digest is finished on
// a copy: the check before the start goes on with the running one.
static bool MatchesPin(DWORD written) {
    Sha256 copy = g_manager.writtenDigest;
    std::uint8_t digest[SHA256_DIGEST_SIZE];
    Sha256Finish(&copy, digest);
    return DigestMatchesPin(g_manager.pin, written, digest);
}

// How the bases have fared: rounds over them (each base tried once per
// round), failed rounds in a row since the last byte, and since when the
// worker is retrying.
struct Rounds {
    int round;
    int quiet;
    DWORD retryingSince;
};

// After a round in which every base failed: the wait before the next, or
// false to give up. Without a pin, today's rule: at most
// MAX_DOWNLOAD_ATTEMPTS rounds within RETRY_BUDGET_MS. With one, the rule
// of progress: on as long as a byte arrived within NO_PROGRESS_LIMIT_MS.
// The test build's shorter waits shorten that limit alike.
static bool NextRoundWait(TransferState* state, Rounds* rounds, unsigned* wait) {
    const DWORD now = GetTickCount();
    if (state->pinned) {
        rounds->quiet = state->progressed ? 1 : rounds->quiet + 1;
        state->progressed = false;
        const DWORD quiet = now - state->lastByteTick;
        const std::uint32_t scaled =
            quiet >= NO_PROGRESS_LIMIT_MS / RETRY_WAIT_DIVISOR ? NO_PROGRESS_LIMIT_MS : quiet * RETRY_WAIT_DIVISOR;
        const ProgressRetryDecision decision =
            DecideProgressRetry(scaled, ProgressRetryDelayMs(rounds->quiet, state->retryAfterSeconds, JitterMs()));
        if (!decision.tryAgain) LogNoProgress(quiet);
        *wait = decision.waitMs / RETRY_WAIT_DIVISOR;
        return decision.tryAgain;
    }
    if (rounds->round == MAX_DOWNLOAD_ATTEMPTS) return false;
    if (rounds->round == 1) rounds->retryingSince = now;
    *wait = RetryDelayMs(rounds->round++, state->retryAfterSeconds, JitterMs()) / RETRY_WAIT_DIVISOR;
    return now - rounds->retryingSince + *wait <= RETRY_BUDGET_MS;
}

// Attempts until one ends the transfer. A failed attempt moves on to the
// next base at once; once every base has failed in a round, the worker
// waits (2, 4, 8 s ..., or the server's Retry-After) and goes round again,
// as NextRoundWait allows. A base that gave a final answer (a 404) is not
// asked again. Without a pin a change of base starts the file over (the
// validator is the other address's: no Range across servers); with one the
// bytes stay. A pinned file that ends
// with other bytes than the pin's starts over from byte 0 at the next base;
// the second such transfer ends the download. The window is told of every
// attempt and every wait, so that its stall watchdog counts neither.
static int TransferWithRetries(HWND window, HINTERNET root, const DownloadBases& bases, TransferState* state,
                               const ReadPacing& pacing) {
    Rounds rounds = {1, 0, 0};
    int current = 0, mismatches = 0;
    unsigned finalBases = 0;
    for (int attempt = 1;; ++attempt) {
        ReportToWindow(window, WM_DLM_ATTEMPT, 0);
        // A kept file that is whole already needs no transfer, only the check.
        const bool whole = attempt == 1 && state->pinned && state->written == g_manager.pin.size;
        const AttemptResult result =
            whole ? AttemptResult::Done : TryTransfer(window, root, bases.address[current], state, pacing);
        LogAttemptEnd(attempt, result, state->written);
        if (result == AttemptResult::Done) {
            if (!state->pinned) return 1;
            const bool matches = MatchesPin(state->written);
            LogPinCheck(matches);
            if (matches) return 1;
            // Bytes kept by an earlier run that changed since are not the
            // server's fault, and do not count.
            const bool last = !state->fromEarlierRun && ++mismatches >= PIN_MISMATCH_LIMIT;
            if (!StartFileOver(state) || last) return 0;  // wrong bytes are not kept
            current = NextDownloadBase(current, bases.count, finalBases);
            if (current < 0) return 0;
            continue;
        }
        if (result == AttemptResult::Failed) return 0;
        if (result == AttemptResult::Refused) finalBases |= 1u << current;
        const int next = NextDownloadBase(current, bases.count, finalBases);
        if (next < 0) return 0;
        if (next != current) LogBaseChange(bases.address[next]);
        const bool roundEnds = next <= current;
        current = next;
        if (!roundEnds) continue;
        unsigned wait = 0;
        if (state->pinned && state->written > 0) KeepResumeRecord(state);
        if (!NextRoundWait(state, &rounds, &wait)) return 0;
        ReportToWindow(window, WM_DLM_RETRYING, wait);
        LogRetryWait(wait);
        Sleep(wait);
    }
}

// Pinned: goes on with the download an earlier run kept for the same pin,
// if there is one: its folder and file become this run's, the bar starts
// at the bytes in it, and If-Range goes with the kept validator to the
// address that gave it, if it is still one of the bases.
static bool ResumeKeptDownload(HWND window, const DownloadBases& bases, TransferState* state) {
    static ResumeRecord record;  // worker only
    DWORD from = 0;
    if (!AdoptKeptDownload(window, &record, &from)) return false;
    state->written = from;
    state->fromEarlierRun = from > 0;
    g_manager.downloaded.store(static_cast<std::int32_t>(from));
    for (int i = 0; i < bases.count && from > 0 && record.validator[0]; ++i)
        if (std::strcmp(bases.address[i], record.address) == 0) {
            std::strcpy(state->validator, record.validator);
            state->validatorFrom = bases.address[i];
        }
    LogKeptDownload(from, record.bytesWritten);
    return true;
}

// Takes over a kept download or creates the file, opens the root, transfers
// the body and releases the root. The file stays held after a complete
// download, until the installer starts; a failed one lets it go. A pinned
// download that failed keeps its folder, the file and its record for a
// later run (unless it was the server's wrong bytes). Returns the result
// for WM_DLM_FINISHED.
static int RunDownload(HWND window, const ReadPacing& pacing) {
    static TransferState state;  // one worker per run
    state.retryAfterSeconds = -1;
    state.pinned = g_manager.pinned;
    state.total = g_manager.pin.size;
    state.totalKnown = state.pinned;
    DownloadBases bases;
    if (!PrepareBases(&bases)) return 0;
    state.address = bases.address[0];
    const bool resumed = state.pinned && ResumeKeptDownload(window, bases, &state);
    RemoveAbandonedDownloadFolders();
    if (!resumed && !CreateInstallerFile()) return 0;
    state.lastByteTick = GetTickCount();
    // Windows ends a read that waits this long, and the attempt is tried
    // again: the window's stall watchdog (DOWNLOAD_STALL_MS) must not come
    // first. (Wine honours no receive timeout: there the watchdog ends a
    // stall.)
    HINTERNET root = OpenInternetRoot(DOWNLOAD_STALL_MS * 2 / 3);
    const int ok = root ? TransferWithRetries(window, root, bases, &state, pacing) : 0;
    if (ok == 1 && state.pinned) ForgetResumeRecord();
    if (ok != 1) {
        if (state.pinned && state.written > 0) {
            KeepResumeRecord(&state);
            KeepDownloadFolder();
        }
        ReleaseInstallerFile();
    }
    if (root) CloseInternetHandle(root);
    return ok;
}

void __cdecl DownloadWorker(void* parameter) {
    HWND window = static_cast<HWND>(parameter);
    const ReadPacing pacing = BeginReadPacing(READ_PAUSE_MS);
    KeepMachineAwake();
    const int ok = RunDownload(window, pacing);  // every way out of the transfer comes back here
    LetMachineSleep();
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
