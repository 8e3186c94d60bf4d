// Hand-off to the downloaded installer.
#pragma once

// Runs "tembset.exe" by its bare name; true when it was started.
bool LaunchInstaller();

// Moves the previous installation's folder, found through its uninstall
// command in the registry, to the first free name of F.old, F.old.old, ...
// (25 tries). Does nothing when there is no usable uninstall command.
void RetirePreviousInstall();
