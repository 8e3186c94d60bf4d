#include "download/mirrors.h"

#include <cstring>

#include "download/response_text.h"

static_assert(MAX_MIRRORS <= 9, "one digit numbers the mirrors");

int ReadMirrors(char bases[][ADDRESS_BUFFER_SIZE], int max, const char* installerFileName) {
    const std::size_t nameLength = std::strlen(installerFileName);
    int kept = 0;
    for (int number = 1; number <= MAX_MIRRORS && kept < max; ++number) {
        char key[sizeof MIRROR_KEY_PREFIX + 1];
        std::memcpy(key, MIRROR_KEY_PREFIX, sizeof MIRROR_KEY_PREFIX - 1);
        key[sizeof MIRROR_KEY_PREFIX - 1] = static_cast<char>('0' + number);
        key[sizeof MIRROR_KEY_PREFIX] = '\0';
        const char* value = FindValue(key);
        if (!value) break;
        if (*value == '|' || *value == '\0' || nameLength >= ADDRESS_BUFFER_SIZE) continue;
        // GetStrValue refuses a value whose text does not fit, writing nothing.
        if (GetStrValue(key, bases[kept], ADDRESS_BUFFER_SIZE - nameLength)) ++kept;
    }
    return kept;
}

int NextDownloadBase(int current, int count, unsigned finalBases) {
    if (count <= 0 || count > 32) return -1;
    if (current < 0 || current >= count) current = count - 1;  // before the first: base 0 comes next
    for (int step = 1; step <= count; ++step) {
        const int base = (current + step) % count;
        if (!(finalBases >> base & 1u)) return base;
    }
    return -1;
}
