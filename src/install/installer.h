// Hand-off to the downloaded installer.
#pragma once

// The previous installation's uninstall entry under HKEY_LOCAL_MACHINE.
extern const char UNINSTALL_KEY_PATH[];

// Runs "tembset.exe" by its bare name; true when it was started.
bool LaunchInstaller();

// Moves the previous installation's folder, found through its uninstall
// command in the registry, to the first free name of F.old, F.old.old, ...
// (25 tries). Does nothing when there is no usable uninstall command.
void RetirePreviousInstall();
