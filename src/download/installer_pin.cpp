#include "download/installer_pin.h"

#include <cstring>

#include "download/response_text.h"
#include "install/sha256.h"

static_assert(PIN_DIGEST_SIZE == SHA256_DIGEST_SIZE, "a pin holds a SHA-256");

static int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ParsePin(const char* value, InstallerPin* pin) {
    const char* p = value;
    std::uint32_t size = 0;
    if (*p < '0' || *p > '9') return false;
    for (; *p >= '0' && *p <= '9'; ++p) {
        size = size * 10 + static_cast<std::uint32_t>(*p - '0');
        if (size > 0x7FFFFFFFu) return false;  // checked per digit, so it never wraps
    }
    if (size == 0 || *p++ != ':') return false;
    InstallerPin parsed;
    parsed.size = size;
    for (std::size_t i = 0; i < PIN_DIGEST_SIZE; ++i, p += 2) {
        const int high = HexDigitValue(p[0]);
        if (high < 0) return false;
        const int low = HexDigitValue(p[1]);  // p[1] exists: p[0] was no terminator
        if (low < 0) return false;
        parsed.sha256[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    if (*p != '\0') return false;
    *pin = parsed;
    return true;
}

bool FindInstallerPin(const char* installerFileName, InstallerPin* pin) {
    // The program's names are some 20 characters: a key this long suffices,
    // and a longer name simply has no pin.
    char key[sizeof PIN_KEY_PREFIX + 64] = {};
    const std::size_t nameLength = std::strlen(installerFileName);
    if (nameLength == 0 || nameLength >= sizeof key - (sizeof PIN_KEY_PREFIX - 1)) return false;
    std::memcpy(key, PIN_KEY_PREFIX, sizeof PIN_KEY_PREFIX - 1);
    std::memcpy(key + sizeof PIN_KEY_PREFIX - 1, installerFileName, nameLength + 1);
    // A value too long for the text is no pin: GetStrValue refuses it whole.
    char value[PIN_TEXT_SIZE];
    return GetStrValue(key, value, sizeof value) && ParsePin(value, pin);
}

void FormatPin(const InstallerPin& pin, char text[PIN_TEXT_SIZE]) {
    static const char HEX[] = "0123456789abcdef";
    char digits[10];
    int count = 0;
    std::uint32_t size = pin.size;
    do {
        digits[count++] = static_cast<char>('0' + size % 10);
        size /= 10;
    } while (size != 0 && count < 10);
    char* out = text;
    while (count > 0) *out++ = digits[--count];
    *out++ = ':';
    for (std::uint8_t byte : pin.sha256) {
        *out++ = HEX[byte >> 4];
        *out++ = HEX[byte & 15];
    }
    *out = '\0';
}

bool DigestMatchesPin(const InstallerPin& pin, std::uint32_t size, const std::uint8_t digest[PIN_DIGEST_SIZE]) {
    return size == pin.size && std::memcmp(digest, pin.sha256, PIN_DIGEST_SIZE) == 0;
}
