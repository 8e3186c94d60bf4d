#include "install/installer_trust.h"

#include <cstring>

#include "download/download_worker.h"
#include "download/manager_state.h"
#include "download/stored_strings.h"
#include "platform/system_libraries.h"

#include <softpub.h>

static const char REJECTED_FILE[] = "tembset.exe.rejected";
static const wchar_t INSTALLER_FILE_W[] = L"tembset.exe";  // INSTALLER_FILE, as WinVerifyTrust takes it

static bool CheckAsked() { return InstallerSigner()[0] != '\0'; }

void LockDownloadedInstaller() {
    if (!CheckAsked()) return;
    HANDLE file = CreateFileA(INSTALLER_FILE, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    g_manager.installerLock = file == INVALID_HANDLE_VALUE ? nullptr : file;
}

void ReleaseDownloadedInstaller() {
    if (g_manager.installerLock) CloseHandle(static_cast<HANDLE>(g_manager.installerLock));
    g_manager.installerLock = nullptr;
}

// The common name of the certificate that signed the file WinVerifyTrust
// just accepted, compared with the configured publisher.
static bool SignedBy(const TrustApi* trust, HANDLE state, const char* publisher) {
    CRYPT_PROVIDER_DATA* provider = trust->WTHelperProvDataFromStateData(state);
    CRYPT_PROVIDER_SGNR* signer = provider ? trust->WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    PCCERT_CONTEXT certificate = signer && signer->csCertChain > 0 ? signer->pasCertChain[0].pCert : nullptr;
    char name[256] = {};
    return certificate &&
           trust->CertGetNameStringA(certificate, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME), name,
                                     sizeof name) > 1 &&
           std::strcmp(name, publisher) == 0;
}

static bool LockedFileSignedBy(const char* publisher) {
    const TrustApi* trust = Trust();
    HANDLE file = static_cast<HANDLE>(g_manager.installerLock);
    if (!trust || !file) return false;
    WINTRUST_FILE_INFO fileInfo = {};
    fileInfo.cbStruct = sizeof fileInfo;
    fileInfo.pcwszFilePath = INSTALLER_FILE_W;
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
    const bool trusted = trust->WinVerifyTrust(noWindow, &action, &data) == ERROR_SUCCESS &&
                         SignedBy(trust, data.hWVTStateData, publisher);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    trust->WinVerifyTrust(noWindow, &action, &data);
    return trusted;
}

bool VerifyDownloadedInstaller() {
    if (!CheckAsked() || LockedFileSignedBy(InstallerSigner())) return true;
    ReleaseDownloadedInstaller();
    MoveFileExA(INSTALLER_FILE, REJECTED_FILE, MOVEFILE_REPLACE_EXISTING);
    return false;
}
