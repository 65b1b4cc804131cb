// SPDX-License-Identifier: GPL-3.0-or-later
// The configuration file as read from the disk: files without settings or read permission,
// binary and huge files, and files too large to read.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "config/run_state.h"
#include "config/settings.h"
#include "config_fixture.h"
#include "test_support.h"

using namespace talvor;

using namespace std::string_literals;

// The cases name only the fields that differ from the defaults; GCC 12 still warns about the
// members left to their default initializers.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

// ---- Reading the file ------------------------------------------------------------------------

class ConfigFileTest : public ConfigTest {
  protected:
    void SetUp() override {
        ConfigTest::SetUp();
        runPaths.ConfigFilePath = dir_ / "TALVOR.INI";
        std::strcpy(settings.chartText, "left over");
    }
    TempDir dir_{"talvor-config"};
};

TEST_F(ConfigFileTest, FilesWithoutSettings) {
    struct Case {
        const char* name;
        void (*make)(const std::string& path);
    };
    const Case cases[] = {
        {"missing", [](const std::string&) {}},
        {"empty", [](const std::string& p) { WriteFileBytes(p, ""); }},
        {"three bytes", [](const std::string& p) { WriteFileBytes(p, "[]\n"); }},
        {"a folder of that name", [](const std::string& p) { MakeDirs(p); }},
        {"too large for a 32-bit size",
         [](const std::string& p) {
             WriteFileBytes(p, "");
             std::filesystem::resize_file(p, (uintmax_t(1) << 31) + 100);
         }},
        {"low 32 bits of its size look small",
         [](const std::string& p) {
             WriteFileBytes(p, "");
             std::filesystem::resize_file(p, (uintmax_t(1) << 32) + 10);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(runPaths.ConfigFilePath);
        c.make(runPaths.ConfigFilePath);
        StartFresh();
        runPaths.ConfigFilePath = dir_ / "TALVOR.INI";
        std::strcpy(settings.chartText, "left over");
        ReadConfiguration();
        EXPECT_EQ(scanned, 0u);
        ExpectSettings({});
        EXPECT_EQ(runPaths.DataFolder, kDefaultDataFolder);
    }
    std::filesystem::remove_all(runPaths.ConfigFilePath);
}

TEST_F(ConfigFileTest, FileWithoutReadPermissionGivesTheDefaults) {
    MakeDirs(dir_ / "Data");
    WriteFileBytes(runPaths.ConfigFilePath, "[KELDAN]\r\nSET " + (dir_ / "Data") +
                                                "\r\n[CUSTOM]\r\nVOKCOLOR=1\r\nQTH=Paris,1,2\r\n");
    chmod(dir_.path().c_str(), 0755);
    chmod(runPaths.ConfigFilePath.c_str(), 0);
    int answer = InChildWithoutRootRights([&] {
        std::strcpy(settings.chartText, "left over");
        ReadConfiguration();
        if (scanned != 0) return 1;
        if (settings.colourMode != 0 || std::strcmp(settings.locationName, "LONDON") != 0) return 2;
        if (settings.chartText[0] != '\0') return 3;
        return runPaths.DataFolder == kDefaultDataFolder ? 0 : 4;
    });
    EXPECT_EQ(answer, 0);
    // The same file readable again is read as usual: the permission was the only obstacle.
    chmod(runPaths.ConfigFilePath.c_str(), 0644);
    answer = InChildWithoutRootRights([&] {
        ReadConfiguration();
        return settings.colourMode == 1 && runPaths.DataFolder != kDefaultDataFolder ? 0 : 5;
    });
    EXPECT_EQ(answer, 0);
}

TEST_F(ConfigFileTest, ReadsAnOrdinaryFile) {
    MakeDirs(dir_ / "Data");
    WriteFileBytes(runPaths.ConfigFilePath,
                   "[KELDAN]\r\nSET MW\r\nSET " + (dir_ / "Data") +
                       "\r\n\r\n[CUSTOM]\r\nVOKTEXT=Band scan\r\nVOKSENS=0.5\r\nVOKCOLOR=1\r\n"
                       "OVERSEAS=9\r\nQTH=Paris,48.9,2.35\r\n");
    ReadConfiguration();
    ExpectSettings(
        {.spacing = 9, .sensitivity = 0.5f, .colour = 1, .text = "Band scan", .location = "PARIS"});
    EXPECT_EQ(runPaths.DataFolder, dir_ / "Data");
}

TEST_F(ConfigFileTest, FourBytesAreScanned) {
    WriteFileBytes(runPaths.ConfigFilePath, "[]\r\n");
    ReadConfiguration();
    EXPECT_EQ(scanned, 4u);
}

TEST_F(ConfigFileTest, NulBytesEndTheText) {
    WriteFileBytes(runPaths.ConfigFilePath, "[CUSTOM]\r\nVOKSENS=0.5\0\r\nVOKCOLOR=3\r\n"s);
    ReadConfiguration();
    EXPECT_EQ(scanned, 21u);
    ExpectSettings({.sensitivity = 0.5f});
}

TEST_F(ConfigFileTest, BinaryFilesAreHarmless) {
    std::mt19937 random(20240611);
    for (int round = 0; round < 20; ++round) {
        std::string bytes(1 + random() % 65536, '\0');
        for (char& b : bytes) b = char(random());
        WriteFileBytes(runPaths.ConfigFilePath, bytes);
        ReportedLines quiet;
        ReadConfiguration();
        ExpectSettingsInRange();
    }
}

TEST_F(ConfigTest, TextsBuiltFromTheGrammarAreHarmless) {
    TempDir dir("talvor-config");
    MakeDirs(dir / "D");
    const std::string pieces[] = {
        "[",    "]",    "\r",  "\n",        "\r\n", "=",         " ",       ",",
        "\"",   "//",   "/",   "KELDAN",    "KEL",  "CUSTOM",    "TOM",     "SET ",
        "QTH ", "QTH=", "LEM", "OSLO",      "59.9", "VOKSENS=",  "0.5",     "VOKTEXT=",
        "9",    "10",   "MW",  "OVERSEAS=", "\0"s,  "VOKCOLOR=", dir / "D", std::string(40, 'x')};
    std::mt19937 random(7);
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        int count = int(random() % 40);
        for (int i = 0; i < count; ++i) text += pieces[random() % std::size(pieces)];
        StartFresh();
        ReportedLines quiet;
        ReadText(text);
        ExpectSettingsInRange();
        ASSERT_NE(settings.locationName[0], '\0') << testing::PrintToString(text);
        ASSERT_TRUE(runPaths.DataFolder == kDefaultDataFolder || FileExists(runPaths.DataFolder))
            << runPaths.DataFolder;
    }
}

// ---- Very large files ------------------------------------------------------------------------

constexpr size_t kHugeSize = 100u << 20;

TEST_F(ConfigFileTest, HugeFileIsScannedToItsEnd) {
    std::string text = "[CUSTOM]\r\n";
    text.reserve(kHugeSize + 64);
    while (text.size() < kHugeSize) text += "VOKCOLOR=1\r\n// padding line\r\n";
    text += "VOKSENS=0.5";
    WriteFileBytes(runPaths.ConfigFilePath, text);
    ReadConfiguration();
    EXPECT_EQ(scanned, text.size());
    ExpectSettings({.sensitivity = 0.5f, .colour = 1});
}

TEST_F(ConfigFileTest, HugeSingleLines) {
    struct Case {
        const char* name;
        std::string head;
        char fill;
        Expect want;
    };
    const Case cases[] = {
        {"one profile path line", "[KELDAN]\nSET /", 'a', {}},
        {"one location value", "[CUSTOM]\nQTH=", 'b', {.location = std::string(79, 'B')}},
        {"one number", "[CUSTOM]\nVOKSENS=0.", '1', {.sensitivity = 1.0f / 9.0f}},
        {"headers without end", "\n[", '[', {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = c.head;
        text.resize(kHugeSize, c.fill);
        WriteFileBytes(runPaths.ConfigFilePath, text);
        StartFresh();
        runPaths.ConfigFilePath = dir_ / "TALVOR.INI";
        ReportedLines reported;
        ReadConfiguration();
        std::string err = reported.text();
        EXPECT_LT(err.size(), 8192u);  // a missing path is shown, but not all of it
        EXPECT_EQ(scanned, text.size());
        ExpectSettings(c.want);
        EXPECT_EQ(runPaths.DataFolder, kDefaultDataFolder);
    }
}

// A file larger than the scan takes, or one that no memory is left for, is said and leaves the
// defaults or what was read before it: it never ends the program with std::bad_alloc. The address
// space is capped just above what the process holds, plus the room given.
TEST_F(ConfigFileTest, FilesTooLargeToReadAreSaid) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' shadow memory does not fit under an address-space cap";
#endif
    struct Case {
        const char* name;
        std::string text;  // the file's first bytes
        uintmax_t size;    // its size, the rest unwritten (read as NULs)
        size_t room;       // bytes of address space given; 0: no cap
        std::string said;
    };
    const std::string path = dir_ / "TALVOR.INI";
    const size_t kLine = 64u << 20;
    const Case cases[] = {
        {"beyond 32-bit positions", "[CUSTOM]\r\n", (uintmax_t(1) << 31) + 100, 0,
         path + " is larger than 2147483647 bytes and is not read; the defaults apply"},
        {"no memory for its text", "[CUSTOM]\r\n", 600u << 20, 64u << 20,
         "not enough memory to read " + path + "; the defaults apply"},
        {"no memory for one long profile line", "[KELDAN]\r\nSET /" + std::string(kLine, 'a'), 0,
         150u << 20, "not enough memory to read " + path + "; what was read of it before applies"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFileBytes(path, c.text);
        if (c.size > 0) std::filesystem::resize_file(path, c.size);
        int code = RunInChild(
            [&] {
                if (c.room > 0) {
                    long pages = 0;
                    std::FILE* statm = std::fopen("/proc/self/statm", "r");
                    if (statm == nullptr || std::fscanf(statm, "%ld", &pages) != 1) return 20;
                    std::fclose(statm);
                    rlim_t cap = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + c.room;
                    struct rlimit limit = {cap, cap};
                    if (setrlimit(RLIMIT_AS, &limit) != 0) return 21;
                }
                ReportedLines reported;
                ReadConfiguration();
                if (reported.text().find(c.said) == std::string::npos) return 1;
                return settings.locationName[0] != '\0' ? 0 : 2;
            },
            60000);
        EXPECT_EQ(code, 0);
        std::filesystem::remove(path);
    }
}

}  // namespace
