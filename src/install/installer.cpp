#include "install/installer.h"

#include <windows.h>

#include <cstring>

#include "download/package_rules.h"
#include "download/manager_state.h"
#include "install/download_folder.h"
#include "install/installer_file.h"
#include "install/uninstall_rules.h"
#include "platform/reg_key.h"
#include "platform/support_log.h"

const char UNINSTALL_KEY_PATH[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" "Tembra Orvane";

// By the final path of the file the program holds, in its private folder:
// nothing on that path can be re-pointed, and no DLL can be dropped beside
// it. The installer still sees the command line it always saw, and the
// program's current directory as its own (inherited).
bool LaunchInstaller() {
    wchar_t path[FOLDER_PATH_SIZE];
    if (!HeldInstallerPath(path, FOLDER_PATH_SIZE)) return false;
    wchar_t commandLine[] = L"tembset.exe";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION process = {};
    const bool created =
        CreateProcessW(path, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
    LogInstallerStart(created ? 0 : GetLastError());
    if (!created) return false;
    // As WinExec did: give the installer's window the chance to come up
    // before the program's goes.
    WaitForInputIdle(process.hProcess, INSTALLER_IDLE_WAIT_MS);
    CloseHandle(process.hThread);
    g_manager.installerProcess = process.hProcess;
    return true;
}

// Many installers read their own file again while they run (to unpack
// themselves): it stays held, unchanged, until the installer has ended.
// Then the run's folder goes. A worker that still runs (the window ended
// during the download) keeps its file, and the next run removes the folder.
void FinishInstallation() {
    if (g_manager.workerRunning.load()) return;
    if (g_manager.installerProcess) {
        WaitForSingleObject(static_cast<HANDLE>(g_manager.installerProcess), INFINITE);
        CloseHandle(static_cast<HANDLE>(g_manager.installerProcess));
        g_manager.installerProcess = nullptr;
    }
    ReleaseInstallerFile();
    RemoveDownloadFolder();
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
