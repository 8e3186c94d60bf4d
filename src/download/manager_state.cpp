#include "download/manager_state.h"

char g_installerFileNameBuffer[ADDRESS_BUFFER_SIZE];
char g_statusTextBuffer[STATUS_TEXT_SIZE];
char g_downloadAddressBuffer[ADDRESS_BUFFER_SIZE];
char g_proxyUserBuffer[PROXY_CREDENTIAL_SIZE];
char g_proxyPasswordBuffer[PROXY_CREDENTIAL_SIZE];
char g_proxyIdentityBuffer[PROXY_IDENTITY_SIZE];
char g_mirrorBuffers[MAX_MIRRORS][ADDRESS_BUFFER_SIZE];

ManagerState g_manager;
