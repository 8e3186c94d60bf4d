// The download manager flow: the steps that run inside the manager window
// from its creation to its end, one function per window event.
#pragma once

#include "download/window_ops.h"

// Status texts of the string table (English; the other languages' numbers
// follow from these, download/status_text_ids.h).
enum StatusText {
    TEXT_TITLE = 1,           // "Downloading..."
    TEXT_INITIALIZING = 2,
    TEXT_CONNECT_FAILED = 3,  // server discovery failed (or gave an unusable address)
    TEXT_PARSING_ERROR = 4,   // info file missing or malformed
    TEXT_NETWORK_ERROR = 5,   // the download worker reported failure
    TEXT_PREPARING = 6,
    TEXT_START_FAILED = 7,    // the installer could not be started
};

// Loads status text number, in the language of the manager state where the
// system's code page can show it and in English otherwise, into the status
// text buffer of the manager state and returns it; a missing resource gives
// an empty text. (download/status_texts.cpp)
const char* LoadStatusText(int number);

// Shows text number in the status box with the OK button, which ends the run.
void ShowError(const WindowOps& ops, int number);

void OnManagerInit(const WindowOps& ops);
void OnManagerStart(const WindowOps& ops);
void OnManagerProgress(const WindowOps& ops);
void OnManagerRetrying(unsigned waitMs);
void OnManagerAttempt();
void OnManagerFinished(const WindowOps& ops, int ok);
void OnManagerTick(const WindowOps& ops, unsigned id);
void OnManagerOk(const WindowOps& ops);
void OnManagerDestroy(const WindowOps& ops);
