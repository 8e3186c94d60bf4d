// Drives the answer lookups over arbitrary response texts: the fields the
// discovery reads, the installer's pin and the mirrors.
#include <cstdint>
#include <cstring>
#include <vector>

#include "download/installer_pin.h"
#include "download/manager_state.h"
#include "download/mirrors.h"
#include "download/response_text.h"
#include "download/scramble.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The response buffer as FetchText leaves it: at most TEXT_BUFFER_SIZE - 1
    // bytes and a terminator, in a block of exactly TEXT_BUFFER_SIZE.
    std::vector<char> text(TEXT_BUFFER_SIZE, '\0');
    std::memcpy(text.data(), data, size < TEXT_BUFFER_SIZE - 1 ? size : TEXT_BUFFER_SIZE - 1);
    g_manager.responseText = text.data();
    Descramble(text.data());

    InstallerPin direct = {};
    ParsePin(text.data(), &direct);

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
    // The pins and the mirrors of a final answer.
    static const char* const kNames[] = {"p_Vrimal_reg_ENG.exe", "a", ""};
    for (const char* name : kNames) {
        InstallerPin pin = {};
        if (FindInstallerPin(name, &pin)) {
            if (pin.size < 1 || pin.size > 0x7FFFFFFFu) __builtin_trap();
            char formatted[PIN_TEXT_SIZE];
            FormatPin(pin, formatted);  // read back as it was written, up to the letter case
            InstallerPin again = {};
            if (!ParsePin(formatted, &again) || !DigestMatchesPin(pin, again.size, again.sha256)) __builtin_trap();
        }
    }
    std::vector<char> bases((MAX_MIRRORS + 1) * ADDRESS_BUFFER_SIZE, 'z');
    char(*slots)[ADDRESS_BUFFER_SIZE] = reinterpret_cast<char(*)[ADDRESS_BUFFER_SIZE]>(bases.data());
    const int count = ReadMirrors(slots, MAX_MIRRORS, kNames[size % 3]);
    if (count < 0 || count > MAX_MIRRORS) __builtin_trap();
    for (int i = 0; i < count; ++i)  // each kept base leaves room for the name
        if (std::strlen(slots[i]) + std::strlen(kNames[size % 3]) >= ADDRESS_BUFFER_SIZE) __builtin_trap();
    for (std::size_t i = static_cast<std::size_t>(count) * ADDRESS_BUFFER_SIZE; i < bases.size(); ++i)
        if (bases[i] != 'z') __builtin_trap();  // no slot written but those kept

    if (snapshot != text) __builtin_trap();  // lookups never change the text
    g_manager.responseText = nullptr;
    return 0;
}
