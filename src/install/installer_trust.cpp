#include "install/installer_trust.h"

#include <cwchar>

#include "download/manager_state.h"
#include "download/stored_strings.h"
#include "install/download_folder.h"
#include "install/installer_file.h"
#include "platform/support_log.h"
#include "platform/system_libraries.h"

#include <softpub.h>


static const int SIGNER_NAME_SIZE = 256;  // characters, the terminator included

static bool CheckAsked() { return InstallerSigner()[0] != '\0'; }

// The common name of the certificate that signed the file WinVerifyTrust
// just accepted, compared with the configured publisher. The setting is
// UTF-8 and the name is compared as Unicode, so that a publisher named
// with characters outside the system's code page still matches.
static bool SignedBy(const TrustApi* trust, HANDLE state, const char* publisher) {
    CRYPT_PROVIDER_DATA* provider = trust->WTHelperProvDataFromStateData(state);
    CRYPT_PROVIDER_SGNR* signer = provider ? trust->WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    PCCERT_CONTEXT certificate = signer && signer->csCertChain > 0 ? signer->pasCertChain[0].pCert : nullptr;
    wchar_t wanted[SIGNER_NAME_SIZE] = {}, name[SIGNER_NAME_SIZE] = {};
    return certificate &&
           MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, publisher, -1, wanted, SIGNER_NAME_SIZE) > 1 &&
           trust->CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME), name,
                                     SIGNER_NAME_SIZE) > 1 &&
           std::wcscmp(name, wanted) == 0;
}

static bool LockedFileSignedBy(const char* publisher) {
    const TrustApi* trust = Trust();
    HANDLE file = static_cast<HANDLE>(g_manager.installerFile);
    if (!trust || !file) return false;
    WINTRUST_FILE_INFO fileInfo = {};
    fileInfo.cbStruct = sizeof fileInfo;
    fileInfo.pcwszFilePath = INSTALLER_FILE;
    fileInfo.hFile = file;  // exactly the file that is held open
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    // Revocation is consulted only as far as the machine has it cached, so
    // that an offline machine still installs.
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    HWND noWindow = static_cast<HWND>(INVALID_HANDLE_VALUE);  // no UI at all
    const LONG verdict = trust->WinVerifyTrust(noWindow, &action, &data);
    const bool trusted = verdict == ERROR_SUCCESS && SignedBy(trust, data.hWVTStateData, publisher);
    LogSignerCheck(verdict, trusted);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    trust->WinVerifyTrust(noWindow, &action, &data);
    return trusted;
}

// A refused file never stays under the installer's name: renamed in the
// private folder (where nothing else can stand), or else deleted.
bool VerifyDownloadedInstaller() {
    if (!CheckAsked() || LockedFileSignedBy(InstallerSigner())) return true;
    ReleaseInstallerFile();
    wchar_t file[FOLDER_PATH_SIZE], rejected[FOLDER_PATH_SIZE];
    if (DownloadFolderFile(INSTALLER_FILE, file) && DownloadFolderFile(REJECTED_FILE, rejected) &&
        !MoveFileExW(file, rejected, 0))
        DeleteFileW(file);
    return false;
}
