// URL retrieval through WinINet, with the agent name, access type and URL
// flags that every request of the program uses, and bounded waits.
#pragma once

#include <windows.h>
#include <wininet.h>

extern const char INTERNET_AGENT[];  // "Tembra Download Manager", the User-Agent

// A root handle with the program's agent name and the preconfigured access,
// carrying the program's connect, send and receive timeouts; null also
// when wininet.dll cannot be loaded from the system folder.
HINTERNET OpenInternetRoot();

// Opens url on root, always from the origin server and never into the cache.
HINTERNET OpenInternetUrl(HINTERNET root, const char* url);

// WinINet's own calls on handles that OpenInternetRoot and OpenInternetUrl gave.
BOOL ReadInternet(HINTERNET request, void* buffer, DWORD size, DWORD* count);
void CloseInternetHandle(HINTERNET handle);
// HttpQueryInfoA of a number (HTTP_QUERY_STATUS_CODE, HTTP_QUERY_CONTENT_LENGTH).
bool QueryHttpNumber(HINTERNET request, DWORD query, DWORD* value);

// One-shot fetch into the response text buffer of the manager state: the
// text is emptied first, then whatever one read delivers (at most
// TEXT_BUFFER_SIZE - 1 bytes, so the terminator stays inside) is the text.
// Returns the read's result; false also when nothing could be opened or
// when the fetch did not end within deadlineMs (the text then stays empty).
bool FetchTextWithin(const char* url, unsigned deadlineMs);

// FetchTextWithin with the program's deadline for one fetch.
bool FetchText(const char* url);
