#include "install/installer_file.h"

#include <cstring>
#include <cwchar>

#include "download/download_worker.h"
#include "download/manager_state.h"
#include "install/download_folder.h"
#include "install/sha256.h"
#include "platform/file_names.h"
#include "platform/system_libraries.h"

const wchar_t INSTALLER_FILE[] = L"tembset.exe";
const wchar_t REJECTED_FILE[] = L"tembset.exe.rejected";

static HANDLE HeldFile() { return static_cast<HANDLE>(g_manager.installerFile); }

static void CloseHeldFile() {
    if (g_manager.installerFile) CloseHandle(HeldFile());
    g_manager.installerFile = nullptr;
}

bool CreateInstallerFile() {
    ReleaseInstallerFile();
    wchar_t path[FOLDER_PATH_SIZE];
    if (!DownloadFolderFile(INSTALLER_FILE, path) && !CreateDownloadFolder()) return false;
    if (!DownloadFolderFile(INSTALLER_FILE, path)) return false;
    // Others may read the file (a virus scanner, say), nothing more.
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    g_manager.installerFile = file;
    if (!IsOnlyName(file)) {
        CloseHeldFile();
        return false;
    }
    Sha256Begin(&g_manager.writtenDigest);
    return true;
}

bool RestartInstallerFile() {
    Sha256Begin(&g_manager.writtenDigest);
    return SetFilePointer(HeldFile(), 0, nullptr, FILE_BEGIN) == 0 && SetEndOfFile(HeldFile());
}

DWORD TakeOverInstallerFile(HANDLE file, DWORD length, HWND window) {
    ReleaseInstallerFile();
    g_manager.installerFile = file;
    Sha256Begin(&g_manager.writtenDigest);
    static BYTE block[64 * 1024];  // worker only
    bool ok = SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0;
    for (DWORD done = 0, count = 0; ok && done < length; done += count) {
        const DWORD wanted = length - done < sizeof block ? length - done : sizeof block;
        ok = ReadFile(file, block, wanted, &count, nullptr) && count == wanted;
        if (ok) Sha256Add(&g_manager.writtenDigest, block, count);
        if (done % (128 * sizeof block) == 0) g_postWorkerMessage(window, WM_DLM_ATTEMPT, 0, 0);
    }
    ok = ok && SetFilePointer(file, static_cast<LONG>(length), nullptr, FILE_BEGIN) == length && SetEndOfFile(file);
    if (ok && length != 0) return length;
    RestartInstallerFile();
    return 0;
}

bool WriteInstallerFile(const void* data, DWORD size) {
    DWORD written = 0;
    if (size == 0) return true;
    Sha256Add(&g_manager.writtenDigest, data, size);
    return WriteFile(HeldFile(), data, size, &written, nullptr) && written == size;
}

// The digest of the whole file as it lies on disk, read through file.
static bool DigestOfFile(HANDLE file, BYTE* digest) {
    Sha256 hash;
    Sha256Begin(&hash);
    static BYTE block[64 * 1024];  // window thread only
    bool ok = SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0;
    for (DWORD count = 1; ok && count != 0;) {
        ok = ReadFile(file, block, sizeof block, &count, nullptr);
        if (ok) Sha256Add(&hash, block, count);
    }
    Sha256Finish(&hash, digest);
    return ok && SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0;
}

// A read-only handle to the file the worker holds for writing, without
// letting go of it: a reader that tolerates the writer, the writer closed,
// then the reader reopened as one that lets nobody write. No path is looked
// up again, so nothing on the way can lead elsewhere. (ReOpenFile: Windows
// Vista and later; before, the file is opened again by its path in the held
// private folder.)
static HANDLE ReadOnlyHandle(HANDLE writer) {
    using ReOpen = HANDLE(WINAPI*)(HANDLE, DWORD, DWORD, DWORD);
    const auto reOpen = reinterpret_cast<ReOpen>(Kernel32Function("ReOpenFile"));
    if (!reOpen) {
        wchar_t path[FOLDER_PATH_SIZE];
        CloseHandle(writer);
        return DownloadFolderFile(INSTALLER_FILE, path)
                   ? CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)
                   : INVALID_HANDLE_VALUE;
    }
    HANDLE tolerant = reOpen(writer, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
    CloseHandle(writer);
    if (tolerant == INVALID_HANDLE_VALUE) return tolerant;
    // Without FILE_SHARE_WRITE this fails while any process has the file
    // open for writing, and from here on nobody can open it so; without
    // FILE_SHARE_DELETE nobody can rename or delete it.
    HANDLE reader = reOpen(tolerant, GENERIC_READ, FILE_SHARE_READ, 0);
    CloseHandle(tolerant);
    return reader;
}

bool SealInstallerFile() {
    BYTE written[SHA256_DIGEST_SIZE], found[SHA256_DIGEST_SIZE];
    Sha256Finish(&g_manager.writtenDigest, written);
    if (!g_manager.installerFile) return false;
    HANDLE file = ReadOnlyHandle(HeldFile());
    g_manager.installerFile = nullptr;
    if (file == INVALID_HANDLE_VALUE) return false;
    g_manager.installerFile = file;
    if (DigestOfFile(file, found) && std::memcmp(written, found, sizeof written) == 0) return true;
    CloseHeldFile();
    return false;
}

bool HeldInstallerPath(wchar_t* path, std::size_t size) {
    if (!g_manager.installerFile || size < FOLDER_PATH_SIZE) return false;
    using FinalPath = DWORD(WINAPI*)(HANDLE, wchar_t*, DWORD, DWORD);
    const auto finalPath = reinterpret_cast<FinalPath>(Kernel32Function("GetFinalPathNameByHandleW"));
    const DWORD length = finalPath ? finalPath(HeldFile(), path, static_cast<DWORD>(size), VOLUME_NAME_DOS) : 0;
    if (length == 0 || length >= size) return DownloadFolderFile(INSTALLER_FILE, path);
    // "\\?\C:\..." as "C:\...": the form every installer expects to find
    // itself under (the path is short, the folder's being bounded).
    if (std::wcsncmp(path, L"\\\\?\\", 4) == 0 && path[5] == L':') std::memmove(path, path + 4, (length - 3) * sizeof *path);
    return true;
}

void ReleaseInstallerFile() { CloseHeldFile(); }
