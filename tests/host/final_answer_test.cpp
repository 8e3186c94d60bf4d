// What the program takes from the final configuration answer beside the
// download base: the installer's pin and the mirrors.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "download/installer_pin.h"
#include "download/mirrors.h"
#include "download/response_text.h"
#include "test_support.h"

namespace {

const std::string kHex = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";  // SHA-256 of "test"

TEST(ParsePin, TakesASizeAndSixtyFourHexDigitsAndNothingElse) {
    const struct {
        std::string text;
        bool ok;
        std::uint32_t size;
    } cases[] = {
        {"2111488:" + kHex, true, 2111488},
        {"1:" + kHex, true, 1},
        {"2147483647:" + kHex, true, 0x7FFFFFFF},
        {"007:" + kHex, true, 7},                                 // leading zeros are still the number
        {"5:9F86D081884C7D659A2FEAA0C55AD015A3BF4F1B2B0B822CD15D6C15B0F00A08", true, 5},  // upper case
        {"0:" + kHex, false, 0},
        {"2147483648:" + kHex, false, 0},                         // past what the count holds
        {"99999999999999999999:" + kHex, false, 0},
        {"-5:" + kHex, false, 0},
        {"+5:" + kHex, false, 0},
        {" 5:" + kHex, false, 0},
        {"5 :" + kHex, false, 0},
        {":" + kHex, false, 0},
        {"5" + kHex, false, 0},                                   // no colon
        {"5:" + kHex.substr(1), false, 0},                        // 63 digits
        {"5:" + kHex + "0", false, 0},                            // 65 digits
        {"5:" + kHex + " ", false, 0},
        {"5:" + kHex + "\r\n", false, 0},
        {"5:" + kHex.substr(0, 63) + "g", false, 0},
        {"5:" + kHex.substr(0, 62), false, 0},
        {"", false, 0},
    };
    for (const auto& c : cases) {
        InstallerPin pin = {77, {}};
        EXPECT_EQ(ParsePin(c.text.c_str(), &pin), c.ok) << c.text;
        EXPECT_EQ(pin.size, c.ok ? c.size : 77u) << c.text << " (a failure leaves the pin untouched)";
        if (c.ok) {
            EXPECT_EQ(pin.sha256[0], 0x9F);
            EXPECT_EQ(pin.sha256[31], 0x08);
            char text[PIN_TEXT_SIZE];
            FormatPin(pin, text);
            EXPECT_EQ(text, std::to_string(c.size) + ":" + kHex) << "formatted as published";
        }
    }
}

TEST(FindInstallerPin, ReadsThePinOfTheNamedInstallerOnly) {
    const std::string answer = "iFlag=0|sDlurl=http://h/f/|sMirror1=http://m/f/|sPin_p_Vrimal_reg_ENG.exe=10:" + kHex +
                               "|sPin_p_Vrimal_sys_ENG.exe=20:" + kHex.substr(1) +  // malformed
                               "|xsPin_p_Vrimal_reg_DEU.exe=30:" + kHex;
    ResponseTextScope scope(answer);
    const struct {
        const char* name;
        bool found;
        std::uint32_t size;
    } cases[] = {
        {"p_Vrimal_reg_ENG.exe", true, 10},
        {"p_Vrimal_sys_ENG.exe", false, 0},  // malformed: as without a pin
        {"p_Vrimal_reg_DEU.exe", false, 0},  // the key must start a field
        {"p_Vrimal_reg_ENG", false, 0},
        {"", false, 0},
        {"p_Vrimal_reg_ENG.exe-and-a-name-far-too-long-to-be-one-the-program-composes", false, 0},
    };
    for (const auto& c : cases) {
        InstallerPin pin = {77, {}};
        EXPECT_EQ(FindInstallerPin(c.name, &pin), c.found) << c.name;
        EXPECT_EQ(pin.size, c.found ? c.size : 77u) << c.name;
    }
    EXPECT_EQ(std::string(scope.data()), answer) << "the lookups leave the answer as it was";
    g_manager.responseText = nullptr;
    InstallerPin pin = {};
    EXPECT_FALSE(FindInstallerPin("p_Vrimal_reg_ENG.exe", &pin)) << "no response buffer";
}

TEST(DigestMatchesPin, NeedsTheSizeAndEveryByte) {
    InstallerPin pin = {};
    ASSERT_TRUE(ParsePin(("4:" + kHex).c_str(), &pin));
    std::uint8_t digest[PIN_DIGEST_SIZE];
    std::memcpy(digest, pin.sha256, sizeof digest);
    EXPECT_TRUE(DigestMatchesPin(pin, 4, digest));
    EXPECT_FALSE(DigestMatchesPin(pin, 5, digest));
    digest[31] ^= 1;
    EXPECT_FALSE(DigestMatchesPin(pin, 4, digest));
}

TEST(FinalAnswer, TodaysLookupsReadAPinnedAnswerAsBefore) {
    // What discovery reads of a final answer that publish writes now.
    ResponseTextScope scope("iFlag=0|sDlurl=https://dl.example.com/o/|sMirror1=http://m.example.com/o/|sPin_p_Vrimal_reg_ENG.exe=10:" +
                            kHex + "|sPin_p_Vrimal_sys_ENG.exe=20:" + kHex);
    std::int32_t flag = -1;
    char base[TEXT_BUFFER_SIZE];
    EXPECT_TRUE(GetIntValue("iFlag", &flag));
    EXPECT_EQ(flag, 0);
    EXPECT_FALSE(GetStrValue("sUrl", base, sizeof base)) << "no redirect to follow";
    ASSERT_TRUE(GetStrValue("sDlurl", base, sizeof base));
    EXPECT_STREQ(base, "https://dl.example.com/o/");
}

TEST(ReadMirrors, InOrderUntilTheFirstMissingNumberSkippingWhatDoesNotFit) {
    const std::string longest = "http://m/" + std::string(ADDRESS_BUFFER_SIZE - 1 - 9 - 20, 'x');  // fits with a 20-character name
    const struct {
        std::string answer;
        int max;
        std::vector<std::string> expected;
    } cases[] = {
        {"iFlag=0|sDlurl=http://h/|sMirror1=http://a/|sMirror2=http://b/", 4, {"http://a/", "http://b/"}},
        {"sMirror2=http://b/|sMirror1=http://a/", 4, {"http://a/", "http://b/"}},  // by number, not place
        {"sMirror1=http://a/|sMirror3=http://c/", 4, {"http://a/"}},               // 2 missing ends the list
        {"sMirror1=http://a/|sMirror2=|sMirror3=http://c/", 4, {"http://a/", "http://c/"}},  // empty: skipped
        {"sMirror1=" + longest + "|sMirror2=http://b/", 4, {longest, "http://b/"}},
        {"sMirror1=" + longest + "y|sMirror2=http://b/", 4, {"http://b/"}},       // one too long: skipped, not cut
        {"sMirror1=a|sMirror2=b|sMirror3=c|sMirror4=d|sMirror5=e", 9, {"a", "b", "c", "d"}},  // at most 4
        {"sMirror1=a|sMirror2=b|sMirror3=c", 2, {"a", "b"}},
        {"sMirror1=a\nb", 4, {"a\r\nb"}},  // read as every string value is
        {"smirror1=a|sMirror01=b|sMirror=c", 4, {}},
        {"iFlag=0|sDlurl=http://h/", 4, {}},
    };
    for (const auto& c : cases) {
        ResponseTextScope scope(c.answer);
        static char bases[MAX_MIRRORS + 1][ADDRESS_BUFFER_SIZE];
        std::memset(bases, 'z', sizeof bases);
        const int count = ReadMirrors(bases, c.max, "p_Vrimal_reg_ENG.exe");
        ASSERT_EQ(count, static_cast<int>(c.expected.size())) << c.answer.substr(0, 80);
        for (int i = 0; i < count; ++i) EXPECT_EQ(bases[i], c.expected[i]) << c.answer.substr(0, 80);
        for (int i = count; i <= MAX_MIRRORS; ++i) EXPECT_EQ(bases[i][0], 'z') << "no other slot written";
    }
}

TEST(NextDownloadBase, GoesRoundSkippingBasesThatGaveAFinalAnswer) {
    const struct {
        int current, count;
        unsigned finalBases;
        int expected;
    } cases[] = {
        {0, 1, 0, 0},    {0, 1, 1, -1},   {0, 3, 0, 1},    {2, 3, 0, 0},    {0, 3, 0b010, 2},
        {1, 3, 0b101, 1}, {1, 3, 0b111, -1}, {-1, 3, 0, 0}, {-1, 3, 0b001, 1}, {7, 3, 0, 0},
        {0, 0, 0, -1},   {0, 5, 0b11110, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NextDownloadBase(c.current, c.count, c.finalBases), c.expected)
            << c.current << " of " << c.count << " final " << c.finalBases;
}

}  // namespace
