// Which package variant suits the system, and the addresses built from it.
#pragma once

#include <cstddef>

struct LibraryRequirement {
    const char* name;
    unsigned major;
    unsigned minor;
};

constexpr std::size_t LIBRARY_COUNT = 5;
extern const LibraryRequirement kLibraryRequirements[LIBRARY_COUNT];

extern const char PREFIX_RECENT[];  // every library recent enough
extern const char PREFIX_SYSTEM[];  // anything else

// Reads a library's file version; false when it has none or it is unreadable.
using VersionReader = bool (*)(const char* path, unsigned* major, unsigned* minor, void* context);

// True when a library of version major.minor meets the row's minimum.
bool MeetsRequirement(const LibraryRequirement& row, unsigned major, unsigned minor);

// Inspects the libraries of directory (which ends in a backslash) in table
// order and stops at the first one that is missing or too old, so later rows
// are never read. Returns PREFIX_RECENT or PREFIX_SYSTEM.
const char* ChoosePackagePrefix(const char* directory, VersionReader readVersion, void* context);

// Appends prefix, language, "." and language to url (the info file address)
// and writes prefix, language and ".exe" into fileName. Refuses, writing
// nothing, when either result would not fit its buffer.
bool ComposeAddresses(char* url, std::size_t urlSize, char* fileName, std::size_t fileNameSize,
                      const char* prefix, const char* language);

// dst := dst + src, refused (dst unchanged) when it would not fit dstSize.
bool AppendText(char* dst, std::size_t dstSize, const char* src);

// Whether text starts with lowerPrefix (lower-case ASCII), letter case of
// text ignored.
bool MatchesPrefixIgnoringCase(const char* text, const char* lowerPrefix);

// Whether the download base an answer announced may be downloaded from.
// Only http:// and https:// (any letter case): other schemes carry no status
// or length to check. requireHttps (a distributor's build) refuses http://
// too, unless the installer's signature is checked (signerChecked), which
// then authenticates the file whatever carried it.
bool AcceptDownloadBase(const char* base, bool requireHttps, bool signerChecked);
