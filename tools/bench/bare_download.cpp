// The download as the design allows it at best, for the benchmark: one
// WinINet request with the program's flags, 4,096-byte reads into a file,
// a 1 ms sleep after each read unless "nosleep" is given, at a 1 ms timer
// resolution. "post" also posts a message per read to a window that another
// thread pumps, as the program's worker reports each chunk.
//   bare_download URL OUTFILE [nosleep|post]
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cstring>

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
    const bool sleep = !(argc > 3 && std::strcmp(argv[3], "nosleep") == 0);
    const bool post = argc > 3 && std::strcmp(argv[3], "post") == 0;
    if (post) {
        HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        CreateThread(nullptr, 0, Pump, ready, 0, nullptr);
        WaitForSingleObject(ready, INFINITE);
    }
    timeBeginPeriod(1);
    HINTERNET root = InternetOpenA("Tembra Download Manager", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET request = root ? InternetOpenUrlA(root, argv[1], nullptr, 0,
                                                INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0)
                             : nullptr;
    FILE* out = std::fopen(argv[2], "wb");
    if (!request || !out) return 1;
    static char chunk[4096];
    DWORD count = 0;
    BOOL ok;
    do {
        count = 0;
        ok = InternetReadFile(request, chunk, sizeof chunk, &count);
        if (sleep) Sleep(1);
        std::fwrite(chunk, 1, count, out);
        if (post) PostMessageA(g_window, WM_USER + 3, 1, 0);
    } while (ok && count);
    std::fclose(out);
    InternetCloseHandle(request);
    InternetCloseHandle(root);
    timeEndPeriod(1);
    return ok ? 0 : 1;
}
