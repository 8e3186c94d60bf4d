#include "download/package.h"

#include <windows.h>

#include <cstdlib>

#include "platform/system_libraries.h"

bool GetFileVersion(const char* path, unsigned* major, unsigned* minor) {
    const VersionApi* version = VersionLibrary();
    if (!version) return false;  // no version information: the system variant
    DWORD handle = 0;
    const DWORD size = version->GetFileVersionInfoSizeA(path, &handle);
    if (size == 0) return false;
    void* block = std::malloc(size);
    if (!block) return false;
    bool ok = false;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoSize = 0;
    if (version->GetFileVersionInfoA(path, handle, size, block) &&
        version->VerQueryValueA(block, "\\", reinterpret_cast<void**>(&info), &infoSize) && info &&
        infoSize >= sizeof(VS_FIXEDFILEINFO)) {
        *major = HIWORD(info->dwFileVersionMS);
        *minor = LOWORD(info->dwFileVersionMS);
        ok = true;
    }
    std::free(block);
    return ok;
}

bool ReadLibraryVersion(const char* path, unsigned* major, unsigned* minor, void*) {
    return GetFileVersion(path, major, minor);
}

const char* SystemPackagePrefix() {
    char directory[MAX_PATH + 2] = {};
    const UINT length = GetSystemDirectoryA(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) directory[0] = '\0';  // no usable directory: no library found
    AppendText(directory, sizeof directory, "\\");
    return ChoosePackagePrefix(directory, ReadLibraryVersion, nullptr);
}

bool ComposePackage(char* url, std::size_t urlSize, char* fileName, std::size_t fileNameSize,
                    const char* language) {
    return ComposeAddresses(url, urlSize, fileName, fileNameSize, SystemPackagePrefix(), language);
}
