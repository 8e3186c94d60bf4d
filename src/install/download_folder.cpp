#include "install/download_folder.h"

#include <ntsecapi.h>

#include <cstring>
#include <cwchar>

#include "download/manager_state.h"
#include "download/stored_strings.h"
#include "install/kept_download.h"
#include "platform/reg_key.h"

const wchar_t* g_downloadFolderParent;
void (*g_inspectFolderSecurity)(const SECURITY_DESCRIPTOR* descriptor);

namespace {

const char FOLDER_PREFIX[] = "tembra-";
constexpr std::size_t FOLDER_NAME_LENGTH = sizeof FOLDER_PREFIX - 1 + 32;  // and 32 hex digits
constexpr std::size_t PARENT_LENGTH_LIMIT = FOLDER_PATH_SIZE - FOLDER_NAME_LENGTH - 40;
constexpr int ABANDONED_PER_RUN = 32;  // a bound on the work of one run; the next one goes on
// Every file the program puts into a folder: only these are ever deleted.
const wchar_t* const kFolderFiles[] = {L"tembset.exe", L"tembset.exe.rejected", L"tembset.rec", L"tembset.rec.new"};

// This run's folder: its path (ending in a backslash), its name in the
// list, and the handle that holds it; whether it stays for a later run.
wchar_t g_folder[FOLDER_PATH_SIZE];
char g_folderName[FOLDER_NAME_LENGTH + 1];
HANDLE g_folderHandle;
bool g_keepFolder;

// A listed folder: its name, and the list entry's data (the pin its partial
// download is kept for, empty for none).
struct ListedFolder {
    char name[FOLDER_NAME_LENGTH + 1];
    char pin[PIN_TEXT_SIZE];
};

// The list of folders: "Downloads" under the distribution key, in the root
// that matches where the folders lie.
bool OpenList(bool elevated, RegKey* key) {
    char path[512] = {};
    const char* base = DistributionKeyPath();
    if (std::strlen(base) + sizeof "\\Downloads" > sizeof path) return false;
    std::strcpy(path, base);
    std::strcat(path, "\\Downloads");
    return key->Create(elevated ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, path);
}

// The system's temporary folder for an elevated run (only administrators
// and SYSTEM may change what lies in it), the user's own otherwise.
bool FolderParent(bool elevated, wchar_t* parent) {
    UINT length = 0;
    if (g_downloadFolderParent) {
        length = static_cast<UINT>(std::wcslen(g_downloadFolderParent));
        if (length < PARENT_LENGTH_LIMIT) std::wcscpy(parent, g_downloadFolderParent);
    } else if (elevated) {
        length = GetSystemWindowsDirectoryW(parent, MAX_PATH);
        if (length != 0 && length < MAX_PATH) {
            if (parent[length - 1] != L'\\') parent[length++] = L'\\';
            std::wcscpy(parent + length, L"Temp\\");
            length += 5;
        }
    } else {
        length = GetTempPathW(MAX_PATH + 1, parent);
    }
    return length != 0 && length < PARENT_LENGTH_LIMIT && parent[length - 1] == L'\\';
}

bool IsFolderName(const char* name) {
    if (std::strlen(name) != FOLDER_NAME_LENGTH || std::strncmp(name, FOLDER_PREFIX, sizeof FOLDER_PREFIX - 1) != 0)
        return false;
    for (const char* p = name + sizeof FOLDER_PREFIX - 1; *p; ++p)
        if (!((*p >= '0' && *p <= '9') || (*p >= 'a' && *p <= 'f'))) return false;
    return true;
}

// "tembra-" and 128 random bits: nobody can create the folder, or a link
// of its name, before the program does.
bool RandomFolderName(char* name) {
    BYTE random[16];
    if (!RtlGenRandom(random, sizeof random)) return false;
    std::strcpy(name, FOLDER_PREFIX);
    char* digit = name + sizeof FOLDER_PREFIX - 1;
    for (BYTE byte : random) {
        *digit++ = "0123456789abcdef"[byte >> 4];
        *digit++ = "0123456789abcdef"[byte & 15];
    }
    *digit = '\0';
    return true;
}

// parent + name (ASCII) + "\" + file, into path.
bool ComposePath(const wchar_t* parent, const char* name, const wchar_t* file, wchar_t* path) {
    std::size_t length = std::wcslen(parent);
    if (length + FOLDER_NAME_LENGTH + 2 + std::wcslen(file) > FOLDER_PATH_SIZE) return false;
    std::wcscpy(path, parent);
    while (*name) path[length++] = static_cast<wchar_t>(*name++);
    path[length++] = L'\\';
    std::wcscpy(path + length, file);
    return true;
}

// Opens the folder itself, not what a link there would lead to, sharing no
// deletion: while the handle is open the folder can be neither renamed nor
// removed. Listing access, since a handle without data access takes no part
// in sharing. With deletion access (alone) the open fails while any other
// process holds the folder so: a run takes over no folder another one holds.
HANDLE HoldFolder(const wchar_t* path, DWORD access = GENERIC_READ) {
    return CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

bool IsPlainFolder(HANDLE folder) {
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(folder, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Removes the folder name under parent with the program's files in it, and
// its entry in the list; a folder whose files a process still holds stays
// listed. A folder that is not one (a link) is not touched.
void RemoveFolder(RegKey* list, const wchar_t* parent, const char* name) {
    wchar_t path[FOLDER_PATH_SIZE];
    if (!ComposePath(parent, name, L"", path)) return;
    HANDLE folder = HoldFolder(path);
    if (folder == INVALID_HANDLE_VALUE) {
        // Gone. (Not where the parent is missing: it may come back.)
        if (GetLastError() == ERROR_FILE_NOT_FOUND) list->DeleteValue(name);
        return;
    }
    bool held = !IsPlainFolder(folder);
    for (const wchar_t* file : kFolderFiles) {
        wchar_t filePath[FOLDER_PATH_SIZE];
        if (held || !ComposePath(parent, name, file, filePath)) break;
        held = !DeleteFileW(filePath) && GetLastError() != ERROR_FILE_NOT_FOUND;
    }
    CloseHandle(folder);
    // Unlisted only once it is gone: a folder that another handle still
    // holds open is removed only when that handle closes.
    if (!held && RemoveDirectoryW(path) && GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES)
        list->DeleteValue(name);
}

// The listed folders other than this run's, at most ABANDONED_PER_RUN. The
// names first: removing values while enumerating them renumbers them.
int ListedFolders(RegKey* list, ListedFolder* folders) {
    int count = 0;
    for (DWORD index = 0; count < ABANDONED_PER_RUN; ++index) {
        char name[64];
        DWORD length = sizeof name;
        const LONG status = RegEnumValueA(list->hKey, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status == ERROR_SUCCESS && IsFolderName(name) && std::strcmp(name, g_folderName) != 0)
            std::strcpy(folders[count++].name, name);
    }
    // Data that is no pin's text (too long, say) reads as none: such a
    // folder is kept for no pin.
    for (int i = 0; i < count; ++i) list->QueryString(folders[i].pin, sizeof folders[i].pin, folders[i].name);
    return count;
}

// The list entry's data of a folder created in this run: the pin of the
// download it holds, so that a later run with the same pin finds it.
void ListData(char* data) {
    data[0] = '\0';
    if (g_manager.pinned) FormatPin(g_manager.pin, data);
}

}  // namespace

bool ProgramIsElevated() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    const bool elevated = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
                          elevation.TokenIsElevated != 0;
    CloseHandle(token);
    return elevated;
}

static bool UserSid(BYTE* sid) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    const bool ok = GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
                    CopySid(SECURITY_MAX_SID_SIZE, sid, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
    CloseHandle(token);
    return ok;
}

bool BuildFolderSecurity(bool elevated, FolderSecurity* security) {
    PACL acl = reinterpret_cast<PACL>(security->acl);
    DWORD size = SECURITY_MAX_SID_SIZE;
    bool ok = InitializeAcl(acl, sizeof security->acl, ACL_REVISION) &&
              CreateWellKnownSid(WinLocalSystemSid, nullptr, security->sids[0], &size) &&
              (size = SECURITY_MAX_SID_SIZE, CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr,
                                                                security->sids[1], &size)) &&
              (elevated || UserSid(security->sids[2]));
    for (int i = 0; ok && i < (elevated ? 2 : 3); ++i)
        ok = AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, FILE_ALL_ACCESS,
                                   security->sids[i]);
    // Protected: nothing is inherited from the parent, which in the system's
    // temporary folder lets every user create entries. Owned by the
    // Administrators group when elevated, so that the user's unelevated
    // programs do not hold an owner's right to change the DACL.
    return ok && InitializeSecurityDescriptor(&security->descriptor, SECURITY_DESCRIPTOR_REVISION) &&
           SetSecurityDescriptorDacl(&security->descriptor, TRUE, acl, FALSE) &&
           SetSecurityDescriptorControl(&security->descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED) &&
           (!elevated || SetSecurityDescriptorOwner(&security->descriptor, security->sids[1], FALSE));
}

bool CreateDownloadFolder() {
    const bool elevated = ProgramIsElevated();
    static FolderSecurity security;  // one worker per run
    wchar_t parent[FOLDER_PATH_SIZE];
    RegKey list;
    if (!BuildFolderSecurity(elevated, &security) || !FolderParent(elevated, parent) || !OpenList(elevated, &list))
        return false;
    if (g_inspectFolderSecurity) g_inspectFolderSecurity(&security.descriptor);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &security.descriptor, FALSE};
    // Listed before it exists, so that a folder of a run that ends at any
    // point is found again. A name that exists already is never used.
    char data[PIN_TEXT_SIZE];
    ListData(data);
    for (int attempt = 0; attempt < 3; ++attempt) {
        char name[FOLDER_NAME_LENGTH + 1];
        wchar_t path[FOLDER_PATH_SIZE];
        if (!RandomFolderName(name) || !ComposePath(parent, name, L"", path) || !list.SetString(data, name))
            return false;
        if (CreateDirectoryW(path, &attributes)) {
            g_folderHandle = HoldFolder(path);
            if (g_folderHandle == INVALID_HANDLE_VALUE || !IsPlainFolder(g_folderHandle)) break;
            std::wcscpy(g_folder, path);
            std::strcpy(g_folderName, name);
            return true;
        }
        const DWORD error = GetLastError();
        // Unlisted only where nothing was made (a folder made without its
        // security stays listed, and the next run removes it).
        if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES || error == ERROR_ALREADY_EXISTS)
            list.DeleteValue(name);
        if (error != ERROR_ALREADY_EXISTS) return false;
    }
    if (g_folderHandle != INVALID_HANDLE_VALUE && g_folderHandle) CloseHandle(g_folderHandle);
    g_folderHandle = nullptr;
    return false;
}

bool DownloadFolderFile(const wchar_t* name, wchar_t* path) {
    if (g_folder[0] == L'\0' || std::wcslen(g_folder) + std::wcslen(name) >= FOLDER_PATH_SIZE) return false;
    std::wcscpy(path, g_folder);
    std::wcscat(path, name);
    return true;
}

void KeepDownloadFolder() { g_keepFolder = true; }

void RemoveDownloadFolder() {
    if (g_folder[0] == L'\0') return;
    const bool elevated = ProgramIsElevated();
    wchar_t parent[FOLDER_PATH_SIZE];
    RegKey list;
    CloseHandle(g_folderHandle);
    g_folderHandle = nullptr;
    if (!g_keepFolder && FolderParent(elevated, parent) && OpenList(elevated, &list))
        RemoveFolder(&list, parent, g_folderName);
    g_folder[0] = L'\0';
}

// A run with a pin goes on only with a download kept for that pin (which it
// has taken over by now): everything else goes. A run without one spares
// the downloads kept for a later run (a whole record younger than 7 days).
void RemoveAbandonedDownloadFolders() {
    const bool elevated = ProgramIsElevated();
    wchar_t parent[FOLDER_PATH_SIZE];
    RegKey list;
    if (!FolderParent(elevated, parent) || !OpenList(elevated, &list)) return;
    static ListedFolder folders[ABANDONED_PER_RUN];  // one worker per run
    const int count = ListedFolders(&list, folders);
    for (int i = 0; i < count; ++i) {
        wchar_t path[FOLDER_PATH_SIZE];
        if (!g_manager.pinned && folders[i].pin[0] && ComposePath(parent, folders[i].name, L"", path) &&
            KeepsFreshRecord(path, folders[i].pin))
            continue;
        RemoveFolder(&list, parent, folders[i].name);
    }
}

bool AdoptListedFolder(const char* pinText, bool (*usable)(const wchar_t* folder)) {
    const bool elevated = ProgramIsElevated();
    wchar_t parent[FOLDER_PATH_SIZE];
    RegKey list;
    if (g_folder[0] != L'\0' || !FolderParent(elevated, parent) || !OpenList(elevated, &list)) return false;
    static ListedFolder folders[ABANDONED_PER_RUN];  // one worker per run
    const int count = ListedFolders(&list, folders);
    for (int i = 0; i < count; ++i) {
        wchar_t path[FOLDER_PATH_SIZE];
        if (std::strcmp(folders[i].pin, pinText) != 0 || !ComposePath(parent, folders[i].name, L"", path)) continue;
        // Held with deletion access, which fails where another run holds it.
        HANDLE held = HoldFolder(path, GENERIC_READ | DELETE);
        if (held == INVALID_HANDLE_VALUE) continue;
        if (IsPlainFolder(held) && usable(path)) {
            g_folderHandle = held;
            std::wcscpy(g_folder, path);
            std::strcpy(g_folderName, folders[i].name);
            return true;
        }
        CloseHandle(held);
    }
    return false;
}
