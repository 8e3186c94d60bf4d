#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "install/distribution_rules.h"
#include "install/uninstall_rules.h"

namespace {

// The last 35 bytes of a file made of a body and a trailer.
std::vector<unsigned char> Trailer(const std::string& second, const std::string& first, const char* magic) {
    std::vector<unsigned char> tail(TRAILER_SIZE, 0);
    std::memcpy(tail.data(), second.data(), second.size());
    std::memcpy(tail.data() + 20, first.data(), first.size());
    std::memcpy(tail.data() + 31, magic, 4);
    return tail;
}

TEST(ParseTrailer, ReadsBothPartsBehindTheMagic) {
    struct Case {
        std::string second, first;
        const char* magic;
        long fileSize;
        bool found;
        const char* id;
    };
    const Case cases[] = {
        {"XYZ", "ABC", "DLID", 5000, true, "ABC_XYZ"},
        {"XYZ", "ABC", "dlid", 5000, false, ""},  // lower-case magic is no trailer
        {"XYZ", "ABC", "DLIX", 5000, false, ""},
        {"ABCDEFGHIJKLMNOPQRST", "ABCDEFGHIJK", "DLID", 5000, true, "ABCDEFGHIJK_ABCDEFGHIJKLMNOPQRST"},
        {"", "", "DLID", 36, true, "_"},
        {"XYZ", "ABC", "DLID", 35, false, ""},  // a file of exactly 35 bytes holds no usable trailer
        {"XYZ", "ABC", "DLID", 36, true, "ABC_XYZ"},
        {std::string("X\0Y", 3), std::string("A\0B", 3), "DLID", 100, true, "A_X"},  // cut at the first NUL
    };
    for (const Case& c : cases) {
        const auto tail = Trailer(c.second, c.first, c.magic);
        char id[260] = "stale";
        EXPECT_EQ(ParseTrailer(tail.data(), c.fileSize, id, sizeof id), c.found) << c.first << "/" << c.fileSize;
        EXPECT_STREQ(id, c.id) << c.first << "/" << c.fileSize;
    }
}

TEST(ParseTrailer, FullPartsDoNotRunIntoEachOther) {
    // Both fields full, no NUL anywhere in the trailer.
    auto tail = Trailer("SSSSSSSSSSSSSSSSSSSS", "FFFFFFFFFFF", "DLID");
    char id[33];
    ASSERT_TRUE(ParseTrailer(tail.data(), 1000, id, sizeof id));
    EXPECT_STREQ(id, "FFFFFFFFFFF_SSSSSSSSSSSSSSSSSSSS");
    EXPECT_FALSE(ParseTrailer(tail.data(), 1000, id, sizeof id - 1)) << "one byte short of room";
}

TEST(IdFromModulePath, TakesTheNameAfterTembra) {
    struct Case {
        const char* path;
        bool ok;
        const char* id;
    };
    const Case cases[] = {
        {"C:\\Downloads\\Tembra1234.exe", true, "1234"},
        {"C:\\Downloads\\TEMBRA.exe", true, ""},
        {"C:\\Downloads\\setup.exe", true, ""},
        {"C:\\Downloads\\tembraAB_CD.1.exe", true, "AB_CD"},
        {"C:\\Downloads\\tembr.exe", true, ""},
        {"C:\\Downloads\\xTembra12.exe", true, ""},
        {"Tembra99", true, "99"},  // no backslash: the whole path is the name
        {"C:\\Downloads\\\"Tembra42.exe", true, "42"},  // a leading quote is skipped
        {"C:\\Downloads\\", false, ""},  // a path ending in a backslash fails
        {"C:\\Tembra\\setup.exe", true, ""},  // only the base name counts
    };
    for (const Case& c : cases) {
        char id[260] = "stale";
        EXPECT_EQ(IdFromModulePath(c.path, id, sizeof id), c.ok) << c.path;
        EXPECT_STREQ(id, c.id) << c.path;
    }
}

TEST(IdFromModulePath, CutsALongNameToTheBuffer) {
    const std::string path = "C:\\Tembra" + std::string(500, '7') + ".exe";
    char id[16];
    std::memset(id, '#', sizeof id);
    ASSERT_TRUE(IdFromModulePath(path.c_str(), id, sizeof id));
    EXPECT_EQ(std::string(id), std::string(15, '7'));
}

TEST(BuildTrailer, RoundTripsAndRefusesLongParts) {
    unsigned char trailer[TRAILER_SIZE];
    ASSERT_TRUE(BuildTrailer("ABCDEFGHIJK", "XYZ", trailer));
    char id[64];
    ASSERT_TRUE(ParseTrailer(trailer, 1000, id, sizeof id));
    EXPECT_STREQ(id, "ABCDEFGHIJK_XYZ");
    EXPECT_FALSE(BuildTrailer("ABCDEFGHIJKL", "XYZ", trailer));
    EXPECT_FALSE(BuildTrailer("A", std::string(21, 'x').c_str(), trailer));
}

TEST(FindInstallFolder, FindsTheFolderOfTheQuotedPath) {
    struct Case {
        const char* command;
        bool ok;
        const char* folder;
    };
    const Case cases[] = {
        {"\"C:\\Apps\\Prod\\uninst.exe\"", true, "C:\\Apps\\Prod"},
        {"C:\\WIN\\uninst.exe -f\"C:\\Apps\\Prod\\log.isu\"", true, "C:\\Apps\\Prod"},
        {"C:\\Apps\\Prod\\uninst.exe", false, ""},  // no quote
        {"\"uninst.exe\"", false, ""},              // no backslash
        {"\"\\uninst.exe\"", false, ""},            // the backslash at the beginning does not count
        {"\"C:\\uninst.exe\"", true, "C:"},
        {"\"C:\\A\\B\\C\\u.exe\" /S", true, "C:\\A\\B\\C"},
        {"", false, ""},
    };
    for (const Case& c : cases) {
        char folder[RETIRE_TARGET_SIZE] = "";
        EXPECT_EQ(FindInstallFolder(c.command, folder, sizeof folder), c.ok) << c.command;
        if (c.ok) EXPECT_STREQ(folder, c.folder) << c.command;
    }
}

TEST(FindInstallFolder, LongestWorkTextLeavesRoomForEverySuffix) {
    // The longest text the 1,040-byte work buffer holds.
    const std::string command = "\"" + std::string(1037, 'p') + "\\";
    ASSERT_EQ(command.size(), UNINSTALL_WORK_SIZE - 1);
    char folder[RETIRE_TARGET_SIZE];
    ASSERT_TRUE(FindInstallFolder(command.c_str(), folder, sizeof folder));
    EXPECT_EQ(std::strlen(folder), 1037u);
    EXPECT_LE(std::strlen(folder) + RETIRE_ATTEMPTS * std::strlen(RETIRE_SUFFIX) + 1, RETIRE_TARGET_SIZE);
    char small[8];
    EXPECT_FALSE(FindInstallFolder(command.c_str(), small, sizeof small));
}

}  // namespace
