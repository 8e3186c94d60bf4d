// Finding the previous installation's folder in its uninstall command.
#pragma once

#include <cstddef>

constexpr std::size_t UNINSTALL_WORK_SIZE = 1040;
constexpr std::size_t RETIRE_TARGET_SIZE = 1300;
constexpr int RETIRE_ATTEMPTS = 25;
extern const char RETIRE_SUFFIX[];  // ".old"

// The folder is the text from just after the first double quote up to the
// last backslash behind it: this fits both a quoted uninstaller path and an
// uninstaller with options followed by a quoted log file in the folder.
// False when there is no quote, no backslash after it, or no room in folder.
bool FindInstallFolder(const char* command, char* folder, std::size_t folderSize);
