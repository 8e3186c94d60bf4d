// A pinned download kept for a later run: the partial "tembset.exe" in the
// run's private folder (install/download_folder.h) and a small record beside
// it, "tembset.rec" (download/resume_record.h): the address and validator
// the bytes came from, the pin they must add up to, and a floor of how many
// there are. A later run whose configuration answer gives the same pin for
// the same installer finds the folder through the registry list (never by
// looking at names in a folder), takes it over and goes on from the bytes
// in the file. Nothing in the record or the file is trusted: the whole file
// must match the pin before it starts.
#pragma once

#include <windows.h>

#include "download/resume_record.h"

extern const wchar_t RECORD_FILE[];       // "tembset.rec"
extern const wchar_t RECORD_TEMP_FILE[];  // "tembset.rec.new"

// The record is rewritten this often while bytes arrive (and at the start
// and end of every attempt): a run that is killed leaves one this recent.
constexpr DWORD RECORD_PERIOD_MS = 1000;

// Worker: writes the record of the pinned download in this run's folder,
// atomically: whole under a temporary name in the same folder, then moved
// over the record in one step, so that a run ended at any moment leaves the
// old record or the new one. False when it could not be written.
bool WriteResumeRecord(const char* address, const char* validator, DWORD bytesWritten);

// Worker: the download is whole and matches its pin: nothing is left to
// go on from, and nothing but the installer stays in the folder.
void ForgetResumeRecord();

// Whether folder (a path ending in a backslash) keeps a download for the pin
// whose text is pinText: a whole record for it younger than
// RESUME_RECORD_MAX_AGE.
bool KeepsFreshRecord(const wchar_t* folder, const char* pinText);

// Worker, in a run pinned for the manager state's installer: takes over the
// folder an earlier run kept for that pin and file name, if there is one
// that no other process holds, as this run's folder, and its partial file
// as the installer file, the digest begun over the bytes in it (read back
// through the handle; the window is told every few MiB that the worker is
// at work). record: what the earlier run recorded; resumeFrom: the bytes the
// file holds, to go on from (0: it is emptied, the download starts over).
bool AdoptKeptDownload(HWND window, ResumeRecord* record, DWORD* resumeFrom);
