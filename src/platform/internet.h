// URL retrieval through WinINet, with the agent name, access type and URL
// flags that every request of the program uses, and bounded waits.
#pragma once

#include <windows.h>
#include <wininet.h>

extern const char INTERNET_AGENT[];  // "Tembra Download Manager", the User-Agent

// A root handle with the program's agent name and the preconfigured access,
// carrying the program's connect and send timeouts and receiveTimeoutMs;
// null also when wininet.dll cannot be loaded from the system folder.
HINTERNET OpenInternetRoot(unsigned receiveTimeoutMs);

// Opens url on root, always from the origin server and never into the cache,
// with headers (CR LF terminated lines) added to the request, or none. A
// proxy that asks for credentials (407) gets the run's, if they were given
// for that proxy (its setting and challenge), or else the user's through
// g_askProxyCredentials (up to three times); refused or cancelled, the
// request is returned with the proxy's 407.
HINTERNET OpenInternetUrl(HINTERNET root, const char* url, const char* headers = nullptr);

// Shows WinINet's credential dialog for request on the window's thread;
// true when the user gave credentials. Null: no one to ask (as Cancel).
using ProxyCredentialsFunction = bool (*)(HINTERNET request);
extern ProxyCredentialsFunction g_askProxyCredentials;
constexpr int PROXY_ASK_LIMIT = 3;

// Wipes the credentials the user gave in this run (the end of the run).
void ForgetProxyCredentials();

// WinINet's own calls on handles that OpenInternetRoot and OpenInternetUrl gave.
BOOL ReadInternet(HINTERNET request, void* buffer, DWORD size, DWORD* count);
void CloseInternetHandle(HINTERNET handle);
// HttpQueryInfoA of a number (HTTP_QUERY_STATUS_CODE, HTTP_QUERY_CONTENT_LENGTH).
bool QueryHttpNumber(HINTERNET request, DWORD query, DWORD* value);
// HttpQueryInfoA of a text (HTTP_QUERY_ETAG, HTTP_QUERY_CONTENT_RANGE, ...)
// into text of size bytes; false, and text empty, when absent or too long.
bool QueryHttpText(HINTERNET request, DWORD query, char* text, DWORD size);

// One-shot fetch into the response text buffer of the manager state: the
// text is emptied first, then whatever one read delivers (at most
// TEXT_BUFFER_SIZE - 1 bytes, so the terminator stays inside) is the text.
// Returns the read's result; false also when nothing could be opened or
// when the fetch did not end within deadlineMs (the text then stays empty).
// A fetch that got no answer at all (no connection, a reset before the
// answer) is tried once more after FETCH_RETRY_PAUSE_MS, within the same
// deadline; an answer is never fetched again because of what it says.
// httpsOnly: an answer that came from an address other than https:// (after
// WinINet's own redirects) counts as none, and is not fetched again.
bool FetchTextWithin(const char* url, unsigned deadlineMs, bool httpsOnly);
constexpr unsigned FETCH_RETRY_PAUSE_MS = 2000;

// FetchTextWithin with the program's deadline for one fetch.
bool FetchText(const char* url);
