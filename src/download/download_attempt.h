// One attempt at the installer transfer, and what it leaves for the next.
#pragma once

#include <windows.h>
#include <wininet.h>

#include "download/retry_rules.h"
#include "platform/read_pacing.h"

// What the attempts so far have established about the file.
struct TransferState {
    DWORD written;                   // bytes in the installer file
    DWORD total;                     // the whole file's length, where announced (totalKnown)
    bool totalKnown;
    char validator[VALIDATOR_SIZE];  // the whole file's ETag, else Last-Modified; empty: none
    int retryAfterSeconds;           // of the last answer; -1: none
    bool answered;                   // some attempt got an answer: the transfer began
};

enum class AttemptResult {
    Done,    // the whole file is in the installer file
    Retry,   // failed in a way another attempt may mend
    Failed,  // failed for good: an answer that will not change, or the disk
};

// Asks root for address, for the rest of the file when state allows a
// resume (a validator to send as If-Range), and reads what comes into the
// installer file, posting WM_DLM_PROGRESS to window after every read.
AttemptResult TryTransfer(HWND window, HINTERNET root, const char* address, TransferState* state,
                          const ReadPacing& pacing);

// Posts message to the window through g_postWorkerMessage.
void ReportToWindow(HWND window, unsigned message, WPARAM wParam);
