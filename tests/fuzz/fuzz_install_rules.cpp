// The trailer and file name rules and the uninstall command parsing on
// arbitrary bytes.
#include <cstdint>
#include <cstring>
#include <vector>

#include "install/distribution_rules.h"
#include "install/uninstall_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size >= TRAILER_SIZE) {
        std::vector<unsigned char> tail(data + size - TRAILER_SIZE, data + size);
        std::vector<char> id(33);
        if (ParseTrailer(tail.data(), static_cast<long>(size) + 1, id.data(), id.size()) &&
            std::strlen(id.data()) >= id.size())
            __builtin_trap();
    }
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    std::vector<char> id(260);
    IdFromModulePath(text.data(), id.data(), id.size());
    std::vector<char> small(5);
    IdFromModulePath(text.data(), small.data(), small.size());

    std::vector<char> folder(RETIRE_TARGET_SIZE);
    if (FindInstallFolder(text.data(), folder.data(), folder.size()) && std::strlen(folder.data()) >= size)
        __builtin_trap();  // the folder is a part of the command
    std::vector<char> tiny(3);
    FindInstallFolder(text.data(), tiny.data(), tiny.size());
    return 0;
}
