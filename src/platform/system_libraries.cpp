#include "platform/system_libraries.h"

#include <cstring>

void* Kernel32Function(const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name));
}

void RestrictDllSearchToSystemFolder() {
    // SetDefaultDllDirectories: Windows 8, and Windows 7 with KB2533623.
    using SetDefault = BOOL(WINAPI*)(DWORD);
    const auto setDefault = reinterpret_cast<SetDefault>(Kernel32Function("SetDefaultDllDirectories"));
    if (setDefault) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    SetDllDirectoryA("");  // older systems: at least not the current directory
}

HMODULE LoadSystemLibrary(const char* name) {
    HMODULE module = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module || GetLastError() != ERROR_INVALID_PARAMETER) return module;
    // A system without the search flags: the full path, and the DLL's own
    // folder (the system folder) first for its dependencies.
    char path[MAX_PATH + 32];
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || std::strlen(name) > 24) return nullptr;
    path[length] = '\\';
    std::strcpy(path + length + 1, name);
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

namespace {

template <typename Function>
bool Resolve(HMODULE module, const char* name, Function* function) {
    *function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return *function != nullptr;
}

// 0 not tried yet, 1 loaded, -1 not to be had.
template <typename Api>
struct Loaded {
    Api api;
    int state;
};

template <typename Api, typename LoadAll>
const Api* LoadOnce(Loaded<Api>* loaded, LoadAll loadAll) {
    if (loaded->state == 0) loaded->state = loadAll(&loaded->api) ? 1 : -1;
    return loaded->state == 1 ? &loaded->api : nullptr;
}

}  // namespace

// Loads dll and resolves the functions the list names into api; all stays
// true only when every one was found.
#define TEMBRA_RESOLVE(name) all = Resolve(module, #name, &api->name) && all;
#define TEMBRA_LOAD(dll, FUNCTIONS)                    \
    {                                                  \
        HMODULE module = LoadSystemLibrary(dll);       \
        all = module != nullptr && all;                \
        if (module) { FUNCTIONS(TEMBRA_RESOLVE) }      \
    }

const WinInetApi* WinInet() {
    static Loaded<WinInetApi> loaded;
    return LoadOnce(&loaded, [](WinInetApi* api) {
        bool all = true;
        TEMBRA_LOAD("wininet.dll", TEMBRA_WININET_FUNCTIONS)
        return all;
    });
}

const VersionApi* VersionLibrary() {
    static Loaded<VersionApi> loaded;
    return LoadOnce(&loaded, [](VersionApi* api) {
        bool all = true;
        TEMBRA_LOAD("version.dll", TEMBRA_VERSION_FUNCTIONS)
        return all;
    });
}

const WinmmApi* Winmm() {
    static Loaded<WinmmApi> loaded;
    return LoadOnce(&loaded, [](WinmmApi* api) {
        bool all = true;
        TEMBRA_LOAD("winmm.dll", TEMBRA_WINMM_FUNCTIONS)
        return all;
    });
}

const TrustApi* Trust() {
    static Loaded<TrustApi> loaded;
    return LoadOnce(&loaded, [](TrustApi* api) {
        bool all = true;
        TEMBRA_LOAD("wintrust.dll", TEMBRA_WINTRUST_FUNCTIONS)
        TEMBRA_LOAD("crypt32.dll", TEMBRA_CRYPT32_FUNCTIONS)
        return all;
    });
}
