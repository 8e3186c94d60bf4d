// Stands in for the downloaded installer: leaves a marker file in its
// current directory, and beside it the path it was started from and its
// command line, then exits.
#include <windows.h>

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
    char started[MAX_PATH * 2 + 8] = {};
    GetModuleFileNameA(nullptr, started, MAX_PATH);
    std::strcat(started, "\r\n");
    std::strncat(started, GetCommandLineA(), MAX_PATH);
    // The details first: a test takes the marker as the sign that all is written.
    WriteMarker("installer-started.txt", started);
    return WriteMarker("installer-ran.txt", "ran\r\n") ? 0 : 1;
}
