// SPDX-License-Identifier: GPL-3.0-or-later
// The configuration file: its sections, the CUSTOM keys and the profile section lines.
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

// A profile line's answer as the section's reader takes it: 0 to go on, 1 to stop.
int Answer(const Outcome& handled) {
    return handled ? 0 : 1;
}

// Runs the body in folder and comes back, for relative paths.
class ScopedWorkingDir {
  public:
    explicit ScopedWorkingDir(const std::string& folder)
        : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~ScopedWorkingDir() { std::filesystem::current_path(previous_); }

  private:
    std::filesystem::path previous_;
};

// ---- Sections --------------------------------------------------------------------------------

TEST_F(ConfigTest, SectionHeadersAndNames) {
    RunFileCases({
        {"header on the first line", "[CUSTOM]\r\nVOKSENS=0.5\r\n", {.sensitivity = 0.5f}},
        {"last line without a break",
         "[CUSTOM]\r\nVOKCOLOR=1\r\nVOKSENS=0.5",
         {.sensitivity = 0.5f, .colour = 1}},
        {"text before the first header is skipped",
         "VOKSENS=0.5\r\n[CUSTOM]\r\nVOKCOLOR=2\r\n",
         {.colour = 2}},
        {"lower-case name is another section", "[custom]\r\nVOKSENS=0.5\r\n", {}},
        {"longer name is another section", "[CUSTOMS]\r\nVOKSENS=0.5\r\n", {}},
        {"piece of CUSTOM opens a CUSTOM section",
         "[TOM]\r\nVOKSENS=0.5\r\n",
         {.sensitivity = 0.5f}},
        {"empty name opens a profile section",
         "[]\r\nSET QTH OSLO 59.9,10.7\r\n",
         {.location = "OSLO"}},
        {"piece of KELDAN opens a profile section",
         "[KEL]\r\nSET QTH OSLO 59.9,10.7\r\n",
         {.location = "OSLO"}},
        {"key lines mean nothing in a profile section", "[KELDAN]\r\nVOKSENS=0.5\r\n", {}},
        {"unknown section ends a CUSTOM section",
         "[CUSTOM]\r\nVOKSENS=0.5\r\n[OTHER]\r\nVOKCOLOR=2\r\n",
         {.sensitivity = 0.5f}},
        {"CUSTOM section ends at a profile header",
         "[CUSTOM]\r\nVOKSENS=0.5\r\n[KELDAN]\r\nSET QTH OSLO 59.9,10.7\r\n",
         {.sensitivity = 0.5f, .location = "OSLO"}},
        {"text after the header's bracket is ignored",
         "[CUSTOM] old values\r\nVOKSENS=0.5\r\n",
         {.sensitivity = 0.5f}},
        {"a bracket not at a line start is no header", " [CUSTOM]\r\nVOKSENS=0.5\r\n", {}},
        {"a name without closing bracket ends the scan", "[CUSTOM\r\nVOKSENS=0.5\r\n", {}},
        {"a name runs over lines to the next closing bracket",
         "[CUSTOM]\r\nVOKSENS=0.5\r\n[OPEN\r\n[CUSTOM]\r\nVOKCOLOR=2\r\n",
         {.sensitivity = 0.5f}},
        {"two CUSTOM sections both count",
         "[CUSTOM]\r\nVOKCOLOR=2\r\n[X]\r\n[TOM]\r\nVOKSENS=0.5",
         {.sensitivity = 0.5f, .colour = 2}},
    });
}

TEST_F(ConfigTest, ProfileSectionBoundaries) {
    RunFileCases({
        {"two empty lines before the header skip its first line",
         "\r\n\r\n[KELDAN]\r\nSET QTH OSLO 59.9,10.7\r\n",
         {}},
        {"one empty line before the header",
         "\r\n[KELDAN]\r\nSET QTH OSLO 59.9,10.7\r\n",
         {.location = "OSLO"}},
        {"three empty lines before the header",
         "\r\n\r\n\r\n[KELDAN]\r\nSET QTH OSLO 59.9,10.7\r\n",
         {.location = "OSLO"}},
        {"the rule is the position of the CR LF form, also with LF line ends",
         "\n\n[KELDAN]\nSET QTH OSLO 59.9,10.7\n",
         {}},
        {"the position rule spares CUSTOM sections",
         "\r\n\r\n[CUSTOM]\r\nVOKSENS=0.5\r\n",
         {.sensitivity = 0.5f}},
        {"second of two profile sections in a row is skipped",
         "[KELDAN]\r\nSET QTH OSLO 59.9,10.7\r\n[KEL]\r\nSET QTH PARIS 48.9,2.35\r\n",
         {.location = "OSLO"}},
        {"CUSTOM right after a profile section",
         "[KELDAN]\r\nSET MW\r\n[CUSTOM]\r\nVOKSENS=0.5\r\n",
         {.sensitivity = 0.5f}},
        {"an empty name after a profile section is read as CUSTOM",
         "[KELDAN]\r\nSET MW\r\n[]\r\nVOKSENS=0.5\r\n",
         {.sensitivity = 0.5f}},
        {"profile section as the last section",
         "[CUSTOM]\r\nVOKCOLOR=3\r\n[KELDAN]\r\nSET QTH OSLO 59.9,10.7",
         {.colour = 3, .location = "OSLO"}},
        {"a bracket inside a profile line starts the next header",
         "[KELDAN]\r\nSET QTH OSLO 59.9,10.7\r\n// old [CUSTOM] note\r\nVOKSENS=0.5\r\n",
         {.sensitivity = 0.5f, .location = "OSLO"}},
        {"lines after such a header are not profile lines",
         "[KELDAN]\r\n// a[b] note\r\nSET QTH OSLO 59.9,10.7\r\n",
         {}},
        {"a refused line stops the section",
         "[KELDAN]\r\nSET QTH OSLO 59.9,10.7\r\nFOO\r\nSET QTH PARIS 48.9,2.35\r\n",
         {.location = "OSLO"}},
        {"an incomplete location stops the section",
         "[KELDAN]\r\nSET QTH OSLO\r\nSET QTH PARIS 48.9,2.35\r\n",
         {.location = "OSLO"}},
    });
}

TEST_F(ConfigTest, LineFeedOnlyFiles) {
    RunFileCases({
        {"every CUSTOM line counts",
         "[CUSTOM]\nVOKSENS=0.5\nVOKCOLOR=3\n",
         {.sensitivity = 0.5f, .colour = 3}},
        {"a value ends at its line's end",
         "[CUSTOM]\nVOKTEXT=Abc\nVOKCOLOR=3",
         {.colour = 3, .text = "Abc"}},
        {"profile lines one by one",
         "[KELDAN]\nSET QTH OSLO 59.9,10.7\nSET QTH PARIS 48.9,2.35\n",
         {.location = "PARIS"}},
        {"a header right after a header line", "[X]\n[CUSTOM]\nVOKSENS=0.5", {.sensitivity = 0.5f}},
        {"LF and CR LF mixed in one file",
         "[CUSTOM]\r\nVOKSENS=0.5\nVOKCOLOR=3\r\nQTH=Oslo,1,2\n",
         {.sensitivity = 0.5f, .colour = 3, .location = "OSLO"}},
        {"a CR alone still ends no line", "[CUSTOM]\rVOKSENS=0.5\nVOKCOLOR=3\n", {.colour = 3}},
    });
}

// Every CR LF file reads the same with its line ends written as LF alone, also where the grammar
// counts positions (the profile header whose "]" is the twelfth byte).
TEST_F(ConfigTest, LineFeedFormReadsAsTheCrLfForm) {
    const char* const texts[] = {
        "[CUSTOM]\r\nQTH=Paris,48.9,2.35\r\nVOKTEXT=Medium wave\r\nVOKSENS=0.8\r\n"
        "VOKCOLOR=1\r\nOVERSEAS=9\r\n",
        "\r\n\r\n[KELDAN]\r\nSET QTH OSLO 59.9,10.7\r\n",
        "\r\n[KELDAN]\r\nSET QTH OSLO 59.9,10.7\r\n",
        "\r\n\r\n\r\n\r\n[KELDAN]\r\nSET QTH OSLO 59.9,10.7\r\n",
        "[KELDAN]\r\nSET MW\r\n[CUSTOM]\r\nVOKSENS=0.5\r\n",
        "[KELDAN]\r\nSET QTH OSLO 59.9,10.7\r\n// old [CUSTOM] note\r\nVOKSENS=0.5\r\n",
        "[KELDAN]\r\nSET QTH OSLO 59.9,10.7\r\nFOO\r\nSET QTH PARIS 48.9,2.35\r\n",
        "VOKCOLOR=1\r\n[CUSTOM]\r\nVOKSENS=0.5\r\n[X]\r\n[TOM]\r\nVOKCOLOR=2\r\n",
        "[CUSTOM]\r\n\r\n VOKCOLOR=1\r\n/VOKSENS=0.5\r\nVOKSENS  == = 0.25   \r\n",
        "[CUSTOM]\r\nVOKTEXT=ends without a line end",
    };
    for (const char* crlf : texts) {
        std::string lf = crlf;
        for (size_t at; (at = lf.find("\r\n")) != std::string::npos;) lf.erase(at, 1);
        SCOPED_TRACE(testing::PrintToString(lf));
        StartFresh();
        ReadText(crlf);
        Settings want = settings;
        StartFresh();
        ReadText(lf);
        EXPECT_EQ(settings.channelSpacing, want.channelSpacing);
        EXPECT_EQ(settings.sensitivity, want.sensitivity);
        EXPECT_EQ(settings.colourMode, want.colourMode);
        EXPECT_STREQ(settings.chartText, want.chartText);
        EXPECT_STREQ(settings.locationName, want.locationName);
    }
}

TEST_F(ConfigTest, OnlyTextsOfMoreThanThreeBytesAreScanned) {
    struct Case {
        std::string text;
        size_t scanned;
    };
    const Case cases[] = {
        {"", 0},
        {"[]\r", 0},
        {"[]\r\n", 4},
        {"[CUSTOM]", 8},
        {"[]\0[X]"s, 0},  // the NUL ends the text after two bytes
        {"[CUSTOM]\r\nA=1\0junk"s, 13},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        ReadText(c.text);
        EXPECT_EQ(scanned, c.scanned);
        EXPECT_STREQ(settings.locationName, "LONDON");
    }
}

TEST_F(ConfigTest, NulByteEndsTheText) {
    RunFileCases({
        {"in a CUSTOM line", "[CUSTOM]\r\nVOKSENS=0.5\0\r\nVOKCOLOR=3\r\n"s, {.sensitivity = 0.5f}},
        {"in a value", "[CUSTOM]\r\nVOKTEXT=ab\0cd\r\n"s, {.text = "ab"}},
        {"in a profile line",
         "[KELDAN]\r\nSET QTH OSLO 59.9,10.7\0\r\nSET QTH PARIS 1,2\r\n"s,
         {.location = "OSLO"}},
        {"in a header name", "[CUST\0OM]\r\nVOKSENS=0.5\r\n"s, {}},
        {"before a header", "\0[CUSTOM]\r\nVOKSENS=0.5\r\n"s, {}},
    });
}

TEST_F(ConfigTest, DefaultLocationAppliesEveryTime) {
    ReadText("");
    EXPECT_STREQ(settings.locationName, "LONDON");
    // A second read must find the default text unchanged by the first one's upper-casing.
    settings.locationName[0] = '\0';
    ReadText("[CUSTOM]\r\nQTH=,1,2\r\n");
    EXPECT_STREQ(settings.locationName, "LONDON");
    ReadText("[CUSTOM]\r\nQTH=Oslo\r\n");
    EXPECT_STREQ(settings.locationName, "OSLO");
}

TEST_F(ConfigTest, ReadingClearsTheChartTextFirst) {
    std::strcpy(settings.chartText, "left over");
    ReadText("[CUSTOM]\r\nVOKCOLOR=1\r\n");
    EXPECT_STREQ(settings.chartText, "");
}

// ---- CUSTOM lines ----------------------------------------------------------------------------

TEST_F(ConfigTest, CustomLines) {
    const std::string h = "[CUSTOM]\r\n";
    RunFileCases({
        {"spaces around the equals sign", h + "VOKSENS = 0.5\r\n", {.sensitivity = 0.5f}},
        {"doubled equals sign", h + "VOKSENS==0.5\r\n", {.sensitivity = 0.5f}},
        {"equals, space, equals and trailing space",
         h + "VOKSENS= = 0.5 \r\n",
         {.sensitivity = 0.5f}},
        {"space in front skips the line", h + " VOKSENS=0.5\r\n", {}},
        {"slash in front skips the line", h + "/VOKSENS=0.5\r\n", {}},
        {"comment skips the line", h + "// VOKSENS=0.5\r\n", {}},
        {"no equals sign skips the line", h + "VOKSENS 0.5\r\n", {}},
        {"empty line is skipped", h + "\r\nVOKSENS=0.5\r\n", {.sensitivity = 0.5f}},
        {"empty key acts as OVERSEAS", h + "=9\r\n", {.spacing = 9}},
        {"keys in any case", h + "vokcolor=1\r\n", {.colour = 1}},
        {"later line wins", h + "VOKCOLOR=1\r\nVOKCOLOR=0\r\n", {}},
        {"text value trimmed, inner spaces kept",
         h + "VOKTEXT=  Hello  World  \r\n",
         {.text = "Hello  World"}},
        {"only the first equals sign splits", h + "VOKTEXT=a=b\r\n", {.text = "a=b"}},
        {"empty value", h + "VOKTEXT=   \r\n", {}},
        {"a place", h + "QTH=Paris,48.9,2.35\r\n", {.location = "PARIS"}},
        {"an empty place name gets the default", h + "QTH=Paris,48.9,2.35\r\nQTH=,1,2\r\n", {}},
        {"all keys together",
         h + "USER=me\r\nVOKTEXT=Night Watch\r\nVOKSENDER=x\r\nQTH=Oslo,59.9,10.7\r\n"
             "VOKSENS=0.25\r\nVOKCOLOR=2\r\nOVERSEAS=9\r\nVOK=1\r\n",
         {.spacing = 9,
          .sensitivity = 0.25f,
          .colour = 2,
          .text = "Night Watch",
          .location = "OSLO"}},
    });
}

// ---- Keys ------------------------------------------------------------------------------------

struct KeyCase {
    const char* key;
    std::string value;
    Expect want;
};

TEST_F(ConfigTest, ApplySettingKeys) {
    const std::string long200(200, 'x');
    const KeyCase cases[] = {
        {"VOKSENS", "0.5", {.sensitivity = 0.5f}},
        {"VOKSENS", "0.1", {}},
        {"VOKSENS", "0.11", {.sensitivity = 0.11f}},
        {"VOKSENS", "1", {}},
        {"VOKSENS", "1.5", {}},
        {"VOKSENS", "-0.5", {}},
        {"VOKSENS", "0", {}},
        {"VOKSENS", "abc", {}},
        {"VOKSENS", "nan", {}},
        {"VOKSENS", "inf", {}},
        {"VOKSENS", "1e300", {}},
        {"VOKSENS", "1e-300", {}},
        // Above 0.1 in double precision but equal to it in single precision.
        {"VOKSENS", "0.10000000149", {}},
        {"VOKSENS", "0.1000001", {.sensitivity = 0.1000001f}},
        {"OVERSEAS", "10", {}},
        {"OVERSEAS", "9", {.spacing = 9}},
        {"OVERSEAS", "11", {.spacing = 9}},
        {"OVERSEAS", "0", {.spacing = 9}},
        {"OVERSEAS", "", {.spacing = 9}},
        {"OVERSEAS", "10khz", {}},
        // 2^32 + 10 must not wrap around to 10.
        {"OVERSEAS", "4294967306", {.spacing = 9}},
        {"SEA", "9", {.spacing = 9}},
        {"OVER", "9", {.spacing = 9}},
        {"S", "9", {.spacing = 9}},
        {"", "9", {.spacing = 9}},
        {"overseas", "9", {.spacing = 9}},
        {"OCEAN", "9", {}},
        {"OVERSEASX", "9", {}},
        {"VOKCOLOR", "0", {}},
        {"VOKCOLOR", "abc", {}},
        {"VOKCOLOR", "1", {.colour = 1}},
        {"VOKCOLOR", "7", {.colour = 7}},
        {"VOKCOLOR", "-3", {.colour = -3}},
        // 2^32 saturates as it would in 32 bits instead of wrapping to the plain ramp.
        {"VOKCOLOR", "4294967296", {.colour = INT_MAX}},
        {"VOKCOLOR", "-4294967296", {.colour = INT_MIN}},
        {"vokcolor", "1", {.colour = 1}},
        {"VOKTEXT", "Mixed Case", {.text = "Mixed Case"}},
        {"voktext", "abc", {.text = "abc"}},
        {"VOKTEXT", long200, {.text = long200.substr(0, 127)}},
        {"QTH", "Paris,48.9,2.35", {.location = "PARIS"}},
        {"QTH", "lemmenjoki", {.location = "LEMMENJOKI"}},
        {"QTH", "LEMON,1,2", {.location = "LEMMENJOKI"}},
        {"QTH", "Oslo", {.location = "OSLO"}},
        {"QTH", ",51.5,0.1", {.location = ""}},
        {"QTH", "London ,51.5,0.1", {.location = "LONDON "}},
        {"qth", "Oslo", {.location = "OSLO"}},
        {"USER", "9", {.location = "KEEP"}},
        {"VOKSENDER", "9", {.location = "KEEP"}},
        {"VOK", "9", {.location = "KEEP"}},
        {"VOKS", "0.5", {.location = "KEEP"}},
        {"QTH", "", {.location = "KEEP"}},
    };
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(std::string(c.key) + "=" + c.value);
        StartFresh();
        std::strcpy(settings.locationName, "KEEP");
        std::string key = c.key;
        std::string value = c.value;
        ApplySetting(&settings, key.data(), value.data());
        // Keys never apply the default location: where a case names none, the old one stays.
        Expect want = c.want;
        if (want.location == Expect{}.location) want.location = "KEEP";
        ExpectSettings(want);
    }
}

TEST_F(ConfigTest, ApplySettingUpperCasesInPlaceButKeepsTheChartText) {
    char key[] = "qth";
    char value[] = "Oslo,59.9,10.7";
    ApplySetting(&settings, key, value);
    EXPECT_STREQ(key, "QTH");
    EXPECT_STREQ(value, "OSLO,59.9,10.7");
    char textKey[] = "VokText";
    char text[] = "Night Watch";
    ApplySetting(&settings, textKey, text);
    EXPECT_STREQ(text, "Night Watch");
    EXPECT_STREQ(settings.chartText, "Night Watch");
}

TEST_F(ConfigTest, ParseQth) {
    struct Case {
        std::string value;
        int result;
        std::string name;
    };
    const std::string longName(100, 'N');
    // 256 characters: cut to 255, the longitude after the last comma is lost.
    const std::string cutValue = "A," + std::string(252, '1') + ",1";
    const Case cases[] = {
        {"PARIS,48.9,2.35", 1, "PARIS"},
        {"OSLO", 0, "OSLO"},
        {"OSLO,", 0, "OSLO"},
        {"OSLO,59.9", 0, "OSLO"},
        {"OSLO,59.9,", 0, "OSLO"},
        {"OSLO,,10.7", 1, "OSLO"},
        {"OSLO,59.9,10.7,EXTRA", 1, "OSLO"},
        {"LEMON", 1, "LEMMENJOKI"},
        {"LEM,1", 1, "LEMMENJOKI"},
        {"lemon,1,2", 1, "lemon"},  // ParseQth itself does not change the case
        {"  BERLIN,1,2", 1, "BERLIN"},
        {"LONDON ,51.5,0.1", 1, "LONDON "},
        {",1,2", 1, ""},
        {"", 0, "KEEP"},
        {longName + ",1,2", 1, longName.substr(0, 79)},
        {cutValue, 0, "A"},
        {"A," + std::string(251, '1') + ",1", 1, "A"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        std::strcpy(settings.locationName, "KEEP");
        Outcome parsed = ParseQth(&settings, c.value.c_str());
        EXPECT_EQ(parsed.kind, c.result == 1 ? FailureKind::None : FailureKind::IncompleteLocation);
        EXPECT_EQ(std::string(settings.locationName), c.name);
    }
}

TEST_F(ConfigTest, NextCommaToken) {
    struct Case {
        std::string text;
        std::vector<std::string> parts;  // three calls
    };
    const Case cases[] = {
        {"A,B,C", {"A", "B", "C"}}, {"  A , B", {"A ", "B", ""}}, {"", {"", "", ""}},
        {"A", {"A", "", ""}},       {",,", {"", "", ""}},         {"A,,B", {"A", "", "B"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string text = c.text;
        char* cursor = text.data();
        for (const std::string& part : c.parts)
            EXPECT_EQ(std::string(NextCommaToken(&cursor)), part);
        EXPECT_EQ(*cursor, '\0');
    }
}

TEST_F(ConfigTest, UpperCaseTouchesOnlyAsciiLetters) {
    char text[] = "abz AZ 09 [~] \xe9\xc3\xa9";
    UpperCaseInPlace(text);
    EXPECT_STREQ(text, "ABZ AZ 09 [~] \xe9\xc3\xa9");
}

// ---- Profile lines ---------------------------------------------------------------------------

TEST_F(ConfigTest, ProfileLineKeywords) {
    struct Case {
        const char* line;
        int answer;
        const char* location;  // "KEEP" when the line leaves it alone
    };
    const Case cases[] = {
        {"", 0, "KEEP"},
        {"SET MW", 0, "KEEP"},
        {"set mw", 0, "KEEP"},
        {"   SET MW", 0, "KEEP"},
        {"SET MW 1 2 3 4 5", 0, "KEEP"},
        {"SET MIRANTEL", 0, "KEEP"},
        {"SET EU 1", 0, "KEEP"},
        {"SET ATT 10", 0, "KEEP"},
        {"SET SUFFIX X", 0, "KEEP"},
        {"SET OVERFLOW", 0, "KEEP"},
        {"SET 7100", 0, "KEEP"},
        {"SET 0missing", 0, "KEEP"},
        {"    ", 1, "KEEP"},
        {"// note", 0, "KEEP"},
        {"//", 0, "KEEP"},
        {"/ note", 1, "KEEP"},
        {"SETX MW", 1, "KEEP"},
        {"MW", 1, "KEEP"},
        {"SET QTH OSLO 59.9,10.7", 0, "OSLO"},
        {"set qth oslo 59.9,10.7", 0, "OSLO"},
        {"SET  QTH   OSLO  59.9,10.7", 0, "OSLO"},
        {"SET QTH OSLO 59.9,10.7 EXTRA", 0, "OSLO"},
        {"SET QTH OSLO", 1, "OSLO"},  // the location text is OSLO,SET
        {"SET QTH PARIS 48.9", 1, "PARIS"},
        {"SET QTH LEMMENJOKI", 0, "LEMMENJOKI"},
        {"SET QTH ABCDEFGHIJKLMNOPQRSTUVWXYZ 59.9,10.7", 0, "ABCDEFGHIJKLMNOPQRSTUVWXYZ"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        std::strcpy(settings.locationName, "KEEP");
        ProfileSection section{&settings, "/before"};
        std::string line = c.line;
        ReportedLines reported;
        EXPECT_EQ(Answer(HandleProfileLine(line.data(), &section)), c.answer);
        EXPECT_EQ(reported.text(), "");
        EXPECT_STREQ(settings.locationName, c.location);
        EXPECT_EQ(section.ProfileFolder, "/before");
    }
}

TEST_F(ConfigTest, ProfileLinePaths) {
    TempDir dir("talvor-config");
    MakeDirs(dir / "LogData");
    MakeDirs(dir / "My Logs Here");
    MakeDirs(dir / "A  B\"");
    WriteFileBytes(dir / "plain.txt", "x");
    struct Case {
        std::string line;
        int answer;
        std::string folder;   // ProfileFolder afterwards
        std::string message;  // the path in the message, empty for none
    };
    const std::string d = dir.path();
    const Case cases[] = {
        {"SET " + d + "/LogData", 0, d + "/LogData", ""},
        {"set " + d + "/LogData shift", 0, d + "/LogData", ""},
        {"SET " + d + "/logdata", 1, "/before", d + "/logdata"},
        {"SET " + d + "/plain.txt", 0, d + "/plain.txt", ""},
        {"SET \"" + d + "/My Logs Here\" NODAY", 0, d + "/My Logs Here", ""},
        {"SET \"" + d + "/My Logs Here", 0, d + "/My Logs Here", ""},
        // Two spaces in a row: the path runs on to the end of the next word, quote and all.
        {"SET \"" + d + "/A  B\" SHIFT19", 0, d + "/A  B\"", ""},
        {"SET " + d + "/Missing", 1, "/before", d + "/Missing"},
        {"SET \"" + d + "/Not There\"", 1, "/before", d + "/Not There"},
        {"SET \"\"", 1, "/before", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        ProfileSection section{&settings, "/before"};
        std::string line = c.line;
        ReportedLines reported;
        Outcome handled = HandleProfileLine(line.data(), &section);
        EXPECT_EQ(Answer(handled), c.answer);
        std::string err = reported.text();
        EXPECT_EQ(section.ProfileFolder, c.folder);
        if (!handled) {
            EXPECT_EQ(handled.kind, FailureKind::NoSuchPath);
        }
        if (c.answer == 1) {
            EXPECT_NE(err.find("[KELDAN] : \"" + c.message + "\" DOES NOT EXIST"),
                      std::string::npos)
                << err;
        } else {
            EXPECT_EQ(err, "");
        }
    }
}

TEST_F(ConfigTest, ProfileLineRelativePathsAndSetAlone) {
    TempDir dir("talvor-config");
    MakeDirs(dir / "Logs");
    ScopedWorkingDir inside(dir.path());
    ProfileSection section{&settings, "/before"};
    std::string line = "SET Logs";
    EXPECT_EQ(Answer(HandleProfileLine(line.data(), &section)), 0);
    EXPECT_EQ(section.ProfileFolder, "Logs");
    // SET alone reads its own first word as the path.
    for (const std::string alone : {"SET", "Set", "  set"}) {
        SCOPED_TRACE(alone);
        std::string line = alone;
        ReportedLines reported;
        EXPECT_EQ(Answer(HandleProfileLine(line.data(), &section)), 1);
        std::string err = reported.text();
        EXPECT_NE(err.find("[KELDAN] : \"" + alone + "\" DOES NOT EXIST"), std::string::npos)
            << err;
        EXPECT_EQ(section.ProfileFolder, "Logs");
    }
}

TEST_F(ConfigTest, ProfileSectionSetsTheDataFolder) {
    TempDir dir("talvor-config");
    MakeDirs(dir / "First");
    MakeDirs(dir / "Second");
    MakeDirs(dir / "a[b]");
    const std::string d = dir.path();
    struct Case {
        const char* name;
        std::string text;
        std::string dataFolder;
        std::string location;
        int messages;
    };
    const Case cases[] = {
        {"an existing path", "[KELDAN]\r\nSET " + d + "/First\r\n", d + "/First", "LONDON", 0},
        {"the later path wins",
         "[KELDAN]\r\nSET " + d + "/First\r\nSET \"" + d + "/Second\" NODAY\r\n", d + "/Second",
         "LONDON", 0},
        {"a missing path stops and keeps the earlier one",
         "[KELDAN]\r\nSET " + d + "/First\r\nSET " + d + "/Gone\r\nSET " + d +
             "/Second\r\nSET QTH OSLO 59.9,10.7\r\n",
         d + "/First", "LONDON", 1},
        {"no accepted path keeps the default", "[KELDAN]\r\nSET " + d + "/Gone\r\n",
         kDefaultDataFolder, "LONDON", 1},
        {"a bracket in the path cuts the line before it", "[KELDAN]\r\nSET " + d + "/a[b]\r\n",
         d + "/", "LONDON", 0},
        {"a path line long beyond 31 characters",
         "[CUSTOM]\r\nQTH=Oslo,1,2\r\n[KELDAN]\r\n// " + std::string(60, '-') + "\r\nSET " + d +
             "/First\r\n",
         d + "/First", "OSLO", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartFresh();
        ReportedLines reported;
        ReadText(c.text);
        std::string err = reported.text();
        EXPECT_EQ(runPaths.DataFolder, c.dataFolder);
        EXPECT_STREQ(settings.locationName, c.location.c_str());
        size_t count = 0;
        for (size_t at = err.find("DOES NOT EXIST"); at != std::string::npos;
             at = err.find("DOES NOT EXIST", at + 1)) {
            ++count;
        }
        EXPECT_EQ(count, size_t(c.messages)) << err;
    }
}

TEST(SunMarkers, QthCoordinatesAreReadFromTheLocation) {
    struct Case {
        const char* qth;
        bool given;
        double latitude, longitude;
    };
    const Case cases[] = {
        {"PARIS,48.9,2.35", true, 48.9, 2.35}, {"SYDNEY, -33.87, 151.21", true, -33.87, 151.21},
        {"LEMMENJOKI", true, 68.7, 26.0},      {"OSLO", false, 51.5, 0.1},
        {"NOWHERE,91,0", false, 51.5, 0.1},    {"NOWHERE,45,181", false, 51.5, 0.1},
        {"NOWHERE,N45,E10", false, 51.5, 0.1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.qth);
        Settings settings;
        ParseQth(&settings, c.qth);
        EXPECT_EQ(settings.coordinatesGiven, c.given);
        EXPECT_DOUBLE_EQ(settings.latitude, c.latitude);
        EXPECT_DOUBLE_EQ(settings.longitude, c.longitude);
    }
}

}  // namespace
