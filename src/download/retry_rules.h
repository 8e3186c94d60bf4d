// When and how the download worker tries a transfer again: the answer
// classes, the waits between attempts and the header values they rest on.
// Portable: the worker feeds it what WinINet reported.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int MAX_DOWNLOAD_ATTEMPTS = 4;            // the first and three more
constexpr unsigned RETRY_BUDGET_MS = 60000;         // waiting and retrying, in all
constexpr unsigned MAX_RETRY_AFTER_SECONDS = 30;    // a longer Retry-After is not waited for
constexpr unsigned RETRY_JITTER_MS = 1000;          // spread over clients that failed together
constexpr std::size_t VALIDATOR_SIZE = 256;         // ETag or Last-Modified kept for If-Range

// A body without a Content-Length may run this far past the info file's size.
constexpr std::uint32_t UNANNOUNCED_BODY_MARGIN = 1u << 20;

// Whether text may stand as a header field's value in a request: no CR, LF
// or other control characters (a horizontal tab aside).
bool IsPlainHeaderValue(const char* text);

enum class AnswerClass {
    Whole,    // 2xx other than 206: the body is the file from byte 0
    Partial,  // 206: the rest, if its Content-Range fits
    Retry,    // 5xx, 408, 429: the server may do better in a moment
    Fatal,    // any other status: trying again changes nothing
};
AnswerClass ClassifyStatus(unsigned status);

// "bytes FIRST-LAST/TOTAL" (case-insensitive unit, optional spaces around
// the parts). False for anything else, an unknown total ("*") included.
bool ParseContentRange(const char* text, std::uint64_t* first, std::uint64_t* last, std::uint64_t* total);

// Retry-After in delta seconds; -1 for an HTTP date or anything else.
int ParseRetryAfter(const char* text);

// The wait before attempt failed + 1 (failed = 1, 2, 3): 2, 4, 8 s plus
// jitterMs (below RETRY_JITTER_MS), or a Retry-After of 1 to 30 s as given.
unsigned RetryDelayMs(int failed, int retryAfterSeconds, unsigned jitterMs);

// --- The rule of progress -------------------------------------------------
// A transfer whose installer is pinned keeps trying as long as the network
// gives something: a laptop that sleeps, a Wi-Fi switch or an outage of a
// few minutes costs a wait, not the download. It gives up only after
// NO_PROGRESS_LIMIT_MS without a single byte.
constexpr unsigned NO_PROGRESS_LIMIT_MS = 300000;            // 5 minutes without a byte
constexpr unsigned MAX_PROGRESS_RETRY_AFTER_SECONDS = 60;    // longer is cut to this
constexpr unsigned PROGRESS_RETRY_LONGEST_MS = 30000;        // the schedule's last step

// The wait after failed attempts in a row since the last one that brought a
// byte (1: the first failure): 2, 4, 8, 16, 30, 30 ... s, plus jitterMs
// folded below RETRY_JITTER_MS. A Retry-After of 1 to 60 s is waited as
// given; a longer one is waited 60 s: coming back sooner would only meet
// the same refusal, and the limit above still ends a server that never
// comes back.
unsigned ProgressRetryDelayMs(int failed, int retryAfterSeconds, unsigned jitterMs);

struct ProgressRetryDecision {
    bool tryAgain;
    unsigned waitMs;  // before the next attempt, when tryAgain
};

// After a failed attempt: msSinceLastByte counts from the last byte
// received (from the start of the download before the first), plannedWaitMs
// is ProgressRetryDelayMs's wait. Gives up once the limit is reached, never
// before: a wait that would cross it is shortened so that one last attempt
// starts right at the limit.
ProgressRetryDecision DecideProgressRetry(std::uint32_t msSinceLastByte, unsigned plannedWaitMs);
