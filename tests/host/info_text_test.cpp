#include "download/info_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

struct SizeCase {
    const char* line;
    std::int32_t total;
};

const SizeCase kSizeCases[] = {
    {"1234", 1234},       {"1234\r", 1234},      {" 1234", 1234},        {"\t\v\f\r 77", 77},
    {"+15", 15},          {"-5", -5},            {"0", 0},               {"abc", 0},
    {"", 0},              {"12abc", 12},         {"- 5", 0},             {"+-5", 0},
    {"2147483647", 2147483647},                  {"2147483648", INT32_MIN},
    {"4294967296", 0},    {"4294967306", 10},    {"1 2", 1},
};

TEST(ParseTotalSize, FollowsTheConversionRuleWithWrapAround) {
    for (const SizeCase& c : kSizeCases) EXPECT_EQ(ParseTotalSize(c.line), c.total) << '"' << c.line << '"';
}

struct SplitCase {
    const char* text;
    bool ok;
    std::int32_t total;
    const char* news;
};

const SplitCase kSplitCases[] = {
    {"1234\r\nHello\r\n", true, 1234, "Hello\r\n"},
    {"0\nnews", false, 0, "news"},
    {"abc\nnews", false, 0, "news"},
    {"-5\nnews", false, -5, "news"},
    {" 1234\n", true, 1234, ""},
    {"4294967297\nx", true, 1, "x"},  // wraps to 1, which is a usable size
    {"2147483648\nx", false, INT32_MIN, "x"},
    {"99\nfirst\nsecond", true, 99, "first\nsecond"},
};

TEST(SplitInfoText, TakesLineOneAsSizeAndTheRestAsNews) {
    for (const SplitCase& c : kSplitCases) {
        ResponseTextScope scope(c.text);
        EXPECT_EQ(SplitInfoText(scope.data()), c.ok) << c.text;
        EXPECT_EQ(g_manager.totalSize, c.total) << c.text;
        ASSERT_NE(g_manager.tickerStart, nullptr);
        EXPECT_STREQ(g_manager.tickerStart, c.news) << c.text;
        EXPECT_EQ(g_manager.tickerPosition, g_manager.tickerStart);
    }
}

TEST(SplitInfoText, FailsWithoutLineFeed) {
    ResponseTextScope scope("1234");
    g_manager.tickerStart = g_manager.tickerPosition = nullptr;
    EXPECT_FALSE(SplitInfoText(scope.data()));
    EXPECT_EQ(g_manager.tickerStart, nullptr);
}

// The views of successive ticks for a news text.
std::vector<std::string> Views(const std::string& news, int ticks, std::size_t displaySize = TEXT_BUFFER_SIZE) {
    ResponseTextScope scope("1\n" + news);
    EXPECT_TRUE(SplitInfoText(scope.data()));
    std::vector<char> display(displaySize, 'Z');
    std::vector<std::string> views;
    for (int i = 0; i < ticks; ++i) {
        TickerTick(display.data(), display.size());
        views.emplace_back(display.data());
        EXPECT_GE(g_manager.tickerPosition, g_manager.tickerStart);
        EXPECT_LE(g_manager.tickerPosition, g_manager.tickerStart + news.size());
    }
    g_manager.tickerStart = g_manager.tickerPosition = nullptr;
    return views;
}

struct TickerCase {
    const char* news;
    std::vector<std::string> views;
};

TEST(TickerTick, RotatesLineByLineAndWrapsBehindTheFirstLine) {
    const TickerCase cases[] = {
        {"one\ntwo\nthree",
         {"one\ntwo\nthree", "two\nthreeone\n", "threeone\ntwo\n", "two\nthreeone\n", "threeone\ntwo\n"}},
        {"one\ntwo\n", {"one\ntwo\n", "two\none\n", "one\ntwo\n", "two\none\n", "one\ntwo\n"}},
        {"N\n", {"N\n", "N\n", "N\n", "N\n"}},
        {"a\r\nb\r\n", {"a\r\nb\r\n", "b\r\na\r\n", "a\r\nb\r\n"}},
        // No LF at all: the position stays on the text, which shows whole.
        {"only one line", {"only one line", "only one line", "only one line"}},
        {"", {"", "", ""}},
        {"\n\n", {"\n\n", "\n\n", "\n\n", "\n\n"}},
    };
    for (const TickerCase& c : cases)
        EXPECT_EQ(Views(c.news, static_cast<int>(c.views.size())), c.views) << c.news;
}

TEST(TickerTick, NeverWritesPastTheDisplay) {
    // A display smaller than the text: cut, terminated, the byte after it intact.
    const std::string news = "line one\nline two\nline three\n";
    ResponseTextScope scope("5\n" + news);
    ASSERT_TRUE(SplitInfoText(scope.data()));
    std::vector<char> display(11, '#');
    for (int i = 0; i < 6; ++i) {
        TickerTick(display.data(), display.size() - 1);
        EXPECT_EQ(display[9], '\0');
        EXPECT_EQ(display[10], '#');
    }
    g_manager.tickerStart = g_manager.tickerPosition = nullptr;
}

TEST(TickerTick, LongestNewsTextFitsTheDisplay) {
    std::string news;
    while (news.size() < TEXT_BUFFER_SIZE) news += "news line\n";
    news.resize(TEXT_BUFFER_SIZE - 3);  // "1\n" + news + NUL fill the response buffer
    const auto views = Views(news, 3);
    for (const std::string& view : views) EXPECT_EQ(view.size(), news.size());
}

TEST(TickerTick, DoesNothingBeforeTheInfoFile) {
    g_manager.tickerStart = g_manager.tickerPosition = nullptr;
    char display[8] = "stale";
    TickerTick(display, sizeof display);
    EXPECT_STREQ(display, "");
}

}  // namespace
