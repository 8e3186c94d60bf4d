// The thread that downloads the installer into "tembset.exe" in the current
// directory (install/installer_file.h) and reports to the manager window by
// posted messages: WM_DLM_PROGRESS after every read, then WM_DLM_FINISHED.
#pragma once

#include <windows.h>

#include "platform/read_pacing.h"  // the pause after each read, and its system functions

// How the worker posts to the window: PostMessageA; tests put a failing one
// in its place.
using PostFunction = BOOL(WINAPI*)(HWND, UINT, WPARAM, LPARAM);
extern PostFunction g_postWorkerMessage;
constexpr DWORD FINISHED_RETRY_MS = 20;  // pause before WM_DLM_FINISHED is posted again

// The thread routine; window is the HWND that receives the messages. It
// fetches the download address of the manager state followed by the
// installer file name.
void __cdecl DownloadWorker(void* window);

// Starts DownloadWorker on a thread of its own. When no thread can be
// started, WM_DLM_FINISHED with 0 is posted instead, so the window never
// waits for a worker that does not exist.
void StartDownloadWorker(HWND window);
