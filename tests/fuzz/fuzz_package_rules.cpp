// The package version rule and the address composition on arbitrary input:
// the prefix follows the requirement table read in order, and composing
// addresses never writes past a buffer (ASan) and keeps what it refuses.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "download/package_rules.h"

namespace {

struct Versions {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t reads;
};

// Three bytes per library: present?, major, minor.
bool FuzzedReader(const char*, unsigned* major, unsigned* minor, void* context) {
    Versions* v = static_cast<Versions*>(context);
    const std::size_t at = 3 * v->reads++;
    if (at + 3 > v->size || (v->data[at] & 1) == 0) return false;
    *major = v->data[at + 1] % 8;
    *minor = v->data[at + 2] % 32;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Versions versions{data, size, 0};
    const char* prefix = ChoosePackagePrefix("C:\\W\\system32\\", FuzzedReader, &versions);
    bool all = true;
    std::size_t inspected = 0;
    for (const LibraryRequirement& row : kLibraryRequirements) {
        const std::size_t at = 3 * inspected++;
        if (at + 3 > size || (data[at] & 1) == 0 || !MeetsRequirement(row, data[at + 1] % 8, data[at + 2] % 32)) {
            all = false;
            break;
        }
    }
    if ((prefix == PREFIX_RECENT) != all || versions.reads != inspected) __builtin_trap();

    // Addresses: a base of the input's bytes in buffers of the input's sizes.
    if (size < 2) return 0;
    const std::size_t urlSize = 1 + data[0] % 64, fileSize = 1 + data[1] % 32;
    std::vector<char> url(urlSize), file(fileSize, 'x');
    const std::string base(reinterpret_cast<const char*>(data + 2), std::min<std::size_t>(size - 2, urlSize - 1));
    std::memcpy(url.data(), base.c_str(), std::strlen(base.c_str()) + 1);
    const std::string before(url.data());
    if (ComposeAddresses(url.data(), urlSize, file.data(), fileSize, PREFIX_SYSTEM, "SWE")) {
        if (std::string(url.data()) != before + "p_Vrimal_sys_SWE.SWE" || std::string(file.data()) != "p_Vrimal_sys_SWE.exe")
            __builtin_trap();
    } else if (std::string(url.data()) != before) {
        __builtin_trap();  // a refusal leaves the address as it was
    }
    return 0;
}
