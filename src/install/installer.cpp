#include "install/installer.h"

#include <windows.h>

#include <cstring>

#include "download/download_worker.h"
#include "download/package_rules.h"
#include "install/uninstall_rules.h"
#include "platform/reg_key.h"

const char UNINSTALL_KEY_PATH[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" "Tembra Orvane";

bool LaunchInstaller() { return WinExec(INSTALLER_FILE, SW_SHOW) > 31; }

void RetirePreviousInstall() {
    RegKey key;
    if (!key.Open(HKEY_LOCAL_MACHINE, UNINSTALL_KEY_PATH)) return;
    char work[UNINSTALL_WORK_SIZE] = {};
    if (!key.QueryString(work, sizeof work, "UninstallString") || work[0] == '\0') return;

    char folder[RETIRE_TARGET_SIZE];
    if (!FindInstallFolder(work, folder, sizeof folder)) return;
    char target[RETIRE_TARGET_SIZE];
    std::strcpy(target, folder);
    for (int attempt = 0; attempt < RETIRE_ATTEMPTS; ++attempt) {
        if (!AppendText(target, sizeof target, RETIRE_SUFFIX)) return;
        if (MoveFileA(folder, target)) return;
    }
}
