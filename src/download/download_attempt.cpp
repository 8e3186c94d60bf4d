#include "download/download_attempt.h"

#include <cstring>

#include "download/download_worker.h"
#include "download/manager_state.h"
#include "download/package_rules.h"
#include "download/transfer_settings.h"
#include "install/installer_file.h"
#include "install/kept_download.h"
#include "platform/internet.h"
#include "platform/support_log.h"

PostFunction g_postWorkerMessage = PostMessageA;

void ReportToWindow(HWND window, unsigned message, WPARAM wParam) { g_postWorkerMessage(window, message, wParam, 0); }

// Range and If-Range for the rest of the file. If-Range only to the address
// that gave the validator. Without a pin, only with it: a resume without one
// could splice two different files. With a pin, which checks the whole file,
// also without it.
// (Composed by hand: the C run-time's formatting would add 20 KiB to the
// program.)
static bool ResumeHeaders(const TransferState& state, const char* address, char* headers, std::size_t size) {
    const bool validated =
        state.validator[0] != '\0' && state.validatorFrom && std::strcmp(state.validatorFrom, address) == 0;
    if (state.written == 0 || (!validated && !state.pinned)) return false;
    char digits[12];
    char* first = digits + sizeof digits - 1;
    *first = '\0';
    for (DWORD rest = state.written; rest != 0; rest /= 10) *--first = static_cast<char>('0' + rest % 10);
    headers[0] = '\0';
    return AppendText(headers, size, "Range: bytes=") && AppendText(headers, size, first) &&
           AppendText(headers, size, "-\r\n") &&
           (!validated || (AppendText(headers, size, "If-Range: ") && AppendText(headers, size, state.validator) &&
                           AppendText(headers, size, "\r\n")));
}

// The answer's ETag, else its Last-Modified, for a later resume from the
// same address. It goes into a header line of the next request: one with
// line breaks or other control characters could add headers of the
// server's choice. Without it the next attempt starts over (or, pinned,
// asks for the rest without If-Range).
static void TakeValidator(HINTERNET request, TransferState* state) {
    if (!QueryHttpText(request, HTTP_QUERY_ETAG, state->validator, VALIDATOR_SIZE))
        QueryHttpText(request, HTTP_QUERY_LAST_MODIFIED, state->validator, VALIDATOR_SIZE);
    if (!IsPlainHeaderValue(state->validator)) state->validator[0] = '\0';
    state->validatorFrom = state->address;
}

void KeepResumeRecord(TransferState* state) {
    state->recordedTick = GetTickCount();
    const bool validated = state->validatorFrom != nullptr;
    WriteResumeRecord(validated ? state->validatorFrom : state->address, validated ? state->validator : "",
                      state->written);
}

bool StartFileOver(TransferState* state) {
    state->validator[0] = '\0';
    state->validatorFrom = nullptr;
    state->fromEarlierRun = false;
    if (state->written == 0) return true;
    state->written = 0;
    g_manager.downloaded.store(0);  // the bar keeps what it drew
    return RestartInstallerFile();
}

// A whole file in the answer: from byte 0 again if bytes were written, and
// what a later attempt needs to resume it.
static bool StartWholeFile(HINTERNET request, TransferState* state) {
    if (!StartFileOver(state)) return false;
    DWORD length = 0;
    state->totalKnown = QueryHttpNumber(request, HTTP_QUERY_CONTENT_LENGTH, &length);
    state->total = state->totalKnown ? length : 0;
    TakeValidator(request, state);
    return true;
}

// A 206 continues the file only where it starts at the bytes written and
// names the same total. Otherwise the next attempt asks for the whole file.
static bool ContinuesFile(HINTERNET request, TransferState* state) {
    char range[128];
    std::uint64_t first = 0, last = 0, total = 0;
    const bool fits = QueryHttpText(request, HTTP_QUERY_CONTENT_RANGE, range, sizeof range) &&
                      ParseContentRange(range, &first, &last, &total) && first == state->written &&
                      (!state->totalKnown || total == state->total) && total <= 0x7FFFFFFF;
    if (!fits) {
        state->validator[0] = '\0';
        return false;
    }
    state->total = static_cast<DWORD>(total);
    state->totalKnown = true;
    // A pinned resume from another address than the validator's: this
    // address's own, for the next resume from it.
    if (!state->validatorFrom || std::strcmp(state->validatorFrom, state->address) != 0) TakeValidator(request, state);
    return true;
}

// WinINet ends a body that the server cut off early like a complete one (a
// read of 0 bytes), with or without a Content-Length, chunked or ended by a
// close. Where the answer announced its length, fewer bytes than that are a
// cut; where the file's length is not known, fewer bytes than the info
// file's total.
static bool ReceivedWholeBody(HINTERNET request, DWORD received, const TransferState& state) {
    DWORD announced = 0;
    if (QueryHttpNumber(request, HTTP_QUERY_CONTENT_LENGTH, &announced) && received != announced) return false;
    if (state.totalKnown) return state.written == state.total;
    return g_manager.totalSize > 0 && state.written >= static_cast<DWORD>(g_manager.totalSize);
}

// Reads the body into the installer file, READ_SIZE bytes asked of each read
// and the pause after each, one WM_DLM_PROGRESS per read. A body of no
// announced length ends where it passes the info file's size by
// UNANNOUNCED_BODY_MARGIN: a server that never ends one would otherwise fill
// the disk. It fails like a body cut short. A pinned file ends at the pin's
// size: what lies beyond cannot be the file's, and the pin decides on what
// is in. Its record is kept current every RECORD_PERIOD_MS.
static AttemptResult ReadBody(HWND window, HINTERNET request, TransferState* state, const ReadPacing& pacing) {
    static char chunk[MAX_READ_SIZE];  // one worker per run
    const std::uint64_t bound = static_cast<std::uint64_t>(g_manager.totalSize) + UNANNOUNCED_BODY_MARGIN;
    DWORD count = 0, received = 0;
    do {
        count = 0;
        bool read = ReadInternet(request, chunk, READ_SIZE, &count) != FALSE;
        if (!read) LogReadFailure(GetLastError());
        if (count > READ_SIZE) count = 0;
        if (!state->totalKnown && state->written + static_cast<std::uint64_t>(count) > bound) read = false, count = 0;
        const bool overrun = state->pinned && state->written + static_cast<std::uint64_t>(count) > g_manager.pin.size;
        if (overrun) count = 0;
        if (count != 0) {
            state->lastByteTick = GetTickCount();
            state->progressed = true;
        }
        PauseAfterRead(pacing);
        const bool written = WriteInstallerFile(chunk, count);
        received += count;
        state->written += written ? count : 0;
        g_manager.downloaded.fetch_add(static_cast<std::int32_t>(count));
        ReportToWindow(window, WM_DLM_PROGRESS, read && written ? 1 : 0);
        if (!written) return AttemptResult::Failed;  // the disk, not the network
        if (!read) return AttemptResult::Retry;
        if (overrun) return AttemptResult::Done;
        if (state->pinned && GetTickCount() - state->recordedTick >= RECORD_PERIOD_MS) KeepResumeRecord(state);
    } while (count != 0);
    return ReceivedWholeBody(request, received, *state) ? AttemptResult::Done : AttemptResult::Retry;
}

static AttemptResult Answered(HWND window, HINTERNET request, TransferState* state, bool resuming,
                              const ReadPacing& pacing) {
    DWORD status = 0;
    if (!QueryHttpNumber(request, HTTP_QUERY_STATUS_CODE, &status)) return AttemptResult::Retry;
    state->answered = true;
    char retryAfter[32];
    state->retryAfterSeconds =
        QueryHttpText(request, HTTP_QUERY_RETRY_AFTER, retryAfter, sizeof retryAfter) ? ParseRetryAfter(retryAfter) : -1;
    switch (ClassifyStatus(status)) {
    case AnswerClass::Whole:
        if (!StartWholeFile(request, state)) return AttemptResult::Failed;
        break;
    case AnswerClass::Partial:
        if (resuming && ContinuesFile(request, state)) break;
        // Pinned, the next attempt would ask for the same rest again: it
        // asks for the whole file instead.
        if (resuming && state->pinned && !StartFileOver(state)) return AttemptResult::Failed;
        return AttemptResult::Retry;
    case AnswerClass::Retry:
        return AttemptResult::Retry;
    default:
        return AttemptResult::Refused;  // an error page is not an installer
    }
    if (state->pinned) KeepResumeRecord(state);  // where these bytes come from
    return ReadBody(window, request, state, pacing);
}

AttemptResult TryTransfer(HWND window, HINTERNET root, const char* address, TransferState* state,
                          const ReadPacing& pacing) {
    char headers[64 + VALIDATOR_SIZE];
    state->address = address;
    const bool resuming = ResumeHeaders(*state, address, headers, sizeof headers);
    LogDownloadRequest(address, resuming ? state->written : 0);
    HINTERNET request = OpenInternetUrl(root, address, resuming ? headers : nullptr);
    LogDownloadAnswer(request);
    // No answer at all: without a pin, a server that never answered is not
    // tried again, one that answered before is (the connection dropped).
    // With one, the rule of progress decides.
    if (!request) return state->answered || state->pinned ? AttemptResult::Retry : AttemptResult::Refused;
    const AttemptResult result = Answered(window, request, state, resuming, pacing);
    CloseInternetHandle(request);
    return result;
}
