// Output of the Windows-side test programs: "key=value" lines whose values
// have control bytes, backslashes and non-ASCII bytes written as \xNN, so
// that CR and LF stay visible and every value fits on its line.
#pragma once

#include <cstdio>

inline void PrintEscaped(const char* key, const char* text) {
    std::printf("%s=", key);
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if (*p < 0x20 || *p >= 0x7F || *p == '\\')
            std::printf("\\x%02X", *p);
        else
            std::putchar(*p);
    }
    std::putchar('\n');
}
