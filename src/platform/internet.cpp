#include "platform/internet.h"

#include <cstdlib>
#include <cstring>

#include "download/manager_state.h"
#include "platform/network_timeouts.h"
#include "platform/system_libraries.h"

const char INTERNET_AGENT[] = "Tembra Download Manager";

HINTERNET OpenInternetRoot() {
    const WinInetApi* net = WinInet();
    HINTERNET root = net ? net->InternetOpenA(INTERNET_AGENT, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0) : nullptr;
    if (root) {
        DWORD connect = CONNECT_TIMEOUT_MS, receive = RECEIVE_TIMEOUT_MS;
        net->InternetSetOptionA(root, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
        net->InternetSetOptionA(root, INTERNET_OPTION_SEND_TIMEOUT, &receive, sizeof receive);
        net->InternetSetOptionA(root, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof receive);
    }
    return root;
}

// The handle functions below are only reached with a root handle, that is
// once wininet.dll was loaded.
HINTERNET OpenInternetUrl(HINTERNET root, const char* url) {
    return WinInet()->InternetOpenUrlA(root, url, nullptr, 0, INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
}

BOOL ReadInternet(HINTERNET request, void* buffer, DWORD size, DWORD* count) {
    return WinInet()->InternetReadFile(request, buffer, size, count);
}

void CloseInternetHandle(HINTERNET handle) { WinInet()->InternetCloseHandle(handle); }

bool QueryHttpNumber(HINTERNET request, DWORD query, DWORD* value) {
    DWORD size = sizeof *value;
    return WinInet()->HttpQueryInfoA(request, query | HTTP_QUERY_FLAG_NUMBER, value, &size, nullptr) != FALSE;
}

namespace {

// One fetch, run on a thread of its own so that the caller can stop waiting
// for it. The job owns its buffers: a fetch given up on may still finish
// later without touching the manager state. Freed by whoever lets go last.
struct FetchJob {
    volatile LONG references;  // the caller and the fetching thread
    HINTERNET volatile root;   // closed by whoever takes it first
    HANDLE done;
    BOOL ok;
    DWORD count;
    char url[TEXT_BUFFER_SIZE];
    char text[TEXT_BUFFER_SIZE];
};

void Release(FetchJob* job) {
    if (InterlockedDecrement(&job->references) == 0) {
        CloseHandle(job->done);
        std::free(job);
    }
}

void CloseRoot(FetchJob* job) {
    HINTERNET root = static_cast<HINTERNET>(InterlockedExchangePointer(const_cast<void**>(&job->root), nullptr));
    if (root) CloseInternetHandle(root);
}

DWORD WINAPI FetchThread(void* parameter) {
    FetchJob* job = static_cast<FetchJob*>(parameter);
    HINTERNET root = job->root;
    HINTERNET request = root ? OpenInternetUrl(root, job->url) : nullptr;
    if (request) {
        job->ok = ReadInternet(request, job->text, TEXT_BUFFER_SIZE - 1, &job->count);
        CloseInternetHandle(request);
    }
    CloseRoot(job);
    SetEvent(job->done);
    Release(job);
    return 0;
}

}  // namespace

bool FetchTextWithin(const char* url, unsigned deadlineMs) {
    char* text = g_manager.responseText;
    if (!text) return false;
    text[0] = '\0';
    const std::size_t length = std::strlen(url);
    FetchJob* job = length < TEXT_BUFFER_SIZE ? static_cast<FetchJob*>(std::calloc(1, sizeof(FetchJob))) : nullptr;
    if (!job) return false;
    std::memcpy(job->url, url, length + 1);
    job->references = 2;
    job->root = OpenInternetRoot();
    job->done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = job->root && job->done ? CreateThread(nullptr, 0, FetchThread, job, 0, nullptr) : nullptr;
    if (!thread) {
        CloseRoot(job);
        if (job->done) CloseHandle(job->done);
        std::free(job);
        return false;
    }
    CloseHandle(thread);
    bool ok = false;
    if (WaitForSingleObject(job->done, deadlineMs) == WAIT_OBJECT_0) {
        const DWORD count = job->count <= TEXT_BUFFER_SIZE - 1 ? job->count : 0;
        std::memcpy(text, job->text, count);
        text[count] = '\0';
        ok = job->ok != FALSE;
    } else {
        // Given up: on Windows closing the root makes the blocked call return
        // at once; under Wine the thread ends when its server lets go.
        CloseRoot(job);
    }
    Release(job);
    return ok;
}

bool FetchText(const char* url) { return FetchTextWithin(url, FETCH_DEADLINE_MS); }
