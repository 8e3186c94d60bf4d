#include "download/package_rules.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

struct FakeSystem {
    std::map<std::string, std::pair<unsigned, unsigned>> versions;  // by library name
    std::vector<std::string> asked;
};

bool FakeReader(const char* path, unsigned* major, unsigned* minor, void* context) {
    auto* system = static_cast<FakeSystem*>(context);
    const std::string name = std::string(path).substr(std::string(path).rfind('\\') + 1);
    system->asked.push_back(path);
    auto it = system->versions.find(name);
    if (it == system->versions.end()) return false;
    *major = it->second.first;
    *minor = it->second.second;
    return true;
}

FakeSystem MinimumSystem() {
    return {{{"mfc42.dll", {4, 2}},
             {"msvcrt.dll", {4, 20}},
             {"msvcrt40.dll", {4, 10}},
             {"olepro32.dll", {4, 2}},
             {"wininet.dll", {4, 70}}},
            {}};
}

TEST(ChoosePackagePrefix, StopsAtTheFirstUnmetRow) {
    struct Case {
        const char* library;
        int major, minor;  // -1: absent
        const char* prefix;
        std::size_t asked;
    };
    const Case cases[] = {
        {nullptr, 0, 0, "p_Vrimal_reg_", 5},
        {"mfc42.dll", 4, 1, "p_Vrimal_sys_", 1},
        {"mfc42.dll", 3, 99, "p_Vrimal_sys_", 1},
        {"msvcrt.dll", 4, 10, "p_Vrimal_sys_", 2},
        {"msvcrt.dll", 4, 21, "p_Vrimal_reg_", 5},
        {"wininet.dll", 5, 0, "p_Vrimal_reg_", 5},
        {"wininet.dll", 4, 69, "p_Vrimal_sys_", 5},
        {"olepro32.dll", -1, -1, "p_Vrimal_sys_", 4},
    };
    for (const Case& c : cases) {
        FakeSystem system = MinimumSystem();
        if (c.library && c.major < 0) system.versions.erase(c.library);
        else if (c.library) system.versions[c.library] = {c.major, c.minor};
        EXPECT_STREQ(ChoosePackagePrefix("C:\\WINDOWS\\SYSTEM\\", FakeReader, &system), c.prefix)
            << (c.library ? c.library : "minimum");
        EXPECT_EQ(system.asked.size(), c.asked) << (c.library ? c.library : "minimum");
    }
    FakeSystem system = MinimumSystem();
    ChoosePackagePrefix("C:\\S\\", FakeReader, &system);
    EXPECT_EQ(system.asked, (std::vector<std::string>{"C:\\S\\mfc42.dll", "C:\\S\\msvcrt.dll",
                                                      "C:\\S\\msvcrt40.dll", "C:\\S\\olepro32.dll",
                                                      "C:\\S\\wininet.dll"}));
}

TEST(ComposeAddresses, AppendsPrefixAndLanguage) {
    char url[64] = "http://dl/x/";
    char file[32] = "stale";
    ASSERT_TRUE(ComposeAddresses(url, sizeof url, file, sizeof file, PREFIX_SYSTEM, "SWE"));
    EXPECT_STREQ(url, "http://dl/x/p_Vrimal_sys_SWE.SWE");
    EXPECT_STREQ(file, "p_Vrimal_sys_SWE.exe");
}

TEST(ComposeAddresses, RefusesABaseThatLeavesNoRoom) {
    // prefix (13) + code (3) + "." + code (3) + NUL = 21 bytes behind the base.
    for (std::size_t base : {std::size_t{0}, std::size_t{10}, std::size_t{11}, std::size_t{12}}) {
        std::string url(base, 'a');
        url.resize(32, '\0');
        url += "GUARD";
        char file[32] = "";
        const bool fits = base + 20 < 32;
        EXPECT_EQ(ComposeAddresses(url.data(), 32, file, sizeof file, PREFIX_RECENT, "ENG"), fits) << base;
        EXPECT_EQ(url.substr(32), "GUARD") << base;
        if (!fits) EXPECT_EQ(std::string(url.c_str()), std::string(base, 'a')) << "unchanged when refused";
    }
    char url[64] = "http://dl/";
    char file[20] = "";  // "p_Vrimal_reg_ENG.exe" needs 21
    EXPECT_FALSE(ComposeAddresses(url, sizeof url, file, sizeof file, PREFIX_RECENT, "ENG"));
    EXPECT_STREQ(url, "http://dl/");
}

TEST(AppendText, RefusesWhatWouldNotFit) {
    char buffer[8] = "abc";
    EXPECT_TRUE(AppendText(buffer, sizeof buffer, "defg"));
    EXPECT_STREQ(buffer, "abcdefg");
    EXPECT_FALSE(AppendText(buffer, sizeof buffer, "h"));
    EXPECT_STREQ(buffer, "abcdefg");
    char unterminated[4] = {'x', 'y', 'z', 'w'};
    EXPECT_FALSE(AppendText(unterminated, sizeof unterminated, ""));
}

TEST(AcceptDownloadBase, SchemesByBuild) {
    struct Case {
        const char* base;
        bool plain, requireHttps, requireHttpsSigned;
    };
    const Case cases[] = {
        {"https://dl.example/files/", true, true, true},
        {"HTTPS://dl.example/", true, true, true},
        {"http://dl.example/files/", true, false, true},
        {"Http://dl.example/", true, false, true},
        {"ftp://dl.example/files/", false, false, false},
        {"file://C:/files/", false, false, false},
        {"httpx://dl.example/", false, false, false},
        {"https:/dl.example/", false, false, false},
        {"", false, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AcceptDownloadBase(c.base, false, false), c.plain) << c.base;
        EXPECT_EQ(AcceptDownloadBase(c.base, true, false), c.requireHttps) << c.base;
        EXPECT_EQ(AcceptDownloadBase(c.base, true, true), c.requireHttpsSigned) << c.base;
    }
}

}  // namespace
