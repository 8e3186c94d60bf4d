// The support log: one small text file per run in the user's temporary
// folder, "TembraDownloadManager.log" (the previous run's kept as
// "TembraDownloadManager.old.log"), that says what the program asked, what
// the servers answered and why a step failed. Written line by line as the
// run goes, so that a crash or a killed process leaves what happened up to
// then; readable while the program runs; at most LOG_FILE_LIMIT bytes.
//
// It never holds what a user typed (proxy credentials) nor an address's
// query or user name; it never makes the program fail: every call does
// nothing when the log could not be opened.
#pragma once

#include <windows.h>
#include <wininet.h>

#include "download/log_text.h"

constexpr DWORD LOG_FILE_LIMIT = 64 * 1024;

// Starts this run's log. Once, on the user-interface thread, before any
// other thread runs.
void OpenSupportLog();

// Writes a composed line (any thread); line->text's time is taken as given.
void WriteLogLine(LogLine* line);
// A line that begins now (any thread).
void BeginLogLineNow(LogLine* line);

// The run's events, one line each.
void LogChooserResult(INT_PTR result, const char* language);
void LogStatusText(int number);
// A fetch of the configuration ("configuration", with its redirect count)
// or of the info file (redirects -1: none shown).
void LogRequest(const char* what, const char* address, int redirects);
// The answer of a fetch: its HTTP status, or without one the WinINet error.
void LogFetchAnswer(DWORD status, DWORD error);
void LogFetchOverdue(unsigned deadlineMs);
void LogPackage(const char* base, const char* fileName, const char* language);
void LogInfoSizeLine(const char* infoText);
void LogDownloadRequest(const char* address, DWORD from);
// request null: no answer, the error is GetLastError()'s.
void LogDownloadAnswer(HINTERNET request);
void LogReadFailure(DWORD error);
enum class AttemptResult;
void LogAttemptEnd(int attempt, AttemptResult result, DWORD written);
void LogRetryWait(unsigned waitMs);
void LogPinned(unsigned size, int mirrors);  // size 0: no pin
void LogPinCheck(bool matches);
void LogBaseChange(const char* address);
void LogNoProgress(unsigned quietMs);
void LogKeptDownload(DWORD from, DWORD recorded);
void LogStall(unsigned quietMs);
void LogProxyCredentials(bool given);
void LogSignerCheck(LONG verdict, bool trusted);
void LogInstallerStart(DWORD error);  // CreateProcess's error, 0 when it started
void LogRetirement(const char* outcome, DWORD error);
void LogResult(const char* what, HRESULT result);
