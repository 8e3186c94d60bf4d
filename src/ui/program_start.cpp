// The program's entry point, in place of the C run-time's start-up code.
//
// msvcrt.dll initialises itself when it is loaded, so the run-time functions
// the program uses (_open, _beginthread, malloc) need nothing from the
// start-up code, and every global of the program is constant-initialised
// (no constructor has to run). What remains of the start-up's work is to
// call WinMain and end the process with its result.
#include <windows.h>

#include "platform/system_libraries.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine, int show);

// Only the linker refers to it (--entry).
extern "C" __attribute__((used, externally_visible)) void WINAPI ProgramStart() {
    RestrictDllSearchToSystemFolder();
    ExitProcess(static_cast<UINT>(WinMain(GetModuleHandleA(nullptr), nullptr, GetCommandLineA(), SW_SHOWDEFAULT)));
}
