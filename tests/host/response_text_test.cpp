#include "download/response_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "download/scramble.h"
#include "test_support.h"

namespace {

struct IntCase {
    const char* text;
    const char* key;
    bool found;
    std::int32_t value;
};

const IntCase kIntCases[] = {
    {"iFlag=0|sDlurl=X", "iFlag", true, 0},
    {"iFlag=", "iFlag", true, 0},                   // empty value reads as 0
    {"iFlag=|sUrl=a", "iFlag", true, 0},
    {"iFlag=-1", "iFlag", true, -1},
    {"iFlag=-", "iFlag", true, 0},                  // lone minus
    {"iFlag=--5", "iFlag", true, 0},                // second minus stops the digits
    {"iFlag=12-3", "iFlag", true, 12},
    {"iFlag=-7|x=1", "iFlag", true, -7},
    {"iFlag= 1", "iFlag", false, 0},                // blank before the digits
    {"iFlag=1x", "iFlag", false, 0},                // letter after them
    {"iFlag=+1", "iFlag", false, 0},                // plus sign is not allowed
    {"iFlag=1\r\n", "iFlag", false, 0},             // nothing is trimmed
    {"iFlag=1 ", "iFlag", false, 0},
    {"xiFlag=1", "iFlag", false, 0},                // key must start a field
    {"a=1|iFlag=2", "iFlag", true, 2},
    {"a=xiFlag=3|iFlag=4", "iFlag", true, 4},       // occurrence inside a value does not count
    {"iFlag=1|iFlag=0", "iFlag", true, 1},          // first occurrence wins
    {"iFlags=5|iFlag=6", "iFlag", true, 6},         // "=" must follow the key directly
    {"iflag=1", "iFlag", false, 0},                 // keys are case-sensitive
    {"iFlag:1", "iFlag", false, 0},
    {"", "iFlag", false, 0},
    {"iFlag=2147483647", "iFlag", true, 2147483647},
    {"iFlag=2147483648", "iFlag", true, INT32_MIN},  // wraps modulo 2^32
    {"iFlag=4294967297", "iFlag", true, 1},
    {"iFlag=-2147483648", "iFlag", true, INT32_MIN},
    {"iFlag=99999999999999999999", "iFlag", true, 1661992959},
};

TEST(GetIntValue, FollowsTheAnswerRules) {
    for (const IntCase& c : kIntCases) {
        ResponseTextScope scope(c.text);
        std::int32_t value = 12345;
        EXPECT_EQ(GetIntValue(c.key, &value), c.found) << c.text;
        EXPECT_EQ(value, c.found ? c.value : 12345) << c.text << " (failure leaves out untouched)";
        EXPECT_STREQ(scope.data(), c.text) << "the response text is left unchanged";
    }
}

struct StrCase {
    const char* text;
    const char* key;
    bool found;
    const char* value;
};

const StrCase kStrCases[] = {
    {"iFlag=0|sDlurl=http://h/x/", "sDlurl", true, "http://h/x/"},
    {"sDlurl=", "sDlurl", true, ""},
    {"sDlurl=X\n", "sDlurl", true, "X\r\n"},              // nothing trimmed, LF becomes CR LF
    {"sDlurl=a\nb\n\nc|sUrl=z", "sDlurl", true, "a\r\nb\r\n\r\nc"},
    {"sDlurl=a\r\nb", "sDlurl", true, "a\r\r\nb"},        // an existing CR is kept as it is
    {"sUrl:x", "sUrl", false, nullptr},
    {"xsUrl=1", "sUrl", false, nullptr},
    {"sUrl=first|sUrl=second", "sUrl", true, "first"},
    {"a=sUrl=in|b=2", "sUrl", false, nullptr},
    {"sUrl= spaced |", "sUrl", true, " spaced "},
    {"sUrl=\xC4\xE9", "sUrl", true, "\xC4\xE9"},           // bytes above 0x7F pass unchanged
};

TEST(GetStrValue, CopiesTheValueWithCrLf) {
    for (const StrCase& c : kStrCases) {
        ResponseTextScope scope(c.text);
        char dst[TEXT_BUFFER_SIZE];
        std::strcpy(dst, "untouched");
        EXPECT_EQ(GetStrValue(c.key, nullptr, 0), c.found) << c.text;
        EXPECT_EQ(GetStrValue(c.key, dst, sizeof dst), c.found) << c.text;
        EXPECT_STREQ(dst, c.found ? c.value : "untouched") << c.text;
        EXPECT_STREQ(scope.data(), c.text) << "the response text keeps its LF";
    }
}

TEST(GetStrValue, RefusesAnExpansionThatWouldNotFit) {
    // A value of LFs only doubles in size: it fits exactly or is refused,
    // and the byte behind the destination is never written.
    for (std::size_t size : {std::size_t{1}, std::size_t{2}, std::size_t{7}, std::size_t{21}}) {
        const std::size_t lineFeeds = 10;
        ResponseTextScope scope("sUrl=" + std::string(lineFeeds, '\n'));
        std::string dst(size + 1, '#');
        const bool fits = 2 * lineFeeds + 1 <= size;
        EXPECT_EQ(GetStrValue("sUrl", dst.data(), size), fits) << size;
        EXPECT_EQ(dst[size], '#') << size;
        if (!fits) EXPECT_EQ(dst, std::string(size + 1, '#')) << "a refused value writes nothing";
    }
}

TEST(GetStrValue, LongestPossibleAnswerIsRefusedNotOverrun) {
    // A whole response buffer of LF after the key expands to almost twice the
    // destination.
    ResponseTextScope scope("sDlurl=" + std::string(TEXT_BUFFER_SIZE - 8, '\n'));
    std::string dst(TEXT_BUFFER_SIZE + 16, '#');
    EXPECT_FALSE(GetStrValue("sDlurl", dst.data(), TEXT_BUFFER_SIZE));
    EXPECT_EQ(dst, std::string(TEXT_BUFFER_SIZE + 16, '#'));
    EXPECT_TRUE(GetStrValue("sDlurl", nullptr, 0)) << "the key is still present";
}

TEST(Lookups, FailWithoutResponseBuffer) {
    g_manager.responseText = nullptr;
    std::int32_t value = 7;
    char dst[8] = "keep";
    EXPECT_EQ(FindValue("iFlag"), nullptr);
    EXPECT_FALSE(GetIntValue("iFlag", &value));
    EXPECT_EQ(value, 7);
    EXPECT_FALSE(GetStrValue("sUrl", nullptr, 0));
    EXPECT_FALSE(GetStrValue("sUrl", dst, sizeof dst));
    EXPECT_STREQ(dst, "keep");
}

TEST(Substitution, TableIsAOneToOneMapThatKeepsNul) {
    bool seen[256] = {};
    EXPECT_EQ(kDescrambleTable.bytes[0], 0);
    for (int b = 1; b < 256; ++b) {
        const unsigned char plain = kDescrambleTable.bytes[b];
        EXPECT_NE(plain, 0) << b;
        EXPECT_FALSE(seen[plain]) << "two bytes map to " << int(plain);
        seen[plain] = true;
        EXPECT_EQ(kScrambleTable.bytes[plain], b) << "inverse of " << b;
    }
    int identities = 0;
    for (int b = 1; b < 256; ++b) identities += kDescrambleTable.bytes[b] == b;
    EXPECT_LT(identities, 4) << "a substitution that leaves most bytes alone hides nothing";
}

TEST(Substitution, RoundTripsEveryNonNulByte) {
    char text[256];
    for (int b = 1; b < 256; ++b) text[b - 1] = static_cast<char>(b);
    text[255] = '\0';
    char copy[256];
    std::memcpy(copy, text, sizeof text);
    Scramble(copy);
    EXPECT_EQ(std::strlen(copy), 255u);
    EXPECT_NE(std::memcmp(copy, text, 255), 0);
    EXPECT_EQ(Descramble(copy), copy);
    EXPECT_EQ(std::memcmp(copy, text, sizeof text), 0);
}

TEST(Substitution, CompileTimeScramblingMatchesTheRunTimeOne) {
    constexpr auto kScrambled = ScrambleLiteral("http://127.0.0.1:1/a|b=c");
    char text[sizeof kScrambled.text];
    std::memcpy(text, kScrambled.text, sizeof text);
    EXPECT_STRNE(text, "http://127.0.0.1:1/a|b=c");
    EXPECT_STREQ(Descramble(text), "http://127.0.0.1:1/a|b=c");
}

}  // namespace
