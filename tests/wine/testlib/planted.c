/* A DLL that a web page could have dropped into the downloads folder: when
 * any process loads it, it leaves "planted-<its file name>.txt" beside itself. */
#include <string.h>
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        char path[MAX_PATH + 32];
        DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
        char* name = path + length;
        while (name > path && name[-1] != '\\') --name;
        char base[64];
        lstrcpynA(base, name, sizeof base);
        strcpy(name, "planted-");
        strcat(name, base);
        strcat(name, ".txt");
        HANDLE marker = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
    }
    return TRUE;
}
