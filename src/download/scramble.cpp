#include "download/scramble.h"

static char* ApplyTable(char* text, const scramble_detail::Table& table) {
    for (unsigned char* p = reinterpret_cast<unsigned char*>(text); *p; ++p) *p = table.bytes[*p];
    return text;
}

char* Descramble(char* text) { return ApplyTable(text, kDescrambleTable); }

char* Scramble(char* text) { return ApplyTable(text, kScrambleTable); }
