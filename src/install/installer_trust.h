// The publisher check of the downloaded installer, for builds that name one
// (TEMBRA_INSTALLER_SIGNER). Without a name every step here does nothing.
#pragma once

// True when no check is asked for, or when the file the program holds
// (SealInstallerFile) carries a valid
// Authenticode signature (WinVerifyTrust, no UI, revocation from the cache
// only) whose signer certificate's common name is the configured publisher.
// Otherwise the file is let go of and renamed "tembset.exe.rejected" in the
// private download folder (deleted where that fails), and the result is false.
bool VerifyDownloadedInstaller();
