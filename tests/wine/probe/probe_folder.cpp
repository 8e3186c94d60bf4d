// Probe commands around the private download folder: what others can do to
// it, and its security.
#include <cstdlib>
#include <string>

#include "install/download_folder.h"
#include "probe.h"

// The installer file of the newest private folder under the system's
// temporary folder (with newOnly, made since this probe started: not one an
// earlier test left); empty when there is none.
std::string PrivateInstallerFile(bool newOnly) {
    static FILETIME started;
    if (started.dwHighDateTime == 0) GetSystemTimeAsFileTime(&started);
    char temp[MAX_PATH] = {};
    GetSystemWindowsDirectoryA(temp, MAX_PATH);
    const std::string parent = std::string(temp) + "\\Temp\\";
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((parent + "tembra-*").c_str(), &found);
    std::string newest;
    FILETIME newestTime = newOnly ? started : FILETIME{};
    if (search == INVALID_HANDLE_VALUE) return newest;
    do {
        const std::string file = parent + found.cFileName + "\\tembset.exe";
        if (GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES &&
            CompareFileTime(&found.ftCreationTime, &newestTime) >= 0) {
            newest = file;
            newestTime = found.ftCreationTime;
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return newest;
}

// await-sealed MARKER SECONDS: waits until a reader that shares only reading
// gets into the private folder's installer file, which is the moment the
// program has let go of its writer for the start; then writes MARKER.
static int RunAwaitSealed(char** args) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(std::atoi(args[1])) * 1000;
    while (static_cast<LONG>(GetTickCount() - end) < 0) {
        const std::string file = PrivateInstallerFile(true);
        HANDLE reader = file.empty() ? INVALID_HANDLE_VALUE
                                     : CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                   0, nullptr);
        if (reader != INVALID_HANDLE_VALUE) {
            CloseHandle(reader);
            HANDLE marker = CreateFileA(args[0], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            CloseHandle(marker);
            printf("sealed=1\n");
            return 0;
        }
        Sleep(1);
    }
    printf("sealed=0\n");
    return 0;
}

// start-in DIR PROGRAM: starts PROGRAM with DIR as its current directory,
// exactly as written (Wine would turn a Unix current directory into its real
// path), and waits for its end.
static int RunStartIn(char** args) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string commandLine = std::string("\"") + args[1] + "\"";
    if (!CreateProcessA(args[1], &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, args[0], &startup, &process)) {
        printf("started=0 error=%lu\n", GetLastError());
        return 0;
    }
    WaitForSingleObject(process.hProcess, 180000);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    printf("started=1\nexit=%lu\n", code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}

// Access that token gets to a folder created with descriptor: its owner,
// else the one Windows gives the creator (the process token's default).
static DWORD Granted(HANDLE token, const SECURITY_DESCRIPTOR* descriptor, HANDLE creator) {
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    GetSecurityDescriptorDacl(const_cast<SECURITY_DESCRIPTOR*>(descriptor), &present, &acl, &defaulted);
    PSID owner = nullptr;
    GetSecurityDescriptorOwner(const_cast<SECURITY_DESCRIPTOR*>(descriptor), &owner, &defaulted);
    BYTE defaultOwner[sizeof(TOKEN_OWNER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    if (!owner && GetTokenInformation(creator, TokenOwner, defaultOwner, sizeof defaultOwner, &size))
        owner = reinterpret_cast<TOKEN_OWNER*>(defaultOwner)->Owner;
    SECURITY_DESCRIPTOR complete;
    InitializeSecurityDescriptor(&complete, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&complete, present, acl, FALSE);
    SetSecurityDescriptorOwner(&complete, owner, FALSE);
    SetSecurityDescriptorGroup(&complete, owner, FALSE);
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    PRIVILEGE_SET privileges;
    DWORD privilegesSize = sizeof privileges, granted = 0;
    BOOL allowed = FALSE;
    if (!AccessCheck(&complete, token, MAXIMUM_ALLOWED, &mapping, &privileges, &privilegesSize, &granted, &allowed)) {
        printf("access_check_error=%lu\n", GetLastError());
        return 0;
    }
    return allowed ? granted : 0;
}

static void ReportSecurity(const SECURITY_DESCRIPTOR* descriptor) {
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(const_cast<SECURITY_DESCRIPTOR*>(descriptor), &control, &revision);
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    GetSecurityDescriptorDacl(const_cast<SECURITY_DESCRIPTOR*>(descriptor), &present, &acl, &defaulted);
    printf("protected=%d\naces=%u\n", (control & SE_DACL_PROTECTED) ? 1 : 0, present && acl ? acl->AceCount : 0);
    // The program's own (administrator's) token, and the same user without
    // the Administrators group: what any other program of the user has.
    HANDLE process = nullptr, user = nullptr, impersonation = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &process);
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof admins;
    CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size);
    SID_AND_ATTRIBUTES disable = {admins, 0};
    const BOOL restricted = CreateRestrictedToken(process, 0, 1, &disable, 0, nullptr, 0, nullptr, &user);
    DuplicateToken(process, SecurityImpersonation, &impersonation);
    HANDLE userImpersonation = nullptr;
    if (restricted) DuplicateToken(user, SecurityImpersonation, &userImpersonation);
    const DWORD admin = impersonation ? Granted(impersonation, descriptor, process) : 0;
    const DWORD other = userImpersonation ? Granted(userImpersonation, descriptor, process) : 0;
    printf("restricted_token=%d\nadmin_access=0x%lx\nuser_access=0x%lx\n", restricted ? 1 : 0, admin, other);
    printf("admin_writes=%d\nuser_writes=%d\n", (admin & (FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY)) ? 1 : 0,
           (other & (FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | WRITE_DAC | WRITE_OWNER | DELETE)) ? 1 : 0);
}

// folder-security: the security the program gives a new private folder,
// as it passes it to CreateDirectory, checked against two tokens.
static int RunFolderSecurity(char**) {
    g_inspectFolderSecurity = ReportSecurity;
    const bool created = CreateDownloadFolder();
    printf("created=%d\nelevated=%d\n", created ? 1 : 0, ProgramIsElevated() ? 1 : 0);
    RemoveDownloadFolder();
    return 0;
}

const ProbeCommand kFolderCommands[] = {
    {"await-sealed", 2, "MARKER SECONDS", RunAwaitSealed},
    {"start-in", 2, "DIR PROGRAM", RunStartIn},
    {"folder-security", 0, "", RunFolderSecurity},
    {nullptr, 0, nullptr, nullptr},
};
