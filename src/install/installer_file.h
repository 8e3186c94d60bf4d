// The installer file "tembset.exe" in the run's private download folder
// (install/download_folder.h), held by the program from the worker's first
// write until the installer process has exited.
//
// The program runs elevated and starts what this file holds, so no other
// process may write it, replace it, rename it or delete it meanwhile: it is
// created sharing only reading. Starting it needs a handle without write
// access (Windows opens the image sharing only reading and deletion), so the
// handles change once, at the start, without letting go of the file; the
// file is then checked against the digest of what the worker wrote.
#pragma once

#include <windows.h>

#include <cstddef>

extern const wchar_t INSTALLER_FILE[];  // "tembset.exe"
extern const wchar_t REJECTED_FILE[];   // "tembset.exe.rejected"

// Worker: creates the run's download folder if need be, then the file in
// it, new (nothing can stand at its name in a new folder), and holds it for
// writing; begins the digest. False when either cannot be created, or the
// file turns out to be a link.
bool CreateInstallerFile();

// Worker: appends data and adds it to the digest. False on any short write.
bool WriteInstallerFile(const void* data, DWORD size);

// Worker: empties the file and begins the digest again, for a download
// that starts over from byte 0.
bool RestartInstallerFile();

// Worker: holds file, the partial installer file an earlier run kept, as
// this run's (open for reading and writing, sharing only reading), its
// first length bytes kept and the digest begun over them, read back
// through the handle; anything after them is cut off. Tells window every
// few MiB read that the worker is at work (WM_DLM_ATTEMPT). Returns the
// bytes kept: 0 when they could not be read, the file then emptied.
DWORD TakeOverInstallerFile(HANDLE file, DWORD length, HWND window);

// Window, before the start: changes the worker's handle for one that only
// reads and lets nobody write or delete, and checks that the file holds
// exactly what the worker wrote. False when it could not be reopened so (a
// process holds it open for writing) or it changed.
bool SealInstallerFile();

// The path the held file is started by: its full final path (no link in
// it), from the handle; false without a held file.
bool HeldInstallerPath(wchar_t* path, std::size_t size);

// Lets go of the file and the digest, whichever the program holds.
void ReleaseInstallerFile();
