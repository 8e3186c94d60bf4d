// COM and accessibility functions of the system, for the progress bar's
// accessible object and the taskbar button's progress. Loaded at run time
// from the system folder only, like the other DLLs beyond Windows' own
// (platform/system_libraries.h), and on the user-interface thread alone.
//
// The pointer types are spelt out rather than taken from the SDK's
// declarations, which differ between C-style (CINTERFACE) and C++ callers:
// the files that define COM objects of their own use the C style.
#pragma once

#include <windows.h>

struct ComApi {
    HRESULT(WINAPI* CoInitializeEx)(void* reserved, DWORD model);
    HRESULT(WINAPI* CoCreateInstance)(const GUID* classId, void* outer, DWORD context, const GUID* iid, void** object);
    wchar_t*(WINAPI* SysAllocString)(const wchar_t* text);  // oleaut32: a BSTR
};

struct AccessibilityApi {
    HRESULT(WINAPI* CreateStdAccessibleObject)(HWND window, LONG object, const GUID* iid, void** accessible);
    LRESULT(WINAPI* LresultFromObject)(const GUID* iid, WPARAM wParam, void* object);
};

// ole32.dll and oleaut32.dll, with COM initialised (single-threaded
// apartment) on the calling thread by the first call; null when COM cannot
// be had there, and nothing that needs it is then offered.
const ComApi* Com();

// oleacc.dll, besides Com(); null when either cannot be had.
const AccessibilityApi* Accessibility();
