// The private folder the installer is downloaded into and started from.
//
// The program runs elevated and starts what it downloads. Started from the
// folder the user started the program in (usually Downloads), the installer
// would load any DLL that a web page dropped there (Windows looks in a
// program's own folder first), and a junction or link on that path could be
// re-pointed between the check of the file and its start. So each run
// downloads into a folder of its own: a random name under the system's
// temporary folder when the program is elevated (the user's own temporary
// folder otherwise), created with a DACL that lets in only Administrators and
// SYSTEM (and, unelevated, the user) and inherits nothing from its parent,
// and held open from its creation to its removal, so that nobody can rename,
// replace or remove it meanwhile.
//
// Earlier runs' folders (a crash, a reboot) are found through a registry list
// under the distribution key, in HKEY_LOCAL_MACHINE when elevated, which only
// administrators can write, never by looking for names in a folder that
// others may write, and removed when no process holds them. A folder whose
// download was pinned by the configuration answer is listed with that pin
// (its "<size>:<sha256>" as the entry's data): when that download ends
// unfinished, the folder stays with the partial file and a record of it
// (install/kept_download.h), for a later run with the same pin to go on.
#pragma once

#include <windows.h>

#include <cstddef>

constexpr std::size_t FOLDER_PATH_SIZE = 400;  // wide characters of any path inside the folder

// Worker: creates this run's folder, lists it and holds it. False when it
// cannot be created (the download then fails as on a full disk).
bool CreateDownloadFolder();

// The path of name inside this run's folder into path (FOLDER_PATH_SIZE wide
// characters); false when there is no folder.
bool DownloadFolderFile(const wchar_t* name, wchar_t* path);

// Deletes the files the program put into this run's folder, the folder and
// its entry in the list. The file the program still holds stays, and so
// does the folder: the next run removes it. After KeepDownloadFolder it only
// lets go of the folder, which stays listed.
void RemoveDownloadFolder();

// Worker: this run's folder holds a partial download kept for a later run.
void KeepDownloadFolder();

// Removes the listed folders of earlier runs that no process holds; in a
// run without a pin, except those that keep a download for a later run.
void RemoveAbandonedDownloadFolders();

// Worker, in a pinned run before it has a folder: takes over, as this run's
// folder, a listed folder of an earlier run kept for pinText that no other
// process holds and whose contents usable() (given the folder's path,
// ending in a backslash) accepts.
bool AdoptListedFolder(const char* pinText, bool (*usable)(const wchar_t* folder));

// Whether the program runs with an administrator's full token.
bool ProgramIsElevated();

// The folder's security: a protected DACL granting full control to SYSTEM,
// Administrators and, unless elevated, the user of the process. Built into
// storage the caller keeps while the descriptor is in use.
struct FolderSecurity {
    SECURITY_DESCRIPTOR descriptor;
    BYTE acl[512];
    BYTE sids[3][SECURITY_MAX_SID_SIZE];
};
bool BuildFolderSecurity(bool elevated, FolderSecurity* security);

// Tests: the folder's parent in place of the system's choice (a folder
// path ending in a backslash), and a look at the security each new folder
// is created with. Null: as in the program.
extern const wchar_t* g_downloadFolderParent;
extern void (*g_inspectFolderSecurity)(const SECURITY_DESCRIPTOR* descriptor);
