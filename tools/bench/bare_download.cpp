// The download as the design allows it at best, for the benchmark: one
// WinINet request with the program's flags, 4,096-byte reads into a file,
// a 1 ms sleep after each read unless "nosleep" is given, at a 1 ms timer
// resolution. "post" also posts a message per read to a window that another
// thread pumps, as the program's worker reports each chunk. "timer" pauses
// on a high-resolution waitable timer instead of Sleep, where the system
// has one. "hash" feeds each read to the program's SHA-256, as its worker
// does. A number is the read size instead of 4,096 (up to
// 262,144).
//   bare_download URL OUTFILE [nosleep] [post] [timer] [hash] [READSIZE]
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "install/sha256.h"

static HWND g_window;

static DWORD WINAPI Pump(void* ready) {
    g_window = CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    SetEvent(ready);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
    return 0;
}

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    bool sleep = true, post = false, timer = false, hash = false;
    DWORD readSize = 4096;
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "nosleep") == 0) sleep = false;
        else if (std::strcmp(argv[i], "post") == 0) post = true;
        else if (std::strcmp(argv[i], "timer") == 0) timer = true;
        else if (std::strcmp(argv[i], "hash") == 0) hash = true;
        else readSize = static_cast<DWORD>(std::atoi(argv[i]));
    }
    if (readSize == 0 || readSize > 262144) return 2;
    HANDLE waitable = timer ? CreateWaitableTimerExW(nullptr, nullptr, 0x2 /* HIGH_RESOLUTION */, TIMER_ALL_ACCESS)
                            : nullptr;
    if (post) {
        HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        CreateThread(nullptr, 0, Pump, ready, 0, nullptr);
        WaitForSingleObject(ready, INFINITE);
    }
    Sha256 digest;
    Sha256Begin(&digest);
    timeBeginPeriod(1);
    HINTERNET root = InternetOpenA("Tembra Download Manager", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET request = root ? InternetOpenUrlA(root, argv[1], nullptr, 0,
                                                INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0)
                             : nullptr;
    FILE* out = std::fopen(argv[2], "wb");
    if (!request || !out) return 1;
    static char chunk[262144];
    DWORD count = 0;
    BOOL ok;
    do {
        count = 0;
        ok = InternetReadFile(request, chunk, readSize, &count);
        LARGE_INTEGER due;
        due.QuadPart = -10000;  // 1 ms, relative
        if (sleep && !(waitable && SetWaitableTimer(waitable, &due, 0, nullptr, nullptr, FALSE) &&
                       WaitForSingleObject(waitable, 100) == WAIT_OBJECT_0))
            Sleep(1);
        std::fwrite(chunk, 1, count, out);
        if (hash) Sha256Add(&digest, chunk, count);
        if (post) PostMessageA(g_window, WM_USER + 3, 1, 0);
    } while (ok && count);
    std::fclose(out);
    InternetCloseHandle(request);
    InternetCloseHandle(root);
    timeEndPeriod(1);
    return ok ? 0 : 1;
}
