// Drives the answer lookups over arbitrary response texts.
#include <cstdint>
#include <cstring>
#include <vector>

#include "download/manager_state.h"
#include "download/response_text.h"
#include "download/scramble.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The response buffer as FetchText leaves it: at most TEXT_BUFFER_SIZE - 1
    // bytes and a terminator, in a block of exactly TEXT_BUFFER_SIZE.
    std::vector<char> text(TEXT_BUFFER_SIZE, '\0');
    std::memcpy(text.data(), data, size < TEXT_BUFFER_SIZE - 1 ? size : TEXT_BUFFER_SIZE - 1);
    g_manager.responseText = text.data();
    Descramble(text.data());

    std::vector<char> snapshot(text);
    static const char* const kKeys[] = {"iFlag", "sUrl", "sDlurl", "a"};
    for (const char* key : kKeys) {
        std::int32_t value = 0;
        GetIntValue(key, &value);
        GetStrValue(key, nullptr, 0);
        // Exactly sized heap destinations, so ASan sees any byte past the end.
        std::vector<char> url(TEXT_BUFFER_SIZE);
        GetStrValue(key, url.data(), url.size());
        std::vector<char> small(16);
        if (GetStrValue(key, small.data(), small.size()) && std::strlen(small.data()) >= small.size()) __builtin_trap();
    }
    if (snapshot != text) __builtin_trap();  // lookups never change the text
    g_manager.responseText = nullptr;
    return 0;
}
