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
    const char* validatorFrom;       // the address that gave it (If-Range goes to it alone); null: none
    int retryAfterSeconds;           // of the last answer; -1: none
    bool answered;                   // some attempt got an answer: the transfer began
    // With a pin (the manager state's), which guards the whole file: bytes
    // go on from where they are whichever server sent them, and a record of
    // them is kept for a later run.
    bool pinned;
    bool fromEarlierRun;             // the file began with bytes kept by an earlier run
    const char* address;             // of the attempt under way, or the last one
    DWORD lastByteTick;              // when the last byte arrived (the download's start before the first)
    bool progressed;                 // a byte arrived since the worker last looked
    DWORD recordedTick;              // when the record was last written
};

enum class AttemptResult {
    Done,     // the whole file is in the installer file
    Retry,    // failed in a way another attempt may mend
    Failed,   // failed for good: the disk
    Refused,  // failed for good at this address: an answer that will not change (a 404), or,
              // without a pin, a server that never answered
};

// Asks root for address, for the rest of the file when state allows a
// resume (a validator to send as If-Range), and reads what comes into the
// installer file, posting WM_DLM_PROGRESS to window after every read.
AttemptResult TryTransfer(HWND window, HINTERNET root, const char* address, TransferState* state,
                          const ReadPacing& pacing);

// Posts message to the window through g_postWorkerMessage.
void ReportToWindow(HWND window, unsigned message, WPARAM wParam);

// Empties the installer file for a transfer from byte 0 and forgets the
// validator. False when the file could not be emptied (the disk).
bool StartFileOver(TransferState* state);

// Pinned: writes the record of what the installer file holds now
// (install/kept_download.h), for a later run to go on from.
void KeepResumeRecord(TransferState* state);
