#include "install/kept_download.h"

#include <cstring>
#include <cwchar>

#include "download/manager_state.h"
#include "install/download_folder.h"
#include "install/installer_file.h"
#include "platform/file_names.h"

const wchar_t RECORD_FILE[] = L"tembset.rec";
const wchar_t RECORD_TEMP_FILE[] = L"tembset.rec.new";

namespace {

std::uint64_t Now() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return static_cast<std::uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
}

bool InFolder(const wchar_t* folder, const wchar_t* name, wchar_t* path) {
    if (std::wcslen(folder) + std::wcslen(name) >= FOLDER_PATH_SIZE) return false;
    std::wcscpy(path, folder);
    std::wcscat(path, name);
    return true;
}

// The record in folder, whole and for the pin whose text is pinText. A
// record that does not parse (torn, damaged, of another version) is none.
bool ReadRecord(const wchar_t* folder, const char* pinText, ResumeRecord* record) {
    wchar_t path[FOLDER_PATH_SIZE];
    if (!InFolder(folder, RECORD_FILE, path)) return false;
    // Sharing deletion: the run that owns the record may move a new one
    // over it meanwhile.
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    static std::uint8_t bytes[RESUME_RECORD_SIZE + 1];  // one more: a longer file is no record
    DWORD count = 0;
    const bool read = ReadFile(file, bytes, sizeof bytes, &count, nullptr);
    CloseHandle(file);
    char text[PIN_TEXT_SIZE];
    if (!read || !ParseResumeRecord(bytes, count, record)) return false;
    FormatPin(record->pin, text);
    return std::strcmp(text, pinText) == 0 && ResumeRecordIsFresh(record->writtenAt, Now());
}

// What AdoptListedFolder's check found in the folder it accepted.
ResumeRecord* g_foundRecord;
HANDLE g_foundFile;

bool EndsWith(const char* text, const char* tail) {
    const std::size_t length = std::strlen(text), tailLength = std::strlen(tail);
    return tailLength != 0 && length > tailLength && std::strcmp(text + length - tailLength, tail) == 0;
}

// A folder kept for this run's pin, of the same installer, with its partial
// file, which this run can open for itself (nobody else writes it).
bool UsableKeptFolder(const wchar_t* folder) {
    char pinText[PIN_TEXT_SIZE];
    wchar_t path[FOLDER_PATH_SIZE];
    FormatPin(g_manager.pin, pinText);
    if (!ReadRecord(folder, pinText, g_foundRecord) || !EndsWith(g_foundRecord->address, g_manager.installerFileName) ||
        !InFolder(folder, INSTALLER_FILE, path))
        return false;
    g_foundFile = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (g_foundFile == INVALID_HANDLE_VALUE) return false;
    if (IsOnlyName(g_foundFile)) return true;
    CloseHandle(g_foundFile);  // a link: never written through
    return false;
}

}  // namespace

bool WriteResumeRecord(const char* address, const char* validator, DWORD bytesWritten) {
    static ResumeRecord record;                          // worker only
    static std::uint8_t bytes[RESUME_RECORD_SIZE];
    if (std::strlen(address) >= ADDRESS_BUFFER_SIZE || std::strlen(validator) >= VALIDATOR_SIZE) return false;
    std::memset(&record, 0, sizeof record);
    std::strcpy(record.address, address);
    std::strcpy(record.validator, validator);
    record.pin = g_manager.pin;
    record.bytesWritten = bytesWritten;
    record.writtenAt = Now();
    wchar_t temporary[FOLDER_PATH_SIZE], path[FOLDER_PATH_SIZE];
    if (!SerializeResumeRecord(record, bytes) || !DownloadFolderFile(RECORD_TEMP_FILE, temporary) ||
        !DownloadFolderFile(RECORD_FILE, path))
        return false;
    // The folder is this run's own, held, and only its owners may write in
    // it: no link can stand at either name. Written through, so that the
    // record the move puts in place is on the disk before the move is.
    HANDLE file = CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, bytes, sizeof bytes, &written, nullptr) && written == sizeof bytes;
    CloseHandle(file);
    return ok && MoveFileExW(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

void ForgetResumeRecord() {
    wchar_t path[FOLDER_PATH_SIZE];
    if (DownloadFolderFile(RECORD_FILE, path)) DeleteFileW(path);
}

bool KeepsFreshRecord(const wchar_t* folder, const char* pinText) {
    static ResumeRecord record;  // worker only
    return ReadRecord(folder, pinText, &record);
}

bool AdoptKeptDownload(HWND window, ResumeRecord* record, DWORD* resumeFrom) {
    char pinText[PIN_TEXT_SIZE];
    FormatPin(g_manager.pin, pinText);
    g_foundRecord = record;
    if (!AdoptListedFolder(pinText, UsableKeptFolder)) return false;
    LARGE_INTEGER length = {};
    const std::uint32_t from = GetFileSizeEx(g_foundFile, &length) ? KeptResumeOffset(*record, length.QuadPart) : 0;
    *resumeFrom = TakeOverInstallerFile(g_foundFile, from, window);
    return true;
}
