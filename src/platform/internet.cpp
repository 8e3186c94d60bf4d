#include "platform/internet.h"

#include "download/manager_state.h"

const char INTERNET_AGENT[] = "Tembra Download Manager";

HINTERNET OpenInternetRoot() {
    return InternetOpenA(INTERNET_AGENT, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
}

HINTERNET OpenInternetUrl(HINTERNET root, const char* url) {
    return InternetOpenUrlA(root, url, nullptr, 0, INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
}

bool FetchText(const char* url) {
    char* text = g_manager.responseText;
    if (!text) return false;
    text[0] = '\0';

    HINTERNET root = OpenInternetRoot();
    if (!root) return false;
    HINTERNET request = OpenInternetUrl(root, url);
    if (!request) {
        InternetCloseHandle(root);
        return false;
    }
    DWORD count = 0;
    const BOOL ok = InternetReadFile(request, text, TEXT_BUFFER_SIZE - 1, &count);
    InternetCloseHandle(request);
    InternetCloseHandle(root);
    if (count > TEXT_BUFFER_SIZE - 1) count = 0;
    text[count] = '\0';
    return ok != FALSE;
}
