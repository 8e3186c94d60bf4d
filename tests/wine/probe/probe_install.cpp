// Probe commands for the registry key holder, the distribution ID and the
// installer hand-off.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "download/constants.h"
#include "download/manager_state.h"
#include "download/stored_strings.h"
#include "install/distribution_id.h"
#include "install/download_folder.h"
#include "install/installer.h"
#include "install/installer_file.h"
#include "install/sha256.h"
#include "platform/reg_key.h"
#include "probe.h"

// record-id: what the manager window does at start with its own file.
static int RunRecordId(char**) {
    char id[DISTRIBUTION_ID_SIZE] = {};
    const bool found = ReadDistributionId(id, sizeof id);
    printf("found=%d\n", found ? 1 : 0);
    PrintEscaped("id", id);
    if (found) StoreDistributionId(id);
    return 0;
}

// query-id: the default value of the distribution key, type and size as stored.
static int RunQueryId(char**) {
    RegKey key;
    if (!key.Open(HKEY_LOCAL_MACHINE, DistributionKeyPath())) {
        printf("key=0\n");
        return 0;
    }
    char data[512] = {};
    DWORD type = 0, size = sizeof data - 1;
    const LONG status = RegQueryValueExA(key.hKey, "", nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    printf("key=1\nstatus=%ld\ntype=%lu\nsize=%lu\n", status, type, size);
    PrintEscaped("value", data);
    return 0;
}

// The whole of the file at path into text; false when it cannot be opened.
static bool ReadWholeFile(const char* path, std::string* text) {
    FILE* in = fopen(path, "rb");
    if (!in) return false;
    text->clear();
    for (int c; (c = fgetc(in)) != EOF;) *text += static_cast<char>(c);
    fclose(in);
    return true;
}

// set-uninstall VALUE: writes the previous installation's uninstall command;
// @FILE takes it from FILE (a command line holds at most 32,767 characters).
static int RunSetUninstall(char** args) {
    std::string value = args[0];
    if (value[0] == '@' && !ReadWholeFile(args[0] + 1, &value)) return 2;
    RegKey key;
    const bool ok = key.Create(HKEY_LOCAL_MACHINE, UNINSTALL_KEY_PATH) && key.SetString(value.c_str(), "UninstallString");
    printf("result=%d\n", ok ? 1 : 0);
    return 0;
}

// query-uninstall SIZE: QueryString of the uninstall command into SIZE bytes,
// with guard bytes behind them.
static int RunQueryUninstall(char** args) {
    const DWORD size = static_cast<DWORD>(atoi(args[0]));
    static char buffer[70000];
    if (size == 0 || size + 16 > sizeof buffer) return 2;
    std::memset(buffer, '#', size + 16);
    RegKey key;
    bool ok = key.Open(HKEY_LOCAL_MACHINE, UNINSTALL_KEY_PATH);
    ok = ok && key.QueryString(buffer, size, "UninstallString");
    bool guardIntact = true;
    for (DWORD i = size; i < size + 16; ++i) guardIntact = guardIntact && buffer[i] == '#';
    printf("result=%d\nterminated=%d\nguard=%d\nlength=%u\n", ok ? 1 : 0, memchr(buffer, 0, size) ? 1 : 0,
           guardIntact ? 1 : 0, static_cast<unsigned>(strnlen(buffer, size)));
    return 0;
}

static int RunRetire(char**) {
    RetirePreviousInstall();
    printf("done=1\n");
    return 0;
}

// data written into the installer file as the worker writes it (4,000 bytes
// at a time), in a new private download folder.
static bool WriteAsWorker(const std::string& data) {
    bool ok = CreateInstallerFile();
    for (std::size_t at = 0; ok && at < data.size(); at += 4000)
        ok = WriteInstallerFile(data.data() + at, static_cast<DWORD>(std::min<std::size_t>(4000, data.size() - at)));
    return ok;
}

// launch FILE: FILE's bytes downloaded, checked and started as the program
// does; then waits for the installer's end and removes the folder.
static int RunLaunch(char** args) {
    std::string data;
    if (!ReadWholeFile(args[0], &data)) return 2;
    const bool ok = WriteAsWorker(data) && SealInstallerFile() && LaunchInstaller();
    printf("result=%d\n", ok ? 1 : 0);
    FinishInstallation();
    return 0;
}

// tamper MARKER SECONDS new|any: what another process would try on the
// installer file in the private folder (one made since the probe started,
// or any) while the program downloads and starts it: open
// it for writing (and write into it), rename it, delete it, over and over
// until the marker file appears (the installer ran) or the time is up. Counts
// the tries made while the file existed and those that succeeded before the
// marker. (On Windows the folder's DACL keeps other users out altogether;
// Wine keeps no DACL, so this shows what the share modes hold.)
static int RunTamper(char** argv) {
    const char* marker = argv[0];
    const DWORD end = GetTickCount() + static_cast<DWORD>(std::atoi(argv[1])) * 1000;
    int tries = 0, opened = 0, renamed = 0, deleted = 0;
    while (GetFileAttributesA(marker) == INVALID_FILE_ATTRIBUTES && static_cast<LONG>(GetTickCount() - end) < 0) {
        const std::string path = PrivateInstallerFile(std::strcmp(argv[2], "new") == 0);
        const char* file = path.c_str();
        const std::string moved = path + ".moved";
        if (path.empty()) {
            Sleep(2);
            continue;
        }
        ++tries;
        HANDLE h = CreateFileA(file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        bool wrote = false, moved_away = false, removed = false;
        if (h != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(h, "MZ tampered", 11, &written, nullptr);
            CloseHandle(h);
            wrote = true;
        }
        if (MoveFileExA(file, moved.c_str(), 0)) {
            moved_away = true;
            MoveFileExA(moved.c_str(), file, 0);
        }
        if (DeleteFileA(file)) removed = true;
        // Counted only while the installer has not run yet: the program lets
        // go of the file once the installer has ended, after its marker.
        if (GetFileAttributesA(marker) == INVALID_FILE_ATTRIBUTES) {
            opened += wrote;
            renamed += moved_away;
            deleted += removed;
        }
        Sleep(5);
    }
    printf("tries=%d\nopened=%d\nrenamed=%d\ndeleted=%d\n", tries, opened, renamed, deleted);
    return 0;
}

static void PrintDigest(const char* name, const std::string& data) {
    Sha256 hash;
    Sha256Begin(&hash);
    Sha256Add(&hash, data.data(), data.size());
    std::uint8_t digest[SHA256_DIGEST_SIZE];
    Sha256Finish(&hash, digest);
    printf("%s=", name);
    for (std::uint8_t byte : digest) printf("%02x", byte);
    printf("\n");
}

// seal FILE same|changed: writes FILE's bytes as the worker does (4,000 at a
// time); "changed" then alters one byte on disk behind the digest's back;
// then changes handles for the start. Also FILE's digest both ways.
static int RunSeal(char** args) {
    std::string data;
    if (!ReadWholeFile(args[0], &data)) return 2;
    bool ok = WriteAsWorker(data);
    if (ok && std::strcmp(args[1], "changed") == 0) {
        DWORD written = 0;
        HANDLE held = static_cast<HANDLE>(g_manager.installerFile);
        ok = SetFilePointer(held, static_cast<LONG>(data.size() / 2), nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
             WriteFile(held, "?", 1, &written, nullptr) && written == 1;
    }
    printf("written=%d\nsealed=%d\nsha_instructions=%d\n", ok ? 1 : 0, ok && SealInstallerFile() ? 1 : 0,
           Sha256UsesShaInstructions() ? 1 : 0);
    ReleaseInstallerFile();
    RemoveDownloadFolder();
    PrintDigest("sha256", data);
    g_sha256PortableOnly = true;
    PrintDigest("sha256_portable", data);
    return 0;
}

const ProbeCommand kInstallCommands[] = {
    {"record-id", 0, "", RunRecordId},
    {"query-id", 0, "", RunQueryId},
    {"set-uninstall", 1, "VALUE", RunSetUninstall},
    {"query-uninstall", 1, "SIZE", RunQueryUninstall},
    {"retire", 0, "", RunRetire},
    {"launch", 1, "FILE", RunLaunch},
    {"tamper", 3, "MARKER SECONDS new|any", RunTamper},
    {"seal", 2, "FILE same|changed", RunSeal},
    {nullptr, 0, nullptr, nullptr},
};
