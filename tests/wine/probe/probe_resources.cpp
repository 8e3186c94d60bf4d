// resources PATH: what the program file carries, read through the resource
// API as Windows sees it.
// status-texts PATH LANG: the program's status texts 1 to 7 as the window
// shows them to a user who picked LANG, on this system's code page.
#include <windows.h>

#include <string>

#include "download/manager_flow.h"
#include "download/manager_state.h"
#include "probe.h"

static BOOL CALLBACK CountType(HMODULE, LPSTR type, LONG_PTR count) {
    if (IS_INTRESOURCE(type)) printf("type=%u\n", static_cast<unsigned>(reinterpret_cast<uintptr_t>(type)));
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

static int RunResources(char** args) {
    HMODULE module = LoadLibraryExA(args[0], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return 1;
    int types = 0;
    EnumResourceTypesA(module, CountType, reinterpret_cast<LONG_PTR>(&types));
    printf("langchooser=%d\n", FindResourceA(module, "LANGCHOOSER", MAKEINTRESOURCEA(5)) ? 1 : 0);
    printf("manager=%d\n", FindResourceA(module, "MANAGER", MAKEINTRESOURCEA(5)) ? 1 : 0);
    // String table block 1 holds strings 0..15; English (United States).
    printf("strings_en_us=%d\n",
           FindResourceExA(module, MAKEINTRESOURCEA(6), MAKEINTRESOURCEA(1), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US))
               ? 1 : 0);
    for (int number = 1; number <= 7; ++number) {
        char text[1024] = {};
        LoadStringA(module, number, text, sizeof text);
        char key[16];
        snprintf(key, sizeof key, "string%d", number);
        PrintEscaped(key, text);
    }
    HRSRC group = FindResourceExA(module, MAKEINTRESOURCEA(14), MAKEINTRESOURCEA(105),
                                  MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    printf("icon_group=%d\n", group ? 1 : 0);
    if (group) {
        const BYTE* dir = static_cast<const BYTE*>(LockResource(LoadResource(module, group)));
        const int count = *reinterpret_cast<const WORD*>(dir + 4);
        for (int i = 0; i < count; ++i) {
            const BYTE* entry = dir + 6 + 14 * i;  // GRPICONDIRENTRY
            printf("icon=%dx%d colours=%d bits=%d\n", entry[0], entry[1], entry[2],
                   *reinterpret_cast<const WORD*>(entry + 6));
        }
    }
    HRSRC manifest = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    if (manifest) {
        const char* text = static_cast<const char*>(LockResource(LoadResource(module, manifest)));
        std::string copy(text, SizeofResource(module, manifest));
        PrintEscaped("manifest", copy.c_str());
    }
    FreeLibrary(module);
    DWORD handle = 0;
    printf("version_info=%lu\n", GetFileVersionInfoSizeA(args[0], &handle));
    return 0;
}

static int RunStatusTexts(char** args) {
    g_manager.instance = LoadLibraryExA(args[0], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!g_manager.instance) return 1;
    g_manager.language = args[1];
    printf("acp=%u\n", GetACP());
    for (int number = 1; number <= 7; ++number) {
        char key[16];
        snprintf(key, sizeof key, "text%d", number);
        PrintEscaped(key, LoadStatusText(number));
    }
    return 0;
}

const ProbeCommand kResourceCommands[] = {
    {"resources", 1, "PATH", RunResources},
    {"status-texts", 2, "PATH LANG", RunStatusTexts},
    {nullptr, 0, nullptr, nullptr},
};
