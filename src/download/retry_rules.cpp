#include "download/retry_rules.h"

bool IsPlainHeaderValue(const char* text) {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
        if ((*p < 0x20 && *p != '\t') || *p == 0x7F) return false;
    return true;
}

AnswerClass ClassifyStatus(unsigned status) {
    if (status == 206) return AnswerClass::Partial;
    if (status >= 200 && status <= 299) return AnswerClass::Whole;
    if ((status >= 500 && status <= 599) || status == 408 || status == 429) return AnswerClass::Retry;
    return AnswerClass::Fatal;
}

static const char* SkipSpaces(const char* p) {
    while (*p == ' ' || *p == '\t') ++p;
    return p;
}

// Decimal digits into value; false without a digit or past 2^53 (no file
// is that large, and the sum cannot overflow).
static bool ReadNumber(const char** cursor, std::uint64_t* value) {
    const char* p = *cursor;
    std::uint64_t result = 0;
    if (*p < '0' || *p > '9') return false;
    for (; *p >= '0' && *p <= '9'; ++p) {
        result = result * 10 + static_cast<unsigned>(*p - '0');
        if (result > (std::uint64_t{1} << 53)) return false;
    }
    *value = result;
    *cursor = p;
    return true;
}

static bool Expect(const char** cursor, char c) {
    const char* p = SkipSpaces(*cursor);
    if (*p != c) return false;
    *cursor = SkipSpaces(p + 1);
    return true;
}

bool ParseContentRange(const char* text, std::uint64_t* first, std::uint64_t* last, std::uint64_t* total) {
    const char* p = SkipSpaces(text);
    static const char UNIT[] = "bytes";
    for (const char* u = UNIT; *u; ++u, ++p)
        if ((*p | 0x20) != *u) return false;
    if (*p != ' ' && *p != '\t') return false;
    p = SkipSpaces(p);
    std::uint64_t f = 0, l = 0, t = 0;
    if (!ReadNumber(&p, &f) || !Expect(&p, '-') || !ReadNumber(&p, &l) || !Expect(&p, '/') ||
        !ReadNumber(&p, &t))
        return false;
    if (*SkipSpaces(p) != '\0' || f > l || l >= t) return false;
    *first = f;
    *last = l;
    *total = t;
    return true;
}

int ParseRetryAfter(const char* text) {
    const char* p = SkipSpaces(text);
    std::uint64_t seconds = 0;
    if (!ReadNumber(&p, &seconds) || *SkipSpaces(p) != '\0' || seconds > 86400) return -1;
    return static_cast<int>(seconds);
}

unsigned RetryDelayMs(int failed, int retryAfterSeconds, unsigned jitterMs) {
    if (retryAfterSeconds >= 1 && retryAfterSeconds <= static_cast<int>(MAX_RETRY_AFTER_SECONDS))
        return static_cast<unsigned>(retryAfterSeconds) * 1000;
    const int doublings = failed < 1 ? 0 : (failed > 3 ? 2 : failed - 1);
    return (2000u << doublings) + jitterMs % RETRY_JITTER_MS;
}

unsigned ProgressRetryDelayMs(int failed, int retryAfterSeconds, unsigned jitterMs) {
    if (retryAfterSeconds >= 1) {
        const unsigned seconds = static_cast<unsigned>(retryAfterSeconds);
        return (seconds < MAX_PROGRESS_RETRY_AFTER_SECONDS ? seconds : MAX_PROGRESS_RETRY_AFTER_SECONDS) * 1000;
    }
    // 2 s doubled per failure up to 16 s (failed 1 to 4), then the longest step.
    const unsigned base = failed >= 5 ? PROGRESS_RETRY_LONGEST_MS : 2000u << (failed < 1 ? 0 : failed - 1);
    return base + jitterMs % RETRY_JITTER_MS;
}

ProgressRetryDecision DecideProgressRetry(std::uint32_t msSinceLastByte, unsigned plannedWaitMs) {
    if (msSinceLastByte >= NO_PROGRESS_LIMIT_MS) return {false, 0};
    const unsigned left = NO_PROGRESS_LIMIT_MS - msSinceLastByte;
    return {true, plannedWaitMs < left ? plannedWaitMs : left};
}
