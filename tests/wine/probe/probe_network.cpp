// Probe commands for internet access and server discovery.
#include <cstdlib>
#include <cstring>

#include "download/discovery.h"
#include "download/manager_state.h"
#include "platform/internet.h"
#include "platform/network_timeouts.h"
#include "probe.h"

#include <wincrypt.h>

// fetch URL OUT: FetchText into a fresh response buffer, then the buffer's
// text (up to its terminator) is written to OUT for byte comparison.
static int RunFetch(char** args) {
    g_manager.responseText = static_cast<char*>(std::malloc(TEXT_BUFFER_SIZE));
    std::memset(g_manager.responseText, 'X', TEXT_BUFFER_SIZE);  // a stale buffer must not show through
    const bool ok = FetchText(args[0]);
    const char* text = g_manager.responseText;
    const void* terminator = std::memchr(text, '\0', TEXT_BUFFER_SIZE);
    printf("result=%d\n", ok ? 1 : 0);
    printf("terminated=%d\n", terminator ? 1 : 0);
    const size_t length = terminator ? static_cast<const char*>(terminator) - text : TEXT_BUFFER_SIZE;
    printf("length=%u\n", static_cast<unsigned>(length));
    FILE* out = fopen(args[1], "wb");
    if (!out) return 1;
    fwrite(text, 1, length, out);
    fclose(out);
    return 0;
}

static int RunDiscover(char**) {
    const bool ok = DiscoverDownloadBase();
    printf("result=%d\n", ok ? 1 : 0);
    PrintEscaped("url", g_manager.urlBuffer ? g_manager.urlBuffer : "");
    FreeTextBuffers();
    return 0;
}

// timeouts: the release timeouts, as a fetch's root handle carries them.
static int RunTimeouts(char**) {
    HINTERNET root = OpenInternetRoot(RECEIVE_TIMEOUT_MS);
    const DWORD options[] = {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                             INTERNET_OPTION_RECEIVE_TIMEOUT};
    const char* names[] = {"connect", "send", "receive"};
    for (int i = 0; i < 3; ++i) {
        DWORD value = 0, size = sizeof value;
        if (!root || !InternetQueryOptionA(root, options[i], &value, &size)) value = 0;
        printf("%s=%lu\n", names[i], value);
    }
    printf("set_connect=%u\nset_receive=%u\nfetch=%u\nserver=%u\nstall=%u\n", CONNECT_TIMEOUT_MS, RECEIVE_TIMEOUT_MS,
           FETCH_DEADLINE_MS, DISCOVERY_SERVER_MS, DOWNLOAD_STALL_MS);
    if (root) InternetCloseHandle(root);
    return 0;
}

// trust-root FILE: adds the DER certificate in FILE to the Root store of
// this prefix's user, so a test's own authority is trusted there alone.
static int RunTrustRoot(char** args) {
    FILE* in = fopen(args[0], "rb");
    if (!in) return 2;
    static BYTE der[16384];
    const size_t size = fread(der, 1, sizeof der, in);
    fclose(in);
    const BOOL ok = CertAddEncodedCertificateToSystemStoreA("Root", der, static_cast<DWORD>(size));
    printf("result=%d\n", ok ? 1 : 0);
    return 0;
}

const ProbeCommand kNetworkCommands[] = {
    {"trust-root", 1, "FILE", RunTrustRoot},
    {"timeouts", 0, "", RunTimeouts},
    {"fetch", 2, "URL OUTFILE", RunFetch},
    {"discover", 0, "", RunDiscover},
    {nullptr, 0, nullptr, nullptr},
};
