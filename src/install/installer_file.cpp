#include "install/installer_file.h"

#include <cstring>

#include "download/manager_state.h"
#include "install/sha256.h"

const char INSTALLER_FILE[] = "tembset.exe";

const char* InstallerPath() {
    char* path = g_manager.installerPath;
    if (path[0] == '\0') {
        const DWORD length = GetFullPathNameA(INSTALLER_FILE, INSTALLER_PATH_SIZE, path, nullptr);
        if (length == 0 || length >= INSTALLER_PATH_SIZE) path[0] = '\0';
    }
    return path;
}

static HANDLE HeldFile() { return static_cast<HANDLE>(g_manager.installerFile); }

static void CloseHeldFile() {
    if (g_manager.installerFile) CloseHandle(HeldFile());
    g_manager.installerFile = nullptr;
}

bool CreateInstallerFile() {
    ReleaseInstallerFile();
    const char* path = InstallerPath();
    if (path[0] == '\0') return false;
    // Others may read the file (a virus scanner, say), nothing more.
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    g_manager.installerFile = file;
    Sha256Begin(&g_manager.writtenDigest);
    return true;
}

bool RestartInstallerFile() {
    Sha256Begin(&g_manager.writtenDigest);
    return SetFilePointer(HeldFile(), 0, nullptr, FILE_BEGIN) == 0 && SetEndOfFile(HeldFile());
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

bool SealInstallerFile() {
    BYTE written[SHA256_DIGEST_SIZE], found[SHA256_DIGEST_SIZE];
    const bool held = g_manager.installerFile != nullptr;
    Sha256Finish(&g_manager.writtenDigest, written);
    CloseHeldFile();
    if (!held) return false;
    // Without FILE_SHARE_WRITE this open fails while any process has the
    // file open for writing, and from here on nobody can open it so; without
    // FILE_SHARE_DELETE nobody can rename or delete it.
    HANDLE file = CreateFileA(InstallerPath(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    g_manager.installerFile = file;
    if (DigestOfFile(file, found) && std::memcmp(written, found, sizeof written) == 0) return true;
    CloseHeldFile();
    return false;
}

void ReleaseInstallerFile() { CloseHeldFile(); }
