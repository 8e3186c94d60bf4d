#include "download/discovery.h"

#include <cstdlib>
#include <cstring>

#include "download/manager_state.h"
#include "download/package_rules.h"
#include "download/response_text.h"
#include "download/scramble.h"
#include "download/stored_strings.h"
#include "platform/internet.h"
#include "platform/network_timeouts.h"
#include "platform/support_log.h"

static bool AllocateTextBuffers() {
    if (!g_manager.urlBuffer) g_manager.urlBuffer = static_cast<char*>(std::calloc(TEXT_BUFFER_SIZE, 1));
    if (!g_manager.responseText) g_manager.responseText = static_cast<char*>(std::calloc(TEXT_BUFFER_SIZE, 1));
    return g_manager.urlBuffer && g_manager.responseText;
}

void FreeTextBuffers() {
    std::free(g_manager.urlBuffer);
    std::free(g_manager.responseText);
    g_manager.urlBuffer = g_manager.responseText = nullptr;
}

// Follows one server's chain of answers. Returns the last flag read: 0 when
// the chain ended on an answer that may be final, anything else when it
// gave no usable answer. flag carries in what the previous server left.
// A chain gets a time budget of its own, so a slow primary still leaves the
// fallback its turn; a chain out of time gave no usable answer.
static std::int32_t WalkServerChain(const char* server, std::int32_t flag) {
    char* url = g_manager.urlBuffer;
    std::strcpy(url, server);  // fits: checked when the build scrambled it
    const DWORD start = GetTickCount();
    const std::uint32_t dialogBefore = g_manager.credentialsMs;  // time in the proxy's dialog does not count
    for (int fetches = 0; fetches <= MAX_REDIRECTS_PER_SERVER; ++fetches) {
        const DWORD spent = GetTickCount() - start - (g_manager.credentialsMs - dialogBefore);
        if (spent >= DISCOVERY_SERVER_MS) return -1;
        const DWORD left = DISCOVERY_SERVER_MS - spent;
        const bool httpsOnly = RequireHttpsConfiguration();
        if (httpsOnly && !MatchesPrefixIgnoringCase(url, "https://")) return -1;  // a plain hop: no usable answer
        // A failed or overdue fetch leaves an empty text, which has no keys.
        LogRequest("configuration", url, fetches);
        FetchTextWithin(url, left < FETCH_DEADLINE_MS ? left : FETCH_DEADLINE_MS, httpsOnly);
        Descramble(g_manager.responseText);
        if (!GetIntValue("iFlag", &flag)) return flag;
        if (!GetStrValue("sUrl", url, TEXT_BUFFER_SIZE)) return flag;
        if (flag == 0 && GetStrValue("sDlurl", nullptr, 0)) return flag;
        flag = -1;
    }
    return -1;  // redirected too often: no usable answer
}

bool DiscoverDownloadBase() {
    if (!AllocateTextBuffers()) return false;
    const char* servers[] = {PrimaryServerAddress(), FallbackServerAddress()};
    std::int32_t flag = -1;
    for (const char* server : servers) {
        flag = WalkServerChain(server, flag);
        if (flag == 0) return GetStrValue("sDlurl", g_manager.urlBuffer, TEXT_BUFFER_SIZE);
    }
    return false;
}
