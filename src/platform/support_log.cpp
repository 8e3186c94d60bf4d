#include "platform/support_log.h"

#include <cstdarg>
#include <cstring>

#include "download/download_attempt.h"
#include "platform/file_names.h"
#include "platform/system_libraries.h"

namespace {

const char LOG_NAME[] = "TembraDownloadManager.log";
const char OLD_LOG_NAME[] = "TembraDownloadManager.old.log";
const char FULL_LINE[] = "The log is full.\r\n";

HANDLE g_log;  // null: no log this run
DWORD g_start;
// One writer at a time (Wine does not keep appends of two threads apart),
// which also keeps the count and the full line in order.
volatile LONG g_writing;  // 1 while a thread writes
DWORD g_written;          // bytes in the file
bool g_full;

// path := the temporary folder and name; false when it does not fit.
bool TempPath(char* path, DWORD size, const char* name) {
    const DWORD length = GetTempPathA(size, path);
    if (length == 0 || length >= size || length + lstrlenA(name) >= size) return false;
    lstrcpyA(path + length, name);
    return true;
}

const char HEADER[] = " ms: Tembra Download Manager: ";  // after the time of the log's first line

// Whether path is a log of this program: a plain file with one name (no
// symbolic link, junction or other reparse point, no hard link) that begins
// with the first line of a log.
bool IsOwnLog(const char* path) {
    HANDLE file = CreateFileA(path, FILE_READ_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    char start[64] = {};
    DWORD count = 0;
    const bool read = IsOnlyName(file) && ReadFile(file, start, sizeof start - 1, &count, nullptr);
    CloseHandle(file);
    const char* time = start;
    while (*time >= '0' && *time <= '9') ++time;
    return read && time != start && std::memcmp(time, HEADER, sizeof HEADER - 1) == 0;
}

// Whether anything stands at path, a link whose target is missing included.
bool Present(const char* path) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return true;
}

// The program runs elevated, and the temporary folder is the user's: a
// link planted at the log's names must not make it move, write, create or
// delete a file elsewhere. So the two names are touched only where they
// hold logs of this program, or nothing; anything else there is left alone,
// and the run keeps no log. (Windows moves and deletes a symbolic link
// itself, not its target, and shows it as a reparse point; Wine shows a
// Unix symbolic link as the file it points to and moves or deletes that
// file, so the check must not rest on the move.) The new log is created
// new (CREATE_NEW fails on anything at the name), not through a reparse
// point, and given up on unless it is a plain file with one name.
HANDLE CreateLog() {
    char path[MAX_PATH + 40], old[MAX_PATH + 40];
    if (!TempPath(path, sizeof path, LOG_NAME) || !TempPath(old, sizeof old, OLD_LOG_NAME)) return nullptr;
    if ((Present(old) && !IsOwnLog(old)) || (Present(path) && (!IsOwnLog(path) ||
                                                               !MoveFileExA(path, old, MOVEFILE_REPLACE_EXISTING))))
        return nullptr;
    // Append-only access: every write goes to the end, whichever thread makes it.
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    if (!IsOnlyName(file)) {
        CloseHandle(file);
        return nullptr;
    }
    return file;
}

void Write(const char* text, DWORD length) {
    DWORD written = 0;
    WriteFile(g_log, text, length, &written, nullptr);
}

// One line: format with its arguments (download/log_text.h).
void Log(const char* format, ...) {
    LogLine line;
    BeginLogLineNow(&line);
    std::va_list arguments;
    va_start(arguments, format);
    AddLogFormat(&line, format, arguments);
    va_end(arguments);
    WriteLogLine(&line);
}

}  // namespace

void OpenSupportLog() {
    if (g_log) return;
    g_start = GetTickCount();
    g_log = CreateLog();
    Log("%ssystem language %x, code page %u", HEADER + 5, GetSystemDefaultLangID(), GetACP());  // HEADER after " ms: "
}

void BeginLogLineNow(LogLine* line) { BeginLogLine(line, GetTickCount() - g_start); }

// Within the limit, the last line saying that it is full. Lines differ in
// length, so once one did not fit a shorter one still might: nothing goes
// after the full line.
void WriteLogLine(LogLine* line) {
    if (!g_log) return;
    const DWORD length = static_cast<DWORD>(EndLogLine(line));
    while (InterlockedExchange(&g_writing, 1) != 0) SwitchToThread();
    if (!g_full && g_written + length <= LOG_FILE_LIMIT - (sizeof FULL_LINE - 1)) {
        Write(line->text, length);
        g_written += length;
    } else if (!g_full) {
        Write(FULL_LINE, sizeof FULL_LINE - 1);
        g_full = true;
    }
    InterlockedExchange(&g_writing, 0);
}

void LogChooserResult(INT_PTR result, const char* language) {
    Log(result != 0 ? "language chosen: %s" : "language chooser cancelled", language);
}

void LogStatusText(int number) { Log("window shows text %d", number); }

void LogRequest(const char* what, const char* address, int redirects) {
    Log(redirects >= 0 ? "%s: asking %a (redirect %d)" : "%s: asking %a", what, address, redirects);
}

void LogFetchAnswer(DWORD status, DWORD error) {
    if (status != 0)
        Log("  answer: HTTP %u", status);
    else
        Log("  no answer: error %u", error);
}

void LogFetchOverdue(unsigned deadlineMs) { Log("  no answer within %u ms", deadlineMs); }

void LogPackage(const char* base, const char* fileName, const char* language) {
    Log("package: %a file %s, language %s", base, fileName, language);
}

// Line 1 as the server sent it (its CR LF left out), up to 40 bytes.
void LogInfoSizeLine(const char* infoText) {
    char size[41] = {};
    for (int i = 0; i < 40 && infoText && infoText[i] && infoText[i] != '\n' && infoText[i] != '\r'; ++i)
        size[i] = infoText[i];
    Log("info file: size line \"%s\"", size);
}

void LogDownloadRequest(const char* address, DWORD from) {
    Log(from == 0 ? "download: asking %a, whole file" : "download: asking %a, range from byte %u", address, from);
}

void LogDownloadAnswer(HINTERNET request) {
    if (!request) {
        LogFetchAnswer(0, GetLastError());
        return;
    }
    const WinInetApi* net = WinInet();
    DWORD status = 0, size = sizeof status;
    char range[96] = {}, length[24] = {};
    DWORD rangeSize = sizeof range - 1, lengthSize = sizeof length - 1;
    net->HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr);
    if (!net->HttpQueryInfoA(request, HTTP_QUERY_CONTENT_RANGE, range, &rangeSize, nullptr)) range[0] = '\0';
    if (!net->HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, length, &lengthSize, nullptr)) length[0] = '\0';
    Log(range[0] ? "  answer: HTTP %u, range given %s%s%s" : "  answer: HTTP %u%s%s%s", status, range,
        length[0] ? ", length " : "", length);
}

void LogReadFailure(DWORD error) { Log("  read failed: error %u", error); }

void LogAttemptEnd(int attempt, AttemptResult result, DWORD written) {
    static const char* const kOutcomes[] = {"the whole file is in", "to be tried again", "failed for good",
                                            "failed for good at this address"};
    Log("download: attempt %d ends, %s, %u bytes in the file", attempt, kOutcomes[static_cast<int>(result)], written);
}

void LogRetryWait(unsigned waitMs) { Log("download: waiting %u ms before the next attempt", waitMs); }

void LogPinned(unsigned size, int mirrors) {
    Log(size != 0 ? "package: pinned at %u bytes and a SHA-256, %d mirrors" : "package: no pin, %d mirrors",
        size != 0 ? size : static_cast<unsigned>(mirrors), mirrors);
}

void LogPinCheck(bool matches) {
    Log(matches ? "download: the file matches its pin" : "download: the file does not match its pin, starting over");
}

void LogBaseChange(const char* address) { Log("download: next address %a", address); }

void LogNoProgress(unsigned quietMs) { Log("download: no byte for %u ms, given up", quietMs); }

void LogKeptDownload(DWORD from, DWORD recorded) {
    Log("download: taking over what an earlier run kept (%u bytes recorded), going on from byte %u", recorded, from);
}

void LogStall(unsigned quietMs) { Log("download: nothing arrived for %u ms, given up", quietMs); }

// Whether the user answered, never what was typed.
void LogProxyCredentials(bool given) {
    Log("proxy asked for credentials: the user %s", given ? "gave them" : "cancelled");
}

void LogSignerCheck(LONG verdict, bool trusted) {
    Log("signer check: WinVerifyTrust %x, %s", verdict, trusted ? "the publisher's" : "refused");
}

void LogInstallerStart(DWORD error) {
    Log(error == 0 ? "installer started" : "installer not started: CreateProcess error %u", error);
}

void LogRetirement(const char* outcome, DWORD error) {
    Log(error == 0 ? "previous installation: %s" : "previous installation: %s, error %u", outcome, error);
}

void LogResult(const char* what, HRESULT result) { Log("%s: %x", what, result); }
