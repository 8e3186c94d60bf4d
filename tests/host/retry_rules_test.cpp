#include "download/retry_rules.h"

#include <gtest/gtest.h>

namespace {

TEST(ClassifyStatus, RetriesOnlyWhatMayPass) {
    const struct {
        unsigned status;
        AnswerClass expected;
    } cases[] = {{200, AnswerClass::Whole},   {204, AnswerClass::Whole},   {206, AnswerClass::Partial},
                 {301, AnswerClass::Fatal},   {404, AnswerClass::Fatal},   {403, AnswerClass::Fatal},
                 {407, AnswerClass::Fatal},   {408, AnswerClass::Retry},   {429, AnswerClass::Retry},
                 {500, AnswerClass::Retry},   {503, AnswerClass::Retry},   {599, AnswerClass::Retry},
                 {600, AnswerClass::Fatal},   {0, AnswerClass::Fatal}};
    for (const auto& c : cases) EXPECT_EQ(ClassifyStatus(c.status), c.expected) << c.status;
}

TEST(ParseContentRange, TakesOnlyAWholeByteRange) {
    const struct {
        const char* text;
        bool ok;
        std::uint64_t first, last, total;
    } cases[] = {
        {"bytes 100-999/1000", true, 100, 999, 1000},
        {"Bytes  0-0/1 ", true, 0, 0, 1},
        {"bytes 100 - 999 / 1000", true, 100, 999, 1000},
        {"bytes 100-999/*", false, 0, 0, 0},
        {"bytes */1000", false, 0, 0, 0},
        {"bytes 5-4/10", false, 0, 0, 0},
        {"bytes 0-10/10", false, 0, 0, 0},
        {"bytes 1-2/3x", false, 0, 0, 0},
        {"bytes=1-2/3", false, 0, 0, 0},
        {"items 1-2/3", false, 0, 0, 0},
        {"bytes 1-2/99999999999999999999", false, 0, 0, 0},
        {"", false, 0, 0, 0},
    };
    for (const auto& c : cases) {
        std::uint64_t first = 7, last = 7, total = 7;
        EXPECT_EQ(ParseContentRange(c.text, &first, &last, &total), c.ok) << c.text;
        if (c.ok) EXPECT_TRUE(first == c.first && last == c.last && total == c.total) << c.text;
    }
}

TEST(RetryDelay, DoublesFromTwoSecondsOrTakesAShortRetryAfter) {
    EXPECT_EQ(ParseRetryAfter("1"), 1);
    EXPECT_EQ(ParseRetryAfter(" 30 "), 30);
    EXPECT_EQ(ParseRetryAfter("Wed, 21 Oct 2026 07:28:00 GMT"), -1);
    EXPECT_EQ(ParseRetryAfter("-3"), -1);
    EXPECT_EQ(RetryDelayMs(1, -1, 0), 2000u);
    EXPECT_EQ(RetryDelayMs(2, -1, 999), 4999u);
    EXPECT_EQ(RetryDelayMs(3, -1, 1500), 8500u);  // jitter stays below 1 s
    EXPECT_EQ(RetryDelayMs(1, 1, 400), 1000u);
    EXPECT_EQ(RetryDelayMs(2, 30, 400), 30000u);
    EXPECT_EQ(RetryDelayMs(2, 31, 0), 4000u);  // longer than 30 s: the schedule
    EXPECT_EQ(RetryDelayMs(1, 0, 0), 2000u);
}

TEST(IsPlainHeaderValue, RefusesWhatWouldBreakTheHeaderLine) {
    const struct {
        const char* text;
        bool plain;
    } cases[] = {{"\"5f3a-1c\"", true},       {"W/\"x\"", true},        {"Tue, 01 Dec 2026 10:00:00 GMT", true},
                 {"a\tb", true},              {"", true},               {"\"x\"\r\nX-Evil: 1", false},
                 {"\"x\"\nRange: bytes=0-", false}, {"a\rb", false},   {"a\x01", false},
                 {"a\x7f", false},            {"caf\xc3\xa9", true}};
    for (const auto& c : cases) EXPECT_EQ(IsPlainHeaderValue(c.text), c.plain) << c.text;
}

TEST(ProgressRetryDelay, DoublesToSixteenThenStaysAtThirtySeconds) {
    const struct {
        int failed, retryAfter;
        unsigned jitter, expected;
    } cases[] = {
        {1, -1, 0, 2000},   {2, -1, 0, 4000},    {3, -1, 0, 8000},     {4, -1, 0, 16000},
        {5, -1, 0, 30000},  {6, -1, 999, 30999}, {1000, -1, 0, 30000}, {0, -1, 0, 2000},
        {-7, -1, 0, 2000},  {2, -1, 1500, 4500},  // jitter stays below 1 s
        {1, 1, 400, 1000},  {9, 60, 400, 60000}, {2, 61, 0, 60000},   {2, 86400, 0, 60000},  // cut to 60 s
        {3, 0, 0, 8000},    // no wait asked: the schedule
    };
    for (const auto& c : cases)
        EXPECT_EQ(ProgressRetryDelayMs(c.failed, c.retryAfter, c.jitter), c.expected) << c.failed << " " << c.retryAfter;
}

TEST(DecideProgressRetry, GivesUpAtFiveMinutesWithoutAByteAndNoSooner) {
    const struct {
        std::uint32_t sinceByte;
        unsigned planned;
        bool tryAgain;
        unsigned wait;
    } cases[] = {
        {0, 2000, true, 2000},
        {200000, 30000, true, 30000},
        {299000, 30000, true, 1000},  // shortened: the last attempt starts at the limit
        {299999, 60000, true, 1},
        {300000, 2000, false, 0},
        {300001, 0, false, 0},
        {0xFFFFFFFFu, 2000, false, 0},
    };
    for (const auto& c : cases) {
        const ProgressRetryDecision d = DecideProgressRetry(c.sinceByte, c.planned);
        EXPECT_EQ(d.tryAgain, c.tryAgain) << c.sinceByte;
        if (c.tryAgain) EXPECT_EQ(d.waitMs, c.wait) << c.sinceByte;
        if (d.tryAgain) EXPECT_LE(c.sinceByte + d.waitMs, NO_PROGRESS_LIMIT_MS) << c.sinceByte;
    }
}

}  // namespace
