// Hand-off to the downloaded installer.
#pragma once

// The previous installation's uninstall entry under HKEY_LOCAL_MACHINE.
extern const char UNINSTALL_KEY_PATH[];

// Starts the held "tembset.exe" of the private download folder by its full
// path, with the command line "tembset.exe" and the program's current
// directory; true when the process was created (it is kept in the manager
// state for FinishInstallation).
bool LaunchInstaller();

// At the end of the run, the window gone: waits for a started installer to
// exit, holding its file, then removes the run's download folder.
void FinishInstallation();
constexpr unsigned long INSTALLER_IDLE_WAIT_MS = 30000;  // WinExec's wait for the installer's first input wait

// Moves the previous installation's folder, found through its uninstall
// command in the registry, to the first free name of F.old, F.old.old, ...
// (25 tries). Does nothing when there is no usable uninstall command.
void RetirePreviousInstall();
