#include "install/uninstall_rules.h"

#include <cstring>

const char RETIRE_SUFFIX[] = ".old";

bool FindInstallFolder(const char* command, char* folder, std::size_t folderSize) {
    const char* quote = std::strchr(command, '"');
    if (!quote) return false;
    const char* begin = quote + 1;
    const char* slash = std::strrchr(begin, '\\');
    if (!slash || slash == begin) return false;
    const std::size_t length = static_cast<std::size_t>(slash - begin);
    if (length + 1 > folderSize) return false;
    std::memcpy(folder, begin, length);
    folder[length] = '\0';
    return true;
}
