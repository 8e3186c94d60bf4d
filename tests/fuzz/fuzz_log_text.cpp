// The support log's composer on arbitrary addresses and texts (a server
// names the addresses): a line never outgrows its buffer nor holds a
// control character that could split or forge a line, and an address keeps
// no query, fragment, user name or password.
#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>

#include "download/log_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);  // stops at the first NUL for the composer
    LogLine line;
    BeginLogLine(&line, static_cast<std::uint32_t>(size));
    const std::size_t start = line.length;
    AddLogAddress(&line, text.c_str());
    const std::string address(line.text + start, line.length - start);
    if (address.find_first_of("?#") != std::string::npos) std::abort();
    // No '@' in an authority: from the start and after each "://", up to
    // the next '/', '\\' or "://".
    for (std::size_t from = 0; from != std::string::npos;) {
        const std::size_t separator = address.find("://", from);
        const std::size_t stop = std::min(address.find_first_of("/\\", from), separator);
        if (address.substr(from, stop == std::string::npos ? std::string::npos : stop - from).find('@') !=
            std::string::npos)
            std::abort();
        from = separator == std::string::npos ? separator : separator + 3;
    }
    AddLogText(&line, text.c_str());
    AddLogNumber(&line, static_cast<std::uint32_t>(size) * 2654435761u);
    const std::size_t length = EndLogLine(&line);
    if (length > LOG_LINE_SIZE || line.text[length - 2] != '\r' || line.text[length - 1] != '\n') std::abort();
    for (std::size_t i = 0; i + 2 < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(line.text[i]);
        if (c < 0x20 || c == 0x7F) std::abort();
    }
    return 0;
}
