#include "download/package_rules.h"

#include <cstring>

const LibraryRequirement kLibraryRequirements[LIBRARY_COUNT] = {
    {"mfc42.dll", 4, 2},    {"msvcrt.dll", 4, 20},  {"msvcrt40.dll", 4, 10},
    {"olepro32.dll", 4, 2}, {"wininet.dll", 4, 70},
};

const char PREFIX_RECENT[] = "p_Vrimal_reg_";
const char PREFIX_SYSTEM[] = "p_Vrimal_sys_";

bool MeetsRequirement(const LibraryRequirement& row, unsigned major, unsigned minor) {
    if (major != row.major) return major > row.major;
    return minor >= row.minor;
}

const char* ChoosePackagePrefix(const char* directory, VersionReader readVersion, void* context) {
    for (const LibraryRequirement& row : kLibraryRequirements) {
        char path[300 + 16] = {};
        if (!AppendText(path, sizeof path, directory) || !AppendText(path, sizeof path, row.name))
            return PREFIX_SYSTEM;
        unsigned major = 0, minor = 0;
        if (!readVersion(path, &major, &minor, context) || !MeetsRequirement(row, major, minor))
            return PREFIX_SYSTEM;
    }
    return PREFIX_RECENT;
}

// The length of text, looking at no more than size bytes (size when it holds
// no terminator there). strnlen would bring in a run-time piece of its own.
static std::size_t BoundedLength(const char* text, std::size_t size) {
    const void* end = std::memchr(text, '\0', size);
    return end ? static_cast<std::size_t>(static_cast<const char*>(end) - text) : size;
}

bool AppendText(char* dst, std::size_t dstSize, const char* src) {
    const std::size_t used = BoundedLength(dst, dstSize);
    const std::size_t extra = std::strlen(src);
    if (used >= dstSize || extra >= dstSize - used) return false;
    std::memcpy(dst + used, src, extra + 1);
    return true;
}

bool ComposeAddresses(char* url, std::size_t urlSize, char* fileName, std::size_t fileNameSize,
                      const char* prefix, const char* language) {
    const std::size_t prefixLength = std::strlen(prefix);
    const std::size_t languageLength = std::strlen(language);
    const std::size_t urlLength = BoundedLength(url, urlSize);
    const std::size_t urlNeeded = urlLength + prefixLength + 2 * languageLength + 1 + 1;
    const std::size_t fileNeeded = prefixLength + languageLength + 4 + 1;
    if (urlNeeded > urlSize || fileNeeded > fileNameSize) return false;

    fileName[0] = '\0';
    AppendText(url, urlSize, prefix);
    AppendText(url, urlSize, language);
    AppendText(url, urlSize, ".");
    AppendText(url, urlSize, language);
    AppendText(fileName, fileNameSize, prefix);
    AppendText(fileName, fileNameSize, language);
    AppendText(fileName, fileNameSize, ".exe");
    return true;
}

bool MatchesPrefixIgnoringCase(const char* text, const char* lowerPrefix) {
    for (; *lowerPrefix; ++text, ++lowerPrefix) {
        char c = *text;
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != *lowerPrefix) return false;
    }
    return true;
}

bool AcceptDownloadBase(const char* base, bool requireHttps, bool signerChecked) {
    if (MatchesPrefixIgnoringCase(base, "https://")) return true;
    if (MatchesPrefixIgnoringCase(base, "http://")) return !requireHttps || signerChecked;
    return false;
}
