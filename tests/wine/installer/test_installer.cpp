// Stands in for the downloaded installer: leaves a marker file in its
// current directory, and beside it the path it was started from and its
// command line, and a copy of its own file (what actually ran), then exits.
// With "installer-hold.txt" in its current directory it first waits (up to
// 60 s) until that file is gone, as an installer does while its user works
// through it. It imports winmm.dll, a DLL that is not one of Windows' known
// DLLs: a planted copy beside it would be loaded into it.
#include <windows.h>
#include <mmsystem.h>

#include <cstring>

static bool WriteMarker(const char* name, const char* text) {
    HANDLE marker = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    WriteFile(marker, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
    CloseHandle(marker);
    return true;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const DWORD start = timeGetTime();
    // Waiting for its user's input, as an installer's window does (so that
    // whoever started it sees it idle at once).
    while (GetFileAttributesA("installer-hold.txt") != INVALID_FILE_ATTRIBUTES && timeGetTime() - start < 60000) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    char started[MAX_PATH * 2 + 8] = {};
    GetModuleFileNameA(nullptr, started, MAX_PATH);
    CopyFileA(started, "installer-image.bin", FALSE);
    std::strcat(started, "\r\n");
    std::strncat(started, GetCommandLineA(), MAX_PATH);
    // The details first: a test takes the marker as the sign that all is written.
    WriteMarker("installer-started.txt", started);
    return WriteMarker("installer-ran.txt", "ran\r\n") ? 0 : 1;
}
