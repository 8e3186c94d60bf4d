// The installer file "tembset.exe" in the current directory, held by the
// program from the worker's first write until the installer process exists.
//
// The program runs elevated and starts what this file holds, so no other
// process may write it, replace it, rename it or delete it meanwhile: it is
// created sharing only reading. Starting it needs a handle without write
// access (Windows opens the image sharing only reading and deletion), so the
// handles change once, at the start; a change in that gap is caught by the
// digest of what the worker wrote, and the file is then not started.
#pragma once

#include <windows.h>

extern const char INSTALLER_FILE[];  // "tembset.exe"

// Full path of INSTALLER_FILE in the current directory, worked out once;
// empty when it does not fit in MAX_PATH.
const char* InstallerPath();

// Worker: creates (or truncates) the file and holds it for writing; begins
// the digest. False when the file cannot be created or held.
bool CreateInstallerFile();

// Worker: appends data and adds it to the digest. False on any short write.
bool WriteInstallerFile(const void* data, DWORD size);

// Worker: empties the file and begins the digest again, for a download
// that starts over from byte 0.
bool RestartInstallerFile();

// Window, before the start: changes the worker's handle for one that only
// reads and lets nobody write or delete, and checks that the file holds
// exactly what the worker wrote. False when it could not be reopened so (a
// process holds it open for writing, or it is gone) or it changed.
bool SealInstallerFile();

// Lets go of the file and the digest, whichever the program holds.
void ReleaseInstallerFile();
