#include "download/status_text_ids.h"

#include <gtest/gtest.h>

#include <set>

#include "download/languages.h"

namespace {

TEST(StatusTextResource, EnglishKeepsItsNumbersOthersHaveABlockEach) {
    const struct {
        const char* language;
        int number, expected;
    } cases[] = {{"ENG", 1, 1},  {"ENG", 7, 7},  {"CHT", 1, 17}, {"DEU", 3, 35},  {"SPA", 6, 70},
                 {"JAP", 2, 114}, {"SWE", 7, 183}, {"XYZ", 3, 3},  {"deu", 3, 3},   {"", 2, 2}, {nullptr, 4, 4}};
    for (const auto& c : cases)
        EXPECT_EQ(StatusTextResource(c.language, c.number), c.expected) << (c.language ? c.language : "null");
}

// Seventy-seven texts, none sharing a number, and no language's text in
// English's block (string block 1: numbers 0 to 15).
TEST(StatusTextResource, SeventySevenDistinctNumbers) {
    std::set<int> numbers;
    for (const char* language : kLanguageCodes)
        for (int number = 1; number <= 7; ++number) {
            const int resource = StatusTextResource(language, number);
            numbers.insert(resource);
            if (std::string(language) != "ENG") EXPECT_GE(resource, STATUS_TEXT_BLOCK) << language;
            EXPECT_EQ(resource % STATUS_TEXT_BLOCK, number) << language;
        }
    EXPECT_EQ(numbers.size(), 77u);
}

}  // namespace
