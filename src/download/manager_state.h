// The one process-wide record of the download manager.
//
// Window and GDI handles are kept as opaque pointers so that this header, and
// the portable code that reads the text fields, needs no <windows.h>.
#pragma once

#include <atomic>
#include <cstdint>

#include "download/constants.h"
#include "download/installer_pin.h"
#include "download/mirrors.h"
#include "install/sha256.h"

// The record's three text buffers start empty. They lie outside it, in
// zero-initialised storage (.bss), so they take no room in the program file:
// the record itself starts with non-zero fields and so lies in .data.
extern char g_installerFileNameBuffer[ADDRESS_BUFFER_SIZE];
extern char g_statusTextBuffer[STATUS_TEXT_SIZE];
extern char g_downloadAddressBuffer[ADDRESS_BUFFER_SIZE];
extern char g_proxyUserBuffer[PROXY_CREDENTIAL_SIZE];
extern char g_proxyPasswordBuffer[PROXY_CREDENTIAL_SIZE];
extern char g_proxyIdentityBuffer[PROXY_IDENTITY_SIZE];
extern char g_mirrorBuffers[MAX_MIRRORS][ADDRESS_BUFFER_SIZE];

struct ManagerState {
    void* instance = nullptr;        // HINSTANCE of the program, for string resources
    const char* language = "ENG";    // one of the language chooser's constant codes
    void* statusBox = nullptr;       // HWND of the status box
    char* urlBuffer = nullptr;       // TEXT_BUFFER_SIZE heap block, from discovery on
    char* responseText = nullptr;    // TEXT_BUFFER_SIZE heap block, from discovery on
    char* tickerStart = nullptr;     // first character of the news text
    char* tickerPosition = nullptr;  // line that the next tick shows first
    std::int32_t totalSize = 0;
    // Written by the download worker, read by the progress bar.
    std::atomic<std::int32_t> downloaded{0};
    std::int32_t tickerTimerId = -1;  // -1: no timer
    // Download watchdog: the tick count of the last sign of the worker, and
    // whether the window still waits for it (false once it gave up on it).
    std::uint32_t lastProgressTick = 0;
    std::uint32_t retryWaitMs = 0;  // the worker announced a wait this long from lastProgressTick
    // The proxy's credential dialog: open now, and the ms it was open in all
    // (waits on the network do not count that time).
    bool askingCredentials = false;
    std::uint32_t credentialsMs = 0;
    bool proxyDeclined = false;  // the user cancelled it, or the proxy refused three answers
    bool awaitingWorker = false;
    // From the worker's start to its end; meanwhile the installer file is
    // the worker's alone (the window may have given up waiting for it).
    std::atomic<bool> workerRunning{false};
    void* progressBitmap = nullptr;   // HBITMAP of the progress bar
    // "tembset.exe" from its creation to the installer's start: the HANDLE
    // that holds it (the worker's, then a read-only one) and the digest of
    // what the worker wrote (while installerFile is the worker's).
    void* installerFile = nullptr;
    void* installerProcess = nullptr;  // HANDLE of the started installer, until it has exited
    Sha256 writtenDigest = {};
    char* const installerFileName = g_installerFileNameBuffer;  // ADDRESS_BUFFER_SIZE characters
    char* const statusText = g_statusTextBuffer;                // STATUS_TEXT_SIZE characters
    char* const downloadAddress = g_downloadAddressBuffer;      // ADDRESS_BUFFER_SIZE characters
    char* const proxyUser = g_proxyUserBuffer;                  // PROXY_CREDENTIAL_SIZE, from the dialog
    char* const proxyPassword = g_proxyPasswordBuffer;          // PROXY_CREDENTIAL_SIZE
    char* const proxyIdentity = g_proxyIdentityBuffer;          // PROXY_IDENTITY_SIZE: the proxy they are for
    // What the final configuration answer adds for the installer: its pin
    // (size and SHA-256), and further download bases to try after the
    // download address, in order. Filled by START before the worker starts.
    bool pinned = false;
    InstallerPin pin = {};
    int mirrorCount = 0;
    char (*const mirrors)[ADDRESS_BUFFER_SIZE] = g_mirrorBuffers;
};

extern ManagerState g_manager;
