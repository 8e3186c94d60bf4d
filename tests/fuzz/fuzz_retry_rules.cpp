// The header parsers of the retry rules on arbitrary text: never read past
// the terminator (ASan), and whatever they accept is consistent.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "download/retry_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);  // stops at the first NUL for the parsers
    std::uint64_t first = 0, last = 0, total = 0;
    if (ParseContentRange(text.c_str(), &first, &last, &total) && !(first <= last && last < total)) std::abort();
    const int seconds = ParseRetryAfter(text.c_str());
    if (seconds < -1 || seconds > 86400) std::abort();
    const unsigned wait = RetryDelayMs(size % 5, seconds, static_cast<unsigned>(size) * 977u);
    if (wait < 1000 || wait > 30000) std::abort();  // a Retry-After of 1 to 30 s, or 2 to 9 s
    return 0;
}
