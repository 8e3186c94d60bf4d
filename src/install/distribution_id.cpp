#include "install/distribution_id.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "download/stored_strings.h"
#include "install/distribution_rules.h"
#include "platform/reg_key.h"

// Reads the last 35 bytes of the file at path and parses them as a trailer.
static bool ReadTrailerOf(const char* path, char* id, std::size_t idSize) {
    const int file = _open(path, _O_RDONLY | _O_BINARY);
    if (file == -1) return false;
    bool found = false;
    const long size = _lseek(file, 0, SEEK_END);
    unsigned char tail[TRAILER_SIZE];
    if (_lseek(file, -static_cast<long>(TRAILER_SIZE), SEEK_END) > 0 &&
        _read(file, tail, TRAILER_SIZE) == static_cast<int>(TRAILER_SIZE))
        found = ParseTrailer(tail, size, id, idSize);
    _close(file);
    return found;
}

bool ReadDistributionId(char* id, std::size_t idSize) {
    if (idSize == 0) return false;
    id[0] = '\0';
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    if (ReadTrailerOf(path, id, idSize)) return true;
    return IdFromModulePath(path, id, idSize);
}

bool StoreDistributionId(const char* id) {
    RegKey key;
    if (key.Create(HKEY_LOCAL_MACHINE, DistributionKeyPath())) key.SetString(id, "");
    return true;
}
