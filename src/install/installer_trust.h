// The publisher check of the downloaded installer, for builds that name one
// (TEMBRA_INSTALLER_SIGNER). Without a name every step here does nothing.
#pragma once

// Taken by the download worker at the end of a successful download: holds
// "tembset.exe" open and lets others only read it, so that nobody can swap
// the file between the check and the start.
void LockDownloadedInstaller();

// True when no check is asked for, or when the locked file carries a valid
// Authenticode signature (WinVerifyTrust, no UI, revocation from the cache
// only) whose signer certificate's common name is the configured publisher.
// Otherwise the file is renamed "tembset.exe.rejected" and the result is false.
bool VerifyDownloadedInstaller();

// Lets go of the file once the installer was started or given up on.
void ReleaseDownloadedInstaller();
