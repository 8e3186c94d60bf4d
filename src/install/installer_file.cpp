#include "install/installer_file.h"

#include <wincrypt.h>

#include <cstring>

#include "download/manager_state.h"

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

static void EndDigest() {
    if (g_manager.digestHash) CryptDestroyHash(g_manager.digestHash);
    if (g_manager.digestProvider) CryptReleaseContext(g_manager.digestProvider, 0);
    g_manager.digestHash = g_manager.digestProvider = 0;
}

// SHA-256 through the system's own provider: what a writer in the gap would
// have to match.
static bool BeginDigest(HCRYPTPROV* provider, HCRYPTHASH* hash) {
    *provider = 0;
    *hash = 0;
    if (!CryptAcquireContextA(provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return false;
    if (CryptCreateHash(*provider, CALG_SHA_256, 0, 0, hash)) return true;
    CryptReleaseContext(*provider, 0);
    *provider = 0;
    return false;
}

// The digest of what the worker writes, begun afresh.
static bool BeginWrittenDigest() {
    EndDigest();
    HCRYPTPROV provider;
    HCRYPTHASH hash;
    if (!BeginDigest(&provider, &hash)) return false;
    g_manager.digestProvider = provider;
    g_manager.digestHash = hash;
    return true;
}

static bool FinishDigest(HCRYPTHASH hash, BYTE* digest) {
    DWORD size = INSTALLER_DIGEST_SIZE;
    return CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0) && size == INSTALLER_DIGEST_SIZE;
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
    if (BeginWrittenDigest()) return true;
    CloseHeldFile();
    return false;
}

bool RestartInstallerFile() {
    return SetFilePointer(HeldFile(), 0, nullptr, FILE_BEGIN) == 0 && SetEndOfFile(HeldFile()) &&
           BeginWrittenDigest();
}

bool WriteInstallerFile(const void* data, DWORD size) {
    DWORD written = 0;
    if (size == 0) return true;
    return WriteFile(HeldFile(), data, size, &written, nullptr) && written == size &&
           CryptHashData(g_manager.digestHash, static_cast<const BYTE*>(data), size, 0);
}

// The digest of the whole file as it lies on disk, read through file.
static bool DigestOfFile(HANDLE file, BYTE* digest) {
    HCRYPTPROV provider;
    HCRYPTHASH hash;
    if (!BeginDigest(&provider, &hash)) return false;
    static BYTE block[64 * 1024];  // window thread only
    bool ok = SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0;
    for (DWORD count = 1; ok && count != 0;) {
        ok = ReadFile(file, block, sizeof block, &count, nullptr) && CryptHashData(hash, block, count, 0);
    }
    ok = ok && FinishDigest(hash, digest) && SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0;
    CryptDestroyHash(hash);
    CryptReleaseContext(provider, 0);
    return ok;
}

bool SealInstallerFile() {
    BYTE written[INSTALLER_DIGEST_SIZE], found[INSTALLER_DIGEST_SIZE];
    const bool digested = g_manager.installerFile && g_manager.digestHash &&
                          FinishDigest(g_manager.digestHash, written);
    EndDigest();
    CloseHeldFile();
    if (!digested) return false;
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

void ReleaseInstallerFile() {
    EndDigest();
    CloseHeldFile();
}
