#include "platform/reg_key.h"

#include <cstring>

bool RegKey::Create(HKEY root, const char* subKey) {
    if (RegCreateKeyA(root, subKey, &hKey) == ERROR_SUCCESS) return true;
    hKey = nullptr;  // a failed call leaves the holder empty
    return false;
}

bool RegKey::Open(HKEY root, const char* subKey) {
    if (RegOpenKeyA(root, subKey, &hKey) == ERROR_SUCCESS) return true;
    hKey = nullptr;  // a failed call leaves the holder empty
    return false;
}

bool RegKey::SetString(const char* data, const char* valueName) {
    const DWORD length = static_cast<DWORD>(std::strlen(data) + 1);
    return RegSetValueExA(hKey, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data), length) ==
           ERROR_SUCCESS;
}

bool RegKey::QueryString(char* out, DWORD outSize, const char* valueName) {
    if (outSize == 0) return false;
    out[0] = '\0';
    DWORD size = 0;
    if (RegQueryValueExA(hKey, valueName, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) return false;
    if (size > outSize) return false;  // longer than the caller's buffer: no usable text
    DWORD read = size;
    if (RegQueryValueExA(hKey, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(out), &read) != ERROR_SUCCESS ||
        read > outSize)
        read = 0;
    if (read > 0 && out[read - 1] == '\0') return true;
    if (read == outSize) {
        // Stored without its NUL and filling the whole buffer: no room to end it.
        out[0] = '\0';
        return false;
    }
    out[read] = '\0';
    return true;
}

bool RegKey::DeleteValue(const char* valueName) { return RegDeleteValueA(hKey, valueName) == ERROR_SUCCESS; }

void RegKey::Close() {
    if (hKey) {
        RegCloseKey(hKey);
        hKey = nullptr;
    }
}
