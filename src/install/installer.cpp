#include "install/installer.h"

#include <windows.h>

#include <cstring>

#include "download/package_rules.h"
#include "install/installer_file.h"
#include "install/uninstall_rules.h"
#include "platform/reg_key.h"
#include "platform/support_log.h"

const char UNINSTALL_KEY_PATH[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" "Tembra Orvane";

// By its full path as the application: a bare name would be looked for in
// the program's own folder before the current directory (and on PATH when
// NoDefaultCurrentDirectoryInExePath is set), so a "tembset.exe" lying beside
// the program would run elevated in place of the download. The installer
// still sees the command line and current directory it always saw.
bool LaunchInstaller() {
    const char* path = InstallerPath();
    if (path[0] == '\0') return false;
    char commandLine[] = "tembset.exe";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION process = {};
    const bool created =
        CreateProcessA(path, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
    LogInstallerStart(created ? 0 : GetLastError());
    if (!created) return false;
    // As WinExec did: give the installer's window the chance to come up
    // before the program's goes.
    WaitForInputIdle(process.hProcess, INSTALLER_IDLE_WAIT_MS);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

void RetirePreviousInstall() {
    RegKey key;
    char work[UNINSTALL_WORK_SIZE] = {};
    if (!key.Open(HKEY_LOCAL_MACHINE, UNINSTALL_KEY_PATH) ||
        !key.QueryString(work, sizeof work, "UninstallString") || work[0] == '\0') {
        LogRetirement("none recorded", 0);
        return;
    }
    char folder[RETIRE_TARGET_SIZE];
    if (!FindInstallFolder(work, folder, sizeof folder)) {
        LogRetirement("no folder in its uninstall entry", 0);
        return;
    }
    char target[RETIRE_TARGET_SIZE];
    std::strcpy(target, folder);
    for (int attempt = 0; attempt < RETIRE_ATTEMPTS; ++attempt) {
        if (!AppendText(target, sizeof target, RETIRE_SUFFIX)) break;
        if (MoveFileA(folder, target)) {
            LogRetirement("moved aside", 0);
            return;
        }
    }
    LogRetirement("not moved", GetLastError());
}
