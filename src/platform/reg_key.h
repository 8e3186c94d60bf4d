// Holder of one open registry key, closed when the holder goes out of scope.
#pragma once

#include <windows.h>

class RegKey {
public:
    RegKey() = default;
    ~RegKey() { Close(); }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    // Opens subKey under root, creating it and missing parents when absent.
    bool Create(HKEY root, const char* subKey);
    // Opens an existing key.
    bool Open(HKEY root, const char* subKey);
    // Stores data as REG_SZ with its terminating NUL; an empty name sets the
    // key's default value.
    bool SetString(const char* data, const char* valueName);
    // Reads a value of any type as text into out (outSize bytes), nothing
    // expanded. A value that does not fit, its terminator included, is never
    // read and gives false with out empty, like a missing one; out is always
    // NUL-terminated, also for a value stored without its NUL.
    bool QueryString(char* out, DWORD outSize, const char* valueName);
    // Removes the value valueName.
    bool DeleteValue(const char* valueName);
    void Close();

    HKEY hKey = nullptr;
};
