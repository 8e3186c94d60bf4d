#include "install/distribution_rules.h"

#include <cstring>

#include "download/package_rules.h"

const char TRAILER_MAGIC[5] = "DLID";

// Copies at most count bytes of src, stopping at a NUL, into dst of dstSize.
static void CopyField(char* dst, std::size_t dstSize, const unsigned char* src, std::size_t count) {
    std::size_t n = 0;
    while (n < count && src[n] && n + 1 < dstSize) {
        dst[n] = static_cast<char>(src[n]);
        ++n;
    }
    dst[n] = '\0';
}

bool ParseTrailer(const unsigned char* tail, long fileSize, char* id, std::size_t idSize) {
    if (idSize == 0) return false;
    id[0] = '\0';
    if (fileSize <= static_cast<long>(TRAILER_SIZE)) return false;
    if (std::memcmp(tail + TRAILER_SIZE - 4, TRAILER_MAGIC, 4) != 0) return false;

    char first[TRAILER_FIRST_PART_SIZE + 1];
    char second[TRAILER_SECOND_PART_SIZE + 1];
    CopyField(first, sizeof first, tail + TRAILER_SECOND_PART_SIZE, TRAILER_FIRST_PART_SIZE);
    CopyField(second, sizeof second, tail, TRAILER_SECOND_PART_SIZE);
    const std::size_t firstLength = std::strlen(first), secondLength = std::strlen(second);
    if (firstLength + 1 + secondLength + 1 > idSize) return false;
    std::memcpy(id, first, firstLength);
    id[firstLength] = '_';
    std::memcpy(id + firstLength + 1, second, secondLength + 1);
    return true;
}

bool IdFromModulePath(const char* path, char* id, std::size_t idSize) {
    if (idSize == 0) return false;
    id[0] = '\0';
    const char* slash = std::strrchr(path, '\\');
    const char* base = slash ? slash + 1 : path;
    if (slash && *base == '\0') return false;
    if (*base == '"') ++base;
    static const char kNamePrefix[] = "tembra";
    if (!MatchesPrefixIgnoringCase(base, kNamePrefix)) return true;

    std::size_t n = 0;
    for (const char* p = base + sizeof kNamePrefix - 1; *p && *p != '.' && n + 1 < idSize; ++p) id[n++] = *p;
    id[n] = '\0';
    return true;
}

bool BuildTrailer(const char* firstPart, const char* secondPart, unsigned char trailer[TRAILER_SIZE]) {
    const std::size_t firstLength = std::strlen(firstPart), secondLength = std::strlen(secondPart);
    if (firstLength > TRAILER_FIRST_PART_SIZE || secondLength > TRAILER_SECOND_PART_SIZE) return false;
    std::memset(trailer, 0, TRAILER_SIZE);
    std::memcpy(trailer, secondPart, secondLength);
    std::memcpy(trailer + TRAILER_SECOND_PART_SIZE, firstPart, firstLength);
    std::memcpy(trailer + TRAILER_SIZE - 4, TRAILER_MAGIC, 4);
    return true;
}
