// Probe commands for the registry key holder, the distribution ID and the
// installer hand-off.
#include <cstdlib>
#include <cstring>
#include <string>

#include "download/constants.h"
#include "download/stored_strings.h"
#include "install/distribution_id.h"
#include "install/installer.h"
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

// set-uninstall VALUE: writes the previous installation's uninstall command;
// @FILE takes it from FILE (a command line holds at most 32,767 characters).
static int RunSetUninstall(char** args) {
    std::string value = args[0];
    if (value[0] == '@') {
        FILE* in = fopen(args[0] + 1, "rb");
        if (!in) return 2;
        value.clear();
        for (int c; (c = fgetc(in)) != EOF;) value += static_cast<char>(c);
        fclose(in);
    }
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

static int RunLaunch(char**) {
    printf("result=%d\n", LaunchInstaller() ? 1 : 0);
    return 0;
}

const ProbeCommand kInstallCommands[] = {
    {"record-id", 0, "", RunRecordId},
    {"query-id", 0, "", RunQueryId},
    {"set-uninstall", 1, "VALUE", RunSetUninstall},
    {"query-uninstall", 1, "SIZE", RunQueryUninstall},
    {"retire", 0, "", RunRetire},
    {"launch", 0, "", RunLaunch},
    {nullptr, 0, nullptr, nullptr},
};
