#include "platform/internet.h"

#include <cstdlib>
#include <cstring>

#include "download/manager_state.h"
#include "download/package_rules.h"
#include "platform/network_timeouts.h"
#include "platform/support_log.h"
#include "platform/system_libraries.h"

const char INTERNET_AGENT[] = "Tembra Download Manager";

HINTERNET OpenInternetRoot(unsigned receiveTimeoutMs) {
    const WinInetApi* net = WinInet();
    HINTERNET root = net ? net->InternetOpenA(INTERNET_AGENT, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0) : nullptr;
    if (root) {
        DWORD connect = CONNECT_TIMEOUT_MS, send = RECEIVE_TIMEOUT_MS, receive = receiveTimeoutMs;
        net->InternetSetOptionA(root, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
        net->InternetSetOptionA(root, INTERNET_OPTION_SEND_TIMEOUT, &send, sizeof send);
        net->InternetSetOptionA(root, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof receive);
    }
    return root;
}

// The handle functions below are only reached with a root handle, that is
// once wininet.dll was loaded.
ProxyCredentialsFunction g_askProxyCredentials;

static bool ProxyRefused(HINTERNET request) {
    DWORD status = 0;
    return QueryHttpNumber(request, HTTP_QUERY_STATUS_CODE, &status) && status == HTTP_STATUS_PROXY_AUTH_REQ;
}

// The refusal's page goes before the request is sent again (a bounded read:
// it is a short page, and a proxy that keeps sending is given up on).
static bool SendAgain(HINTERNET request) {
    char sink[1024];
    DWORD count = 0;
    for (int reads = 0; reads < 64 && ReadInternet(request, sink, sizeof sink, &count) && count != 0; ++reads) {
    }
    return WinInet()->HttpSendRequestA(request, nullptr, 0, nullptr, 0) != FALSE;
}

static bool SetCredential(HINTERNET request, DWORD option, char* text) {
    return WinInet()->InternetSetOptionA(request, option, text, static_cast<DWORD>(std::strlen(text))) != FALSE;
}

// Which proxy asked: its setting on the root (the proxy list, where the
// system names one) and its challenge (scheme and realm). Credentials typed
// for one proxy are never sent to another that asks.
static void ProxyIdentity(HINTERNET root, HINTERNET request, char* identity) {
    identity[0] = '\0';
    union {
        INTERNET_PROXY_INFO info;
        char bytes[PROXY_IDENTITY_SIZE];
    } proxy;
    DWORD size = sizeof proxy;
    if (WinInet()->InternetQueryOptionA(root, INTERNET_OPTION_PROXY, &proxy, &size) && proxy.info.lpszProxy &&
        std::strlen(proxy.info.lpszProxy) < PROXY_IDENTITY_SIZE / 2)
        std::strcpy(identity, proxy.info.lpszProxy);
    const std::size_t used = std::strlen(identity);
    identity[used] = '|';
    if (!QueryHttpText(request, HTTP_QUERY_PROXY_AUTHENTICATE, identity + used + 1,
                       static_cast<DWORD>(PROXY_IDENTITY_SIZE - used - 1)))
        identity[used] = '\0';
}

// What the user typed, as WinINet keeps it, for the run's later requests
// (each fetch has a root of its own, which does not share it).
static bool QueryCredential(HINTERNET request, DWORD option, char* text) {
    DWORD size = PROXY_CREDENTIAL_SIZE;
    return WinInet()->InternetQueryOptionA(request, option, text, &size) && size < PROXY_CREDENTIAL_SIZE;
}

static void RememberCredentials(HINTERNET request, const char* identity) {
    if (!QueryCredential(request, INTERNET_OPTION_PROXY_USERNAME, g_manager.proxyUser) ||
        !QueryCredential(request, INTERNET_OPTION_PROXY_PASSWORD, g_manager.proxyPassword))
        ForgetProxyCredentials();
    else
        std::strcpy(g_manager.proxyIdentity, identity);
}

void ForgetProxyCredentials() {
    SecureZeroMemory(g_manager.proxyUser, PROXY_CREDENTIAL_SIZE);
    SecureZeroMemory(g_manager.proxyPassword, PROXY_CREDENTIAL_SIZE);
    g_manager.proxyIdentity[0] = '\0';
}

static void AnswerProxy(HINTERNET root, HINTERNET request) {
    if (!ProxyRefused(request)) return;
    char identity[PROXY_IDENTITY_SIZE];
    ProxyIdentity(root, request, identity);
    if (g_manager.proxyUser[0] != '\0' && std::strcmp(identity, g_manager.proxyIdentity) == 0 &&
        SetCredential(request, INTERNET_OPTION_PROXY_USERNAME, g_manager.proxyUser) &&
        SetCredential(request, INTERNET_OPTION_PROXY_PASSWORD, g_manager.proxyPassword) &&
        (!SendAgain(request) || !ProxyRefused(request)))
        return;
    // Cancelled, or refused three times: the run asks no more, every later
    // request fails at the proxy like this one.
    for (int asked = 0; !g_manager.proxyDeclined && ProxyRefused(request); ++asked) {
        if (asked == PROXY_ASK_LIMIT || !g_askProxyCredentials || !g_askProxyCredentials(request)) {
            g_manager.proxyDeclined = true;
            return;
        }
        RememberCredentials(request, identity);
        if (!SendAgain(request)) return;
    }
}

HINTERNET OpenInternetUrl(HINTERNET root, const char* url, const char* headers) {
    HINTERNET request = WinInet()->InternetOpenUrlA(root, url, headers, headers ? static_cast<DWORD>(-1) : 0,
                                                    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (request) AnswerProxy(root, request);
    return request;
}

BOOL ReadInternet(HINTERNET request, void* buffer, DWORD size, DWORD* count) {
    return WinInet()->InternetReadFile(request, buffer, size, count);
}

void CloseInternetHandle(HINTERNET handle) { WinInet()->InternetCloseHandle(handle); }

bool QueryHttpNumber(HINTERNET request, DWORD query, DWORD* value) {
    DWORD size = sizeof *value;
    return WinInet()->HttpQueryInfoA(request, query | HTTP_QUERY_FLAG_NUMBER, value, &size, nullptr) != FALSE;
}

bool QueryHttpText(HINTERNET request, DWORD query, char* text, DWORD size) {
    DWORD length = size;
    if (size == 0) return false;
    if (WinInet()->HttpQueryInfoA(request, query, text, &length, nullptr) && length < size) {
        text[length] = '\0';
        return true;
    }
    text[0] = '\0';
    return false;
}

namespace {

// Who may touch a fetch's handles. The fetching thread owns them: it closes
// what it opened once it is done. The caller that stops waiting takes them
// over only while the thread is inside a WinINet call, and closes the root,
// which is how WinINet cancels that call (children go with their root); from
// then on the thread touches none of them. Given up between two calls, the
// thread makes no further call and closes them itself. So each handle is
// closed exactly once, never late: WinINet hands out a closed handle's value
// again at once, and a late close would hit the next fetch's handle.
enum : LONG { FETCH_IDLE, FETCH_IN_CALL, FETCH_GIVEN_UP, FETCH_CANCELLED };

// One fetch, run on a thread of its own so that the caller can stop waiting
// for it. The job owns its buffers: a fetch given up on may still finish
// later without touching the manager state. Freed by whoever lets go last.
struct FetchJob {
    volatile LONG references;  // the caller and the fetching thread
    volatile LONG state;       // FETCH_*
    HINTERNET root;
    HANDLE done;
    BOOL answered;  // a status line came: the server answered
    BOOL httpsOnly; // the answer counts only from an https:// address, after any HTTP redirect
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

bool EnterCall(FetchJob* job) {
    return InterlockedCompareExchange(&job->state, FETCH_IN_CALL, FETCH_IDLE) == FETCH_IDLE;
}

// False when the caller cancelled the call: the handles are no longer ours.
bool LeaveCall(FetchJob* job) {
    return InterlockedCompareExchange(&job->state, FETCH_IDLE, FETCH_IN_CALL) == FETCH_IN_CALL;
}

// Whether the answer came from an https:// address: WinINet follows HTTP
// redirects by itself, so the address asked is not enough. (Windows' WinINet
// refuses a redirect from https to http on its own; Wine's follows it.)
bool CameOverHttps(HINTERNET request, char* scratch) {
    DWORD size = TEXT_BUFFER_SIZE;
    const bool ok = WinInet()->InternetQueryOptionA(request, INTERNET_OPTION_URL, scratch, &size) &&
                    size < TEXT_BUFFER_SIZE && MatchesPrefixIgnoringCase(scratch, "https://");
    scratch[0] = '\0';
    return ok;
}

DWORD WINAPI FetchThread(void* parameter) {
    FetchJob* job = static_cast<FetchJob*>(parameter);
    HINTERNET request = nullptr;
    bool owner = true;
    if (EnterCall(job)) {
        request = OpenInternetUrl(job->root, job->url);
        // A request handle alone is no answer: Wine gives one for a
        // connection reset before any status line, and then reads nothing
        // from it successfully. Without a status line nothing is read.
        DWORD status = 0;
        job->answered = request && QueryHttpNumber(request, HTTP_QUERY_STATUS_CODE, &status) && status != 0;
        LogFetchAnswer(status, GetLastError());
        const bool usable = !job->httpsOnly || (job->answered && CameOverHttps(request, job->text));
        owner = LeaveCall(job);
        if (owner && job->answered && usable && EnterCall(job)) {
            job->ok = ReadInternet(request, job->text, TEXT_BUFFER_SIZE - 1, &job->count);
            owner = LeaveCall(job);
        }
    }
    if (owner) {
        if (request) CloseInternetHandle(request);
        CloseInternetHandle(job->root);
    }
    SetEvent(job->done);
    Release(job);
    return 0;
}

// The caller stops waiting. On Windows closing the root makes a blocked call
// return at once; under Wine the thread ends when its server lets go.
void GiveUp(FetchJob* job) {
    for (;;) {
        if (InterlockedCompareExchange(&job->state, FETCH_GIVEN_UP, FETCH_IDLE) == FETCH_IDLE) return;
        if (InterlockedCompareExchange(&job->state, FETCH_CANCELLED, FETCH_IN_CALL) == FETCH_IN_CALL) {
            CloseInternetHandle(job->root);
            return;
        }
    }
}

}  // namespace

// Waits for done within deadlineMs, not counting the time the proxy's
// credential dialog was open. Messages sent to this thread are handled
// meanwhile: a fetch thread hands that dialog to the window's thread.
static bool WaitForFetch(HANDLE done, unsigned deadlineMs) {
    const DWORD start = GetTickCount();
    const std::uint32_t dialogBefore = g_manager.credentialsMs;
    for (;;) {
        const DWORD allowed = deadlineMs + (g_manager.credentialsMs - dialogBefore);
        const DWORD spent = GetTickCount() - start;
        if (spent >= allowed) return false;
        const DWORD woke = MsgWaitForMultipleObjects(1, &done, FALSE, allowed - spent, QS_SENDMESSAGE);
        if (woke == WAIT_OBJECT_0) return true;
        if (woke == WAIT_FAILED) return WaitForSingleObject(done, allowed - spent) == WAIT_OBJECT_0;
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);  // runs what was sent
    }
}

// One try of FetchTextWithin; *answered tells whether the server answered.
static bool FetchOnce(const char* url, unsigned deadlineMs, bool httpsOnly, bool* answered) {
    *answered = false;
    char* text = g_manager.responseText;
    if (!text) return false;
    text[0] = '\0';
    const std::size_t length = std::strlen(url);
    FetchJob* job = length < TEXT_BUFFER_SIZE ? static_cast<FetchJob*>(std::calloc(1, sizeof(FetchJob))) : nullptr;
    if (!job) return false;
    std::memcpy(job->url, url, length + 1);
    job->references = 2;
    job->httpsOnly = httpsOnly;
    job->root = OpenInternetRoot(RECEIVE_TIMEOUT_MS);
    job->done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = job->root && job->done ? CreateThread(nullptr, 0, FetchThread, job, 0, nullptr) : nullptr;
    if (!thread) {
        if (job->root) CloseInternetHandle(job->root);
        if (job->done) CloseHandle(job->done);
        std::free(job);
        return false;
    }
    CloseHandle(thread);
    bool ok = false;
    if (WaitForFetch(job->done, deadlineMs)) {
        const DWORD count = job->count <= TEXT_BUFFER_SIZE - 1 ? job->count : 0;
        std::memcpy(text, job->text, count);
        text[count] = '\0';
        ok = job->ok != FALSE;
        *answered = job->answered != FALSE;
    } else {
        LogFetchOverdue(deadlineMs);
        GiveUp(job);
    }
    Release(job);
    return ok;
}

bool FetchTextWithin(const char* url, unsigned deadlineMs, bool httpsOnly) {
    const DWORD start = GetTickCount();
    bool answered = false;
    const bool ok = FetchOnce(url, deadlineMs, httpsOnly, &answered);
    if (ok || answered) return ok;
    const DWORD spent = GetTickCount() - start;
    if (spent + FETCH_RETRY_PAUSE_MS >= deadlineMs) return false;
    Sleep(FETCH_RETRY_PAUSE_MS);
    return FetchOnce(url, deadlineMs - spent - FETCH_RETRY_PAUSE_MS, httpsOnly, &answered);
}

bool FetchText(const char* url) { return FetchTextWithin(url, FETCH_DEADLINE_MS, false); }
