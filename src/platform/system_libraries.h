// The Windows DLLs that the program uses beyond those that Windows always
// takes from its own folder (kernel32, user32, gdi32, advapi32, msvcrt).
//
// A DLL imported statically is looked for first in the program's folder,
// usually the user's downloads folder, where a web page may have dropped a
// "version.dll" of its own. So these are loaded at run time, from the system
// folder only, and their functions resolved once, on first use (on the
// user-interface thread, or by the download worker for winmm alone).
#pragma once

#include <windows.h>
#include <mmsystem.h>
#include <wincrypt.h>
#include <wininet.h>
#include <wintrust.h>

// A kernel32 function that older systems may lack; null then.
void* Kernel32Function(const char* name);

// name (a bare file name) from the system folder only; null when it is not there.
HMODULE LoadSystemLibrary(const char* name);

// Keeps every later DLL load (also the dependencies of the DLLs below) out
// of the program's folder and the current directory. Called first thing.
void RestrictDllSearchToSystemFolder();

#define TEMBRA_WININET_FUNCTIONS(X)                                                                      \
    X(InternetOpenA) X(InternetOpenUrlA) X(InternetReadFile) X(InternetCloseHandle) X(InternetSetOptionA) \
    X(InternetQueryOptionA) X(HttpQueryInfoA) X(HttpSendRequestA) X(InternetErrorDlg)
#define TEMBRA_VERSION_FUNCTIONS(X) X(GetFileVersionInfoSizeA) X(GetFileVersionInfoA) X(VerQueryValueA)
#define TEMBRA_WINMM_FUNCTIONS(X) X(timeBeginPeriod) X(timeEndPeriod)
#define TEMBRA_WINTRUST_FUNCTIONS(X) \
    X(WinVerifyTrust) X(WTHelperProvDataFromStateData) X(WTHelperGetProvSignerFromChain)
#define TEMBRA_CRYPT32_FUNCTIONS(X) X(CertGetNameStringW)

#define TEMBRA_API_FIELD(name) decltype(&::name) name;
struct WinInetApi {
    TEMBRA_WININET_FUNCTIONS(TEMBRA_API_FIELD)
};
struct VersionApi {
    TEMBRA_VERSION_FUNCTIONS(TEMBRA_API_FIELD)
};
struct WinmmApi {
    TEMBRA_WINMM_FUNCTIONS(TEMBRA_API_FIELD)
};
struct TrustApi {
    TEMBRA_WINTRUST_FUNCTIONS(TEMBRA_API_FIELD)
    TEMBRA_CRYPT32_FUNCTIONS(TEMBRA_API_FIELD)
};
#undef TEMBRA_API_FIELD

// Each: the functions, or null when the DLL (or one of them) cannot be had;
// the step that needs it then fails as it would without a network, version
// information, timer or signature.
const WinInetApi* WinInet();
const VersionApi* VersionLibrary();
const WinmmApi* Winmm();
const TrustApi* Trust();  // wintrust.dll and crypt32.dll
