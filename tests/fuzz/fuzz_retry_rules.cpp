// The header parsers of the retry rules on arbitrary text: never read past
// the terminator (ASan), and whatever they accept is consistent; the waits
// of both rules stay in their bounds whatever they are fed.
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

    // The rule of progress: any count of failures, any wait asked.
    std::uint32_t word = 0;
    for (std::size_t i = 0; i < size && i < 4; ++i) word = word << 8 | data[i];
    const int failed = static_cast<int>(word);
    const unsigned progressWait = ProgressRetryDelayMs(failed, seconds, word);
    if (progressWait < 1000 || progressWait > 60000) std::abort();
    if (seconds < 1 && (progressWait < 2000 || progressWait >= PROGRESS_RETRY_LONGEST_MS + RETRY_JITTER_MS)) std::abort();
    const std::uint32_t since = word % (2 * NO_PROGRESS_LIMIT_MS);
    const ProgressRetryDecision decision = DecideProgressRetry(since, progressWait);
    if (decision.tryAgain != (since < NO_PROGRESS_LIMIT_MS)) std::abort();
    if (decision.tryAgain && (decision.waitMs > progressWait || since + decision.waitMs > NO_PROGRESS_LIMIT_MS)) std::abort();
    return 0;
}
