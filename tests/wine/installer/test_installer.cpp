// Stands in for the downloaded installer: leaves a marker file in its
// current directory and exits.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    HANDLE marker = CreateFileA("installer-ran.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    WriteFile(marker, "ran\r\n", 5, &written, nullptr);
    CloseHandle(marker);
    return 0;
}
