#include "download/response_text.h"

#include <cstring>

#include "download/manager_state.h"

const char* FindValue(const char* key) {
    const char* text = g_manager.responseText;
    if (!text || !key || !*key) return nullptr;
    const std::size_t keyLength = std::strlen(key);
    for (const char* field = text;;) {
        if (std::strncmp(field, key, keyLength) == 0 && field[keyLength] == '=')
            return field + keyLength + 1;
        const char* bar = std::strchr(field, '|');
        if (!bar) return nullptr;
        field = bar + 1;
    }
}

static bool IsIntegerChar(char c) { return (c >= '0' && c <= '9') || c == '-'; }

bool GetIntValue(const char* key, std::int32_t* out) {
    const char* value = FindValue(key);
    if (!value) return false;
    const char* end = value;
    while (IsIntegerChar(*end)) ++end;
    if (*end != '|' && *end != '\0') return false;

    // atoi's rule, accumulated unsigned so that overflow wraps instead of
    // being undefined.
    const char* p = value;
    bool negative = false;
    if (*p == '-') {
        negative = true;
        ++p;
    }
    std::uint32_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) magnitude = magnitude * 10u + static_cast<std::uint32_t>(*p - '0');
    if (negative) magnitude = 0u - magnitude;
    if (out) *out = static_cast<std::int32_t>(magnitude);
    return true;
}

bool GetStrValue(const char* key, char* dst, std::size_t dstSize) {
    const char* value = FindValue(key);
    if (!value) return false;
    if (!dst) return true;

    std::size_t needed = 1;  // terminator
    const char* end = value;
    for (; *end && *end != '|'; ++end) needed += (*end == '\n') ? 2 : 1;
    if (needed > dstSize) return false;

    char* out = dst;
    for (const char* p = value; p != end; ++p) {
        if (*p == '\n') *out++ = '\r';
        *out++ = *p;
    }
    *out = '\0';
    return true;
}
