// SPDX-License-Identifier: GPL-3.0-or-later
// The archive's site writer: text escaping, the station list, the levels the pages decode, the
// day digest, the folder's manifest rules, and whole sites written and updated from days that
// are drawn here as plain frames (no OpenGL).
#include "site/site.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "daylog/day_log.h"
#include "frame/frame_bitmap.h"
#include "platform/folder_files.h"
#include "render/chart.h"
#include "render/level_field.h"
#include "site/day_chart.h"
#include "site/day_digest.h"
#include "site/site_feed.h"
#include "site/site_folder.h"
#include "site/site_pages.h"
#include "site/site_text.h"
#include "site/station_list.h"
#include "test_support.h"

using namespace talvor;

namespace fs = std::filesystem;
using namespace std::chrono;

namespace {

// ---- Text ---------------------------------------------------------------------------------

TEST(SiteText, HtmlEscapesEveryMarkupCharacterAndReadsLatin1) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"LONDON", "LONDON"},
        {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
        {"a & b \"c\" 'd'", "a &amp; b &quot;c&quot; &#39;d&#39;"},
        {"K\xC3\xB6ln", "K\xC3\xB6ln"},  // UTF-8 stays
        {"K\xF6ln", "K\xC3\xB6ln"},      // Latin-1 becomes UTF-8
    };
    for (const Case& c : cases) EXPECT_EQ(EscapeHtml(c.in), c.out) << c.in;
}

TEST(SiteText, ScriptStringsCannotEndTheirScriptOrCarryMarkup) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"Radio", "\"Radio\""},
        {"</script><b>", "\"\\u003c/script\\u003e\\u003cb\\u003e\""},
        {"say \"hi\"\\", "\"say \\\"hi\\\"\\\\\""},
        {"a\nb\x01", "\"a\\u000ab\\u0001\""},
        {"x\xE2\x80\xA8y", "\"x\\u2028y\""},
        {"\xE9t\xE9", "\"\xC3\xA9t\xC3\xA9\""},
    };
    for (const Case& c : cases) EXPECT_EQ(JsString(c.in), c.out) << c.in;
}

TEST(SiteText, Base64OfEachPaddingLength) {
    struct Case {
        std::string in, out;
    } cases[] = {{"", ""},        {"f", "Zg=="},        {"fo", "Zm8="},
                 {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"\xFF\xFE\xFD", "//79"}};
    for (const Case& c : cases) {
        EXPECT_EQ(Base64(reinterpret_cast<const unsigned char*>(c.in.data()), c.in.size()), c.out);
    }
}

// ZeroMQ's own example ("HelloWorld"), and a last group of each length, read by Ascii85's rule.
TEST(SiteText, Base85OfEachLastGroup) {
    struct Case {
        std::string in, out;
    } cases[] = {{"", ""},
                 {"\x86\x4F\xD2\x6F\xB5\x59\xF7\x5B", "HelloWorld"},
                 {"\x86\x4F\xD2\x6F\xB5", "HelloWe"},
                 {std::string(1, '\0'), "00"},
                 {"\xFF", "@@"},
                 {"\xFF\xFF", "%nJ"},
                 {"\xFF\xFF\xFF", "%nS9"},
                 {"\xFF\xFF\xFF\xFF", "%nSc0"}};
    for (const Case& c : cases) {
        EXPECT_EQ(Base85(reinterpret_cast<const unsigned char*>(c.in.data()), c.in.size()), c.out);
    }
}

// ---- Station list -------------------------------------------------------------------------

TEST(StationList, ReadsStationsAndCountsTheLinesItSkips) {
    std::string csv =
        "# kHz,name,place\n"                                 // 1 comment
        "1215,Absolute Radio,London\n"                       // 2
        "\n"                                                 // 3 blank
        "1000, Night Radio , Somewhere,18:00-02:30 UTC\r\n"  // 4
        "999x,Bad,Place\n"                                   // 5 bad kHz
        "1700,Edge,\n"                                       // 6 empty place is fine
        "1701,Too high,X\n"                                  // 7 bad
        "1000,,Nameless\n"                                   // 8 bad
        "900,Hours,X,25:00-01:00\n"                          // 9 bad hours
        "900,<script>x</script>,X,06:00-06:00\n"             // 10 bad: no time on air
        "909,Two,Fields\n"                                   // 11
        "909,Five,Fields,01:00-02:00,extra\n";               // 12 bad
    StationList list = ParseStationList(csv);
    ASSERT_EQ(list.stations.size(), 4u);
    EXPECT_EQ(list.badLines, (std::vector<int>{5, 7, 8, 9, 10, 12}));
    struct Expected {
        int khz;
        const char* name;
        const char* place;
        int on, off;
    } expected[] = {{1215, "Absolute Radio", "London", -1, -1},
                    {1000, "Night Radio", "Somewhere", 18 * 60, 2 * 60 + 30},
                    {1700, "Edge", "", -1, -1},
                    {909, "Two", "Fields", -1, -1}};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(list.stations[i].khz, expected[i].khz);
        EXPECT_EQ(list.stations[i].name, expected[i].name);
        EXPECT_EQ(list.stations[i].place, expected[i].place);
        EXPECT_EQ(list.stations[i].onMinute, expected[i].on);
        EXPECT_EQ(list.stations[i].offMinute, expected[i].off);
    }
}

TEST(StationList, FieldsMayBeQuotedAsRfc4180Does) {
    struct Case {
        const char* line;
        const char* name;  // nullptr: the line is skipped
        const char* place;
        int on;
    } cases[] = {
        {"1080,\"Radio \"\"Nord\"\", Ouest\",Brest", "Radio \"Nord\", Ouest", "Brest", -1},
        {"1080, \"A, B\" ,\"\",\"18:00-02:30 UTC\"", "A, B", "", 18 * 60},
        {"\"1080\",\"  kept  \",X", "  kept  ", "X", -1},
        {"1080,Say \"hi\",X", "Say \"hi\"", "X", -1},  // not quoted: read as it stands
        {"1080,\"never closed,X", nullptr, "", 0},
        {"1080,\"A\"B,X", nullptr, "", 0},
        {"1080,\"A,B\",X,01:00-02:00,more", nullptr, "", 0},
    };
    for (const Case& c : cases) {
        StationList list = ParseStationList(c.line);
        ASSERT_EQ(list.stations.size(), c.name ? 1u : 0u) << c.line;
        if (!c.name) continue;
        EXPECT_EQ(list.stations[0].name, c.name);
        EXPECT_EQ(list.stations[0].place, c.place);
        EXPECT_EQ(list.stations[0].onMinute, c.on);
    }
}

TEST(StationList, ScriptHoldsNamesOnlyAsStringLiterals) {
    StationList list = ParseStationList("1000,<script>alert(1)</script>,\"\"\"Town\"\"\"\n");
    std::string script = StationListScript(list, "csv");
    EXPECT_EQ(script.find("<script>"), std::string::npos);
    EXPECT_NE(
        script.find("{\"khz\":1000,\"name\":\"\\u003cscript\\u003ealert(1)\\u003c/script\\u003e\","
                    "\"place\":\"\\\"Town\\\"\",\"on\":-1,\"off\":-1}"),
        std::string::npos)
        << script;
}

// ---- Records ------------------------------------------------------------------------------

// count records of a day, one a minute from 00:00, with levels from level(k, kHz).
std::vector<unsigned char> MakeRecords(int count, int32_t (*level)(int, int),
                                       const char* date = "2026-12-01") {
    std::vector<unsigned char> bytes(size_t(count) * kDayLogRecordSize, 0);
    for (int k = 0; k < count; ++k) {
        DayLogRecord* r = bytes.data() + size_t(k) * kDayLogRecordSize;
        SetMinute(r, k % 60);
        char text[32];
        std::snprintf(text, sizeof text, "%s %02d:%02d", date, k / 60, k % 60);
        SetTimeText(r, text);
        for (int f = 520; f <= 1700; ++f) SetLevel(r, f, level(k, f));
    }
    return bytes;
}

int32_t Ramp(int k, int f) {
    return (k * 7 + f * 3) % 256;
}

TEST(DayLevels, EveryLevelComesBackExactlyIncludingThoseOutsideAByte) {
    struct Case {
        int record, khz;
        int32_t level;
    } planted[] = {{0, 520, 0},    {0, 1700, 255}, {3, 1003, 256},   {5, 540, 1000},
                   {5, 541, 1001}, {9, 999, -3},   {9, 1000, 123456}};
    std::vector<unsigned char> bytes = MakeRecords(12, Ramp);
    RecordSpan span{bytes.data(), 12};
    for (const Case& c : planted) {
        SetLevel(bytes.data() + size_t(c.record) * kDayLogRecordSize, c.khz, c.level);
    }
    EncodedLevels encoded;
    ASSERT_TRUE(EncodeLevels(span, &encoded));
    EXPECT_EQ(encoded.outside.size(), 5u);
    std::vector<int32_t> levels;
    ASSERT_TRUE(DecodeLevels(encoded, 12, &levels));
    for (int k = 0; k < 12; ++k) {
        for (int f = 520; f <= 1700; ++f) {
            ASSERT_EQ(levels[size_t(k * kBandKhzCount + f - kBandFirstKhz)], LevelAt(span.At(k), f))
                << k << " " << f;
        }
    }
}

TEST(DayLevels, AFullLoggedDayStaysWithinThePageBudget) {
    // As talvor-log writes a day: the minute's median is level 0, so about half the band is 0;
    // above it some steps of noise in every kHz, and carriers on the 10 kHz channels.
    std::vector<unsigned char> bytes = MakeRecords(1440, [](int k, int f) -> int32_t {
        uint32_t h = uint32_t(k) * 2654435761u ^ uint32_t(f) * 40503u;
        h ^= h >> 13;
        h *= 0x5bd1e995u;
        h ^= h >> 15;
        if (f % 10 == 0) return int32_t(120 + (k / 30) % 60 + h % 4);
        return h % 2 == 0 ? 0 : int32_t(1 + (h >> 1) % 9);
    });
    EncodedLevels encoded;
    ASSERT_TRUE(EncodeLevels({bytes.data(), 1440}, &encoded));
    size_t packed = 0;
    for (const std::vector<unsigned char>& stream : encoded.streams) packed += stream.size();
    EXPECT_LT(packed, 700u * 1000u);
}

TEST(DayDigest, QuarterHoursSunAndClocksComeFromTheRecords) {
    std::vector<unsigned char> bytes = MakeRecords(1440, [](int, int) -> int32_t { return 51; });
    auto record = [&](int k) { return bytes.data() + size_t(k) * kDayLogRecordSize; };
    SetMarkerKind(record(7 * 60 + 58), 2);  // sunrise
    SetMarkerKind(record(16 * 60 + 3), 1);  // sunset
    SetMarkerKind(record(21 * 60), -1);     // New York: neither
    for (int f = 520; f <= 1700; ++f) SetLevel(record(12 * 60 + 15), f, 255);
    SetMinute(record(13 * 60), 7);  // not a quarter hour by its minute field
    SetTimeText(record(100), "no clock here");
    RecordSpan span{bytes.data(), 1440};
    DayDigest digest = DigestDay(span);
    EXPECT_EQ(digest.records, 1440);
    EXPECT_EQ(digest.sunrise, 7 * 60 + 58);
    EXPECT_EQ(digest.sunset, 16 * 60 + 3);
    EXPECT_EQ(digest.activity[0], 20);
    EXPECT_EQ(digest.activity[12 * 4 + 1], 100);
    EXPECT_EQ(digest.activity[13 * 4], 0);
    EXPECT_EQ(RecordClocks(span).substr(100 * 5, 5), "01:40");  // by its place in the log
    EXPECT_EQ(RecordClocks(span).substr(1439 * 5, 5), "23:59");

    DayDigest back;
    ASSERT_TRUE(ParseDigestText(DigestText(digest), &back));
    EXPECT_EQ(DigestText(back), DigestText(digest));
    for (const char* bad :
         {"", "records 5\n", "records 2000\nsunrise -1\nsunset -1\nactivity 1", "bogus 1\n"}) {
        EXPECT_FALSE(ParseDigestText(bad, &back)) << bad;
    }
}

// ---- The folder and its manifest -------------------------------------------------------------

TEST(SiteFolder, WritesOnlyWhereNothingStandsOrItsOwnFileDoes) {
    TempDir dir("site");
    {
        SiteFolder site;
        Outcome opened = OpenSiteFolder(dir.path(), &site);
        ASSERT_TRUE(opened) << opened.reason;
        WriteFileBytes(dir / "mine.html", "old");
        WriteFileBytes(dir / "theirs.html", "keep");
        MakeDirs(dir / "folder.html");
        ASSERT_EQ(symlink((dir / "theirs.html").c_str(), (dir / "link.html").c_str()), 0);
        MakeDirs(dir / "real");
        ASSERT_EQ(symlink((dir / "real").c_str(), (dir / "linked").c_str()), 0);
        WriteFileBytes(dir / "plain", "x");
        site.owned = {"mine.html", "link.html", "folder.html"};
        struct Case {
            const char* name;
            bool allowed;
        } cases[] = {{"new.html", true},     {"mine.html", true},     {"theirs.html", false},
                     {"folder.html", false}, {"link.html", false},    {"linked/a.html", false},
                     {"real/a.html", true},  {"plain/a.html", false}, {"../out.html", false},
                     {"/etc/passwd", false}, {"a//b", false}};
        for (const Case& c : cases) EXPECT_EQ(bool(MayWrite(site, c.name)), c.allowed) << c.name;

        ReportedLines reported;
        EXPECT_FALSE(PutSiteFile(&site, "theirs.html", std::string("new")));
        EXPECT_NE(reported.text().find("theirs.html: a file this program did not write"),
                  std::string::npos)
            << reported.text();
        EXPECT_EQ(ReadFileBytes(dir / "theirs.html"), "keep");
        EXPECT_TRUE(PutSiteFile(&site, "mine.html", std::string("new")));
        EXPECT_EQ(ReadFileBytes(dir / "mine.html"), "new");
        EXPECT_TRUE(PutSiteFile(&site, "deep/er/page.html", std::string("p")));
        ASSERT_TRUE(SaveManifest(&site));
    }
    SiteFolder again;
    Outcome opened = OpenSiteFolder(dir.path(), &again);
    ASSERT_TRUE(opened) << opened.reason;
    EXPECT_EQ(again.owned, (std::set<std::string>{"deep/er/page.html", "folder.html", "link.html",
                                                  "mine.html"}));
}

TEST(SiteFolder, OneRunAtATimeWritesASite) {
    TempDir dir("site");
    auto first = std::make_unique<SiteFolder>();
    ASSERT_TRUE(OpenSiteFolder(dir.path(), first.get()));
    SiteFolder second;
    EXPECT_EQ(OpenSiteFolder(dir.path(), &second, 300).reason, "another run is writing it");
    first.reset();
    Outcome opened = OpenSiteFolder(dir.path(), &second, 0);
    EXPECT_TRUE(opened) << opened.reason;
}

TEST(SiteFolder, AnUnchangedFileIsNotWrittenAgain) {
    TempDir dir("site");
    SiteFolder site;
    ASSERT_TRUE(OpenSiteFolder(dir.path(), &site));
    ASSERT_TRUE(PutSiteFile(&site, "a.js", std::string("same")));
    struct stat before {};
    ASSERT_EQ(stat((dir / "a.js").c_str(), &before), 0);
    ASSERT_TRUE(PutSiteFile(&site, "a.js", std::string("same")));
    struct stat after {};
    ASSERT_EQ(stat((dir / "a.js").c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);  // a rewrite renames a new file into place
}

TEST(SiteFolder, RefusesWhatCannotHoldASite) {
    TempDir dir("site");
    WriteFileBytes(dir / "file", "x");
    MakeDirs(dir / "foreign");
    WriteFileBytes(dir / (std::string("foreign/") + kManifestName), "my own notes\n");
    // A link given as the site is followed, as tools follow the folders they are given.
    MakeDirs(dir / "real");
    ASSERT_EQ(symlink((dir / "real").c_str(), (dir / "linked").c_str()), 0);
    ASSERT_EQ(symlink((dir / "file").c_str(), (dir / "linked-file").c_str()), 0);
    struct Case {
        std::string path;
        bool opens;
    } cases[] = {{dir / "file", false},   {dir / "missing/deeper", false}, {dir / "foreign", false},
                 {dir / "new", true},     {dir.path() + "/", true},        {dir / "linked", true},
                 {dir / "linked/", true}, {dir / "linked-file", false}};
    for (const Case& c : cases) {
        SiteFolder site;
        Outcome opened = OpenSiteFolder(c.path, &site);
        EXPECT_EQ(bool(opened), c.opens) << c.path << ": " << opened.reason;
        if (!c.opens) {
            EXPECT_FALSE(opened.reason.empty());
        }
    }
    EXPECT_EQ(ReadFileBytes(dir / (std::string("foreign/") + kManifestName)), "my own notes\n");
}

// ---- Pages --------------------------------------------------------------------------------

TEST(SitePages, MonthCalendarsStartOnMondayAndLinkOnlyLoggedDays) {
    SiteLook look{"LONDON", 1920, 1500};
    // December 2026 begins on a Tuesday, February 2027 on a Monday.
    std::vector<sys_days> days = {sys_days{2026y / 12 / 1}, sys_days{2026y / 12 / 31},
                                  sys_days{2027y / 2 / 14}};
    std::string index = IndexHtml(days, look);
    EXPECT_LT(index.find("February 2027"), index.find("December 2026"));  // newest first
    size_t december = index.find("<section class=\"month\" id=\"m2026-12\">");
    ASSERT_NE(december, std::string::npos);
    auto firstCells = [&](size_t month) {
        return index.substr(index.find("<tbody>\n<tr>", month) + 12, 40);
    };
    EXPECT_EQ(firstCells(december), "<td class=\"pad\"></td><td class=\"logged\">");
    size_t february = index.find("id=\"m2027-02\"");
    EXPECT_EQ(firstCells(february), "<td class=\"empty\"><span class=\"date\">1</");
    size_t links = 0;
    for (size_t at = 0; (at = index.find("/index.html\" title=", at)) != std::string::npos; ++at) {
        ++links;
    }
    EXPECT_EQ(links, 3u);
    for (const char* day :
         {"2026-12-01/thumb.png", "2026-12-31/strip.png", "2027-02-14/thumb.png"}) {
        EXPECT_NE(index.find(day), std::string::npos) << day;
    }
    EXPECT_EQ(index.find("2026-12-02/"), std::string::npos);
}

TEST(SitePages, PropagationCalendarDrawsSunLinesOnlyThroughDaysThatHaveThem) {
    SiteLook look{"<b>X</b>", 1920, 1500};
    DayDigest a, b, c;
    a.sunrise = 480, b.sunrise = 482, c.sunrise = 490;
    a.sunset = 960;
    std::map<int, DayDigest> days = {{1, a}, {2, b}, {4, c}};
    std::string page = MonthPageHtml(2026y / 12, days, look);
    EXPECT_NE(page.find("<polyline class=\"sunrise\" points=\"32.00,0.5 32.13,1.5\""),
              std::string::npos);
    EXPECT_NE(page.find("<polyline class=\"sunrise\" points=\"32.67,3.0 32.67,4.0\""),
              std::string::npos);
    EXPECT_NE(page.find("<polyline class=\"sunset\" points=\"64.00,0.0 64.00,1.0\""),
              std::string::npos);
    EXPECT_EQ(page.find("<b>X</b>"), std::string::npos);
    EXPECT_NE(page.find("&lt;b&gt;X&lt;/b&gt;"), std::string::npos);
}

// Each month links the nearest months before and after it that have days; the index names its
// latest day, or says that there is none yet.
TEST(SitePages, MonthsLinkTheirNeighboursAndTheIndexItsLatestDay) {
    SiteLook look{"LONDON", 1920, 1500};
    std::vector<sys_days> days = {sys_days{2027y / 2 / 14}, sys_days{2026y / 10 / 5},
                                  sys_days{2026y / 12 / 1}};
    struct Case {
        year_month month;
        const char* previous;  // its link, or "" for none
        const char* next;
    } cases[] = {
        {2026y / 12, "href=\"../2026-10/index.html\">&larr; October 2026</a>",
         "href=\"../2027-02/index.html\">February 2027 &rarr;</a>"},
        {2026y / 10, "", "href=\"../2026-12/index.html\">December 2026 &rarr;</a>"},
        {2027y / 2, "href=\"../2026-12/index.html\">&larr; December 2026</a>", ""},
        {2026y / 11, "href=\"../2026-10/index.html\">&larr; October 2026</a>",
         "href=\"../2026-12/index.html\">December 2026 &rarr;</a>"},
    };
    for (const Case& c : cases) {
        std::string page = MonthPageHtml(c.month, {}, look, NeighbourMonths(c.month, days));
        std::string name = MonthFolderName(c.month);
        for (auto [rel, link] :
             {std::pair{"rel=\"prev\" ", c.previous}, {"rel=\"next\" ", c.next}}) {
            size_t at = page.find(rel);
            if (*link == '\0') {
                EXPECT_EQ(at, std::string::npos) << name << " " << rel;
            } else {
                EXPECT_EQ(page.compare(at + std::strlen(rel), std::strlen(link), link), 0)
                    << name << ": " << page.substr(at, 120);
            }
        }
    }
    EXPECT_NE(
        IndexHtml(days, look).find("Latest: <a href=\"2027-02-14/index.html\">2027-02-14</a>"),
        std::string::npos);
    std::string empty = IndexHtml({}, look);
    EXPECT_NE(empty.find("No day has been logged yet"), std::string::npos) << empty;
    EXPECT_EQ(empty.find("<table"), std::string::npos);
}

// The page's scripts take the chart's numbers and the station's plan from the day's data: the
// readout names every channel of the plan, the chart draws only some of them.
TEST(SitePages, DayDataCarriesTheChartsNumbersAndTheStationsPlan) {
    std::vector<unsigned char> records = MakeRecords(3, Ramp);
    EncodedLevels levels;
    ASSERT_TRUE(EncodeLevels({records.data(), 3}, &levels));
    struct Case {
        int spacing;
        const char* plan;       // the plan's raster and the first channels drawn
        const char* lastDrawn;  // the end of the channels drawn
        int drawn;
    } cases[] = {
        {10, "\"plan\":{\"spacing\":10,\"first\":520,\"last\":1700,\"drawn\":[530,550,560,",
         ",1670,1680]}", 104},
        {9, "\"plan\":{\"spacing\":9,\"first\":531,\"last\":1701,\"drawn\":[558,567,576,",
         ",1665,1674]}", 113},
        {0, "\"plan\":{\"spacing\":9,\"first\":531,\"last\":1701,\"drawn\":[558,", ",1674]}", 113},
    };
    for (const Case& c : cases) {
        DayDataInput input{sys_days{2026y / 12 / 1}, 1920, 1500, 360, 3, 1.0, 1, c.spacing};
        std::string data = DayDataScript(input, {records.data(), 3}, levels);
        size_t plan = data.find(c.plan);
        ASSERT_NE(plan, std::string::npos) << c.spacing << ": " << data.substr(0, 400);
        size_t end = data.find("]}", plan);
        EXPECT_EQ(
            data.compare(end + 2 - std::strlen(c.lastDrawn), std::strlen(c.lastDrawn), c.lastDrawn),
            0)
            << c.spacing;
        std::string drawn = data.substr(plan, end - plan);
        EXPECT_EQ(std::count(drawn.begin(), drawn.end(), ',') - 3 + 1, c.drawn) << c.spacing;
        for (const char* shared :
             {"\"xOrigin\":360,\"originKhz\":500,\"top\":40,", "\"firstKhz\":520,\"lastKhz\":1700,",
              "\"levelRule\":{\"noiseAbove\":1000,\"top\":255}", "\"clockWidth\":5,",
              "\"clocks\":\"00:0000:0100:02\""}) {
            EXPECT_NE(data.find(shared), std::string::npos) << c.spacing << ": " << shared;
        }
    }
}

// ---- The chart as the page draws it ------------------------------------------------------------

// A frame of width x height in one colour, and its pixels by frame row (top first) and column.
struct PlainFrame {
    FrameBitmap frame;
    std::vector<unsigned char> bits;
    PlainFrame(int width, int height, SpotColour colour) {
        frame.width = width;
        frame.height = height;
        bits.resize(size_t(width) * size_t(height) * 4);
        frame.bits = bits.data();
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) Put(x, y, colour);
        }
    }
    void Put(int x, int y, SpotColour c) {
        unsigned char* p =
            &bits[(size_t(frame.height - 1 - y) * size_t(frame.width) + size_t(x)) * 4];
        p[0] = c.blue;
        p[1] = c.green;
        p[2] = c.red;
        p[3] = 255;
    }
};

// Three channels whose spots write five pixels of their row each, a component v shaded
// v * (p + 1) / 5 at the spot's pixel p; channel 600 kHz at column 100.
SpotTable MadeUpSpots(int width, int height) {
    SpotTable table;
    table.width = width;
    table.height = height;
    for (int khz : {600, 610, 620}) {
        ChannelSpot spot;
        spot.khz = khz;
        spot.x = ChannelX(khz, 0);
        for (int p = 0; p < 5; ++p) {
            spot.pixels.push_back({p - 2, 0});
            spot.shades.emplace_back();
            for (int v = 0; v < 256; ++v) spot.shades.back()[size_t(v)] = uint8_t(v * (p + 1) / 5);
        }
        table.channels.push_back(spot);
    }
    return table;
}

// The overlay holds exactly the frame's pixels that the page's background and field do not
// give: where the field was drawn over, and what lies beside it, not what it shows as drawn.
// (The browser test compares the page's chart with whole frames.)
TEST(DayChart, TheOverlayHoldsWhatTheFieldAndBackgroundDoNotGive) {
    constexpr int kWidth = 160, kHeight = 60, kRows = 12;
    const SpotColour ground{9, 9, 9}, label{255, 255, 255}, marker{255, 255, 0};
    std::vector<unsigned char> records = MakeRecords(kRows, Ramp);
    const SpotTable spots = MadeUpSpots(kWidth, kHeight), elsewhere = MadeUpSpots(kWidth, 50);
    // The frame as drawn: the field on the ground, then a label beside it and a marker over it.
    PlainFrame drawn(kWidth, kHeight, ground);
    LevelFieldImage field;
    BuildLevelFieldImage(spots, PrepareFieldColours(spots, 0.5f, 1), records.data(), 0, kRows,
                         &field);
    for (int row = 0; row < field.height; ++row) {
        for (int x = 0; x < field.width; ++x) {
            const unsigned char* p =
                &field.rgba[(size_t(field.height - 1 - row) * size_t(field.width) + size_t(x)) * 4];
            if (p[3] != 0) drawn.Put(field.left + x, field.top + row, {p[0], p[1], p[2]});
        }
    }
    const int fieldX = ChannelX(610, 0), fieldY = RowY(5);
    drawn.Put(3, 2, label);
    drawn.Put(fieldX, fieldY, marker);
    drawn.Put(fieldX + 1, fieldY, ground);  // the field gives another colour there
    struct Case {
        const char* what;
        const SpotTable* spots;
        std::vector<std::pair<int, int>> opaque;  // x, y; else every pixel not of the ground
    } cases[] = {
        {"the field drawn by the page", &spots, {{3, 2}, {fieldX, fieldY}, {fieldX + 1, fieldY}}},
        {"no field: all that is not ground", nullptr, {}},
        {"spots of another frame size: no field", &elsewhere, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DayChartInput input;
        input.frame = &drawn.frame;
        input.spots = c.spots;
        input.records = {records.data(), kRows};
        input.rows = kRows;
        input.sensitivity = 0.5f;
        input.colourMode = 1;
        std::vector<unsigned char> mask = ChartOverlayMask(input);
        ASSERT_EQ(mask.size(), size_t(kWidth) * kHeight);
        std::vector<std::pair<int, int>> opaque, want = c.opaque;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const unsigned char* f =
                    &drawn.bits[(size_t(kHeight - 1 - y) * kWidth + size_t(x)) * 4];
                const bool isGround =
                    f[0] == ground.blue && f[1] == ground.green && f[2] == ground.red;
                if (c.spots != &spots && !isGround) want.emplace_back(x, y);
                if (mask[size_t(y) * kWidth + size_t(x)] != 0) opaque.emplace_back(x, y);
            }
        }
        std::sort(opaque.begin(), opaque.end());
        std::sort(want.begin(), want.end());
        EXPECT_TRUE(opaque == want)
            << opaque.size() << " opaque pixels, " << want.size() << " wanted";
    }
}

// ---- Whole sites --------------------------------------------------------------------------

struct SyntheticFrame {
    FrameBitmap frame;
    std::vector<unsigned char> bits;
    explicit SyntheticFrame(int seed) {
        frame.width = 240;
        frame.height = 200;
        bits.resize(size_t(frame.width) * size_t(frame.height) * 4);
        for (size_t i = 0; i < bits.size(); ++i)
            bits[i] = static_cast<unsigned char>(i * 31 + size_t(seed) * 7);
        frame.bits = bits.data();
    }
};

// How a test run of the site goes besides its days.
struct RunOptions {
    std::function<void(SiteStep, const std::string&)> betweenSteps;
    std::string logPath;  // every day's log copied from here in place of its own
    std::function<std::vector<unsigned char>(sys_days)> records;  // a day's, in place of a ramp
};

// Writes the days (their logs made in logs/) into the site as one run of the program would: the
// names claimed first, a day that fails does not stop the others, and the site is finished.
bool WriteDays(const std::string& root, const std::string& siteDir,
               const std::vector<sys_days>& days, int seed, const RunOptions& options = {}) {
    SiteFolder site;
    site.betweenSteps = options.betweenSteps;
    if (!OpenSiteFolder(siteDir, &site) || !ClaimSiteDays(&site, days, TALVOR_SOURCE_DIR "/web")) {
        return false;
    }
    SiteLook look{"LONDON", 240, 200};
    StationList stations = SiteStations(root + "/STATIONS.CSV");
    bool all = true;
    for (sys_days d : days) {
        std::string name = DayFolderName(d);
        std::vector<unsigned char> records =
            options.records ? options.records(d) : MakeRecords(60, Ramp, name.c_str());
        int count = int(records.size() / kDayLogRecordSize);
        std::string logPath = root + "/logs/" + name + "/VOK.LOG";
        MakeDirs(root + "/logs/" + name);
        WriteFileBytes(logPath, std::string(records.begin(), records.end()));
        SyntheticFrame frame(seed);
        SiteDayInput input;
        input.logPath = options.logPath.empty() ? logPath : options.logPath;
        input.records = {records.data(), count};
        input.frame = &frame.frame;
        input.data = {d, 240, 200, -260, count, 1.0, 1};
        input.stations = &stations;
        all = WriteSiteDay(&site, input, look) && all;
    }
    return FinishSite(&site, days, look, TALVOR_SOURCE_DIR "/web", root + "/STATIONS.CSV") && all;
}

std::map<std::string, std::string> SiteFiles(const std::string& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) {
            files[fs::relative(entry.path(), root).string()] = ReadFileBytes(entry.path().string());
        }
    }
    return files;
}

// A day log's gzip file unpacked, as a listener's gunzip gives it; empty when it does not unpack
// whole into the size of the longest day log.
std::string Gunzip(const std::string& packed) {
    z_stream stream{};
    if (inflateInit2(&stream, 15 + 16) != Z_OK) return "";
    std::string out(size_t(kMaxDayLogRecords) * kDayLogRecordSize, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    stream.avail_in = uInt(packed.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    bool whole = inflate(&stream, Z_FINISH) == Z_STREAM_END;
    out.resize(stream.total_out);
    inflateEnd(&stream);
    return whole ? out : "";
}

TEST(Site, UpdatingOneDayRewritesOnlyThatDayItsMonthAndTheIndex) {
    TempDir dir("site");
    std::string siteDir = dir / "www";
    WriteFileBytes(dir / "STATIONS.CSV", "1000,Test <b>Radio</b>,Here\nbad line\n");
    std::vector<sys_days> days = {sys_days{2026y / 11 / 30}, sys_days{2026y / 12 / 1},
                                  sys_days{2026y / 12 / 2}};
    ReportedLines reported;
    ASSERT_TRUE(WriteDays(dir.path(), siteDir, days, 1));
    EXPECT_NE(reported.text().find("STATIONS.CSV: 1 lines skipped"), std::string::npos)
        << reported.text();
    std::map<std::string, std::string> before = SiteFiles(siteDir);
    for (sys_days d : days) {
        for (const char* file : kDayFiles) {
            EXPECT_EQ(before.count(DayFolderName(d) + "/" + file), 1u) << DayFolderName(d) << file;
        }
        // The day log's download unpacks to the logged bytes.
        std::string name = DayFolderName(d);
        EXPECT_EQ(Gunzip(before[name + "/VOK.LOG.gz"]),
                  ReadFileBytes(dir / ("logs/" + name + "/VOK.LOG")))
            << name;
    }
    for (const char* file : {"index.html", "days.js", "stations.js", "assets/day.js",
                             "2026-11/index.html", "2026-12/activity.png", kManifestName}) {
        EXPECT_EQ(before.count(file), 1u) << file;
    }
    EXPECT_NE(before["days.js"].find("\"2026-11-30\",\n\"2026-12-01\",\n\"2026-12-02\""),
              std::string::npos);

    // The same day drawn differently: its files change, and only the month and index beside it.
    WriteFileBytes(siteDir + "/notes.txt", "the station's own file");
    ASSERT_TRUE(WriteDays(dir.path(), siteDir, {sys_days{2026y / 12 / 1}}, 2));
    std::map<std::string, std::string> after = SiteFiles(siteDir);
    std::set<std::string> changed;
    for (const auto& [name, bytes] : after) {
        if (before.count(name) == 0 || before[name] != bytes) changed.insert(name);
    }
    std::set<std::string> mayChange = {"notes.txt",   "index.html",         "days.js",
                                       kManifestName, "2026-12/index.html", "2026-12/activity.png"};
    for (const char* file : kDayFiles) mayChange.insert(std::string("2026-12-01/") + file);
    for (const std::string& name : changed) EXPECT_EQ(mayChange.count(name), 1u) << name;
    EXPECT_EQ(changed.count("2026-12-01/chart.js"), 1u);
    EXPECT_EQ(after["notes.txt"], "the station's own file");
    EXPECT_EQ(ReadFileBytes(siteDir + "/" + kManifestName).find("notes.txt"), std::string::npos);
}

// Which carriers are new is told against the days the site keeps: a day drawn again changes the
// lists of the week after it, and of those days nothing else.
TEST(Site, ADayDrawnAgainChangesWhichCarriersOfTheWeekAfterAreNew) {
    TempDir dir("site");
    std::string siteDir = dir / "www";
    std::map<sys_days, std::vector<int>> heard = {{sys_days{2026y / 12 / 1}, {1000}},
                                                  {sys_days{2026y / 12 / 3}, {1000, 1200}},
                                                  {sys_days{2026y / 12 / 12}, {1200}}};
    RunOptions options;
    options.records = [&](sys_days d) {
        // An hour over a floor of 20 to 29, each carrier 150 from 00:05 to 00:54.
        static std::vector<int> carriers;
        carriers = heard[d];
        return MakeRecords(60, [](int k, int f) -> int32_t {
            bool on = k >= 5 && k < 55 &&
                      std::find(carriers.begin(), carriers.end(), f) != carriers.end();
            return on ? 150 : 20 + (k * 7 + f * 13) % 10;
        });
    };
    // The kHz of a day's list, each with whether it is new.
    auto listed = [&](const char* day) {
        std::string script = ReadFileBytes(siteDir + "/" + day + "/heard.js");
        std::map<int, bool> found;
        std::regex carrier("\\{\"khz\":(\\d+),[^}]*\"new\":(true|false)");
        for (std::sregex_iterator m(script.begin(), script.end(), carrier), end; m != end; ++m) {
            found[std::stoi((*m)[1])] = (*m)[2] == "true";
        }
        return found;
    };
    std::vector<sys_days> days;
    for (const auto& entry : heard) days.push_back(entry.first);
    WriteFileBytes(dir / "STATIONS.CSV", "1200,Night <Owl>,Far,00:00-01:00 UTC\n");
    ASSERT_TRUE(WriteDays(dir.path(), siteDir, days, 1, options));
    EXPECT_EQ(listed("2026-12-01"), (std::map<int, bool>{{1000, false}}));  // nothing before it
    EXPECT_EQ(listed("2026-12-03"), (std::map<int, bool>{{1000, false}, {1200, true}}));
    EXPECT_EQ(listed("2026-12-12"),
              (std::map<int, bool>{{1200, false}}));  // none logged in its week
    std::string index = ReadFileBytes(siteDir + "/index.html");
    EXPECT_NE(index.find("2026-12-03</a>: 2 carriers, 1 new:<ul class=\"new-carriers\"><li><span "
                         "class=\"khz\">1200 kHz</span> Night &lt;Owl&gt; (Far)</li></ul>"),
              std::string::npos)
        << index;

    std::map<std::string, std::string> before = SiteFiles(siteDir);
    heard[sys_days{2026y / 12 / 1}] = {1000, 1200};
    ASSERT_TRUE(WriteDays(dir.path(), siteDir, {sys_days{2026y / 12 / 1}}, 1, options));
    EXPECT_EQ(listed("2026-12-03"), (std::map<int, bool>{{1000, false}, {1200, false}}));
    std::map<std::string, std::string> after = SiteFiles(siteDir);
    std::set<std::string> changed;
    for (const auto& [name, bytes] : after) {
        if (before[name] != bytes) changed.insert(name);
    }
    for (const std::string& name : changed) {
        bool mayChange = name.rfind("2026-12-01/", 0) == 0 || name.rfind("2026-12/", 0) == 0 ||
                         name == "2026-12-03/heard.js" || name == "feed.xml" ||
                         name == "index.html";
        EXPECT_TRUE(mayChange) << name;
    }
    EXPECT_EQ(changed.count("2026-12-03/heard.js"), 1u);
}

// A day of an earlier version held files that a day no longer has: writing the day again removes
// them, and only them (a file of the same name that the program did not write stays).
TEST(Site, ADayWrittenAgainLosesTheFilesOfEarlierVersions) {
    TempDir dir("site");
    std::string siteDir = dir / "www";
    const std::vector<sys_days> days = {sys_days{2026y / 12 / 1}, sys_days{2026y / 12 / 2}};
    {
        // As the version before left them: listed in the manifest, written by the program.
        SiteFolder site;
        ASSERT_TRUE(OpenSiteFolder(siteDir, &site));
        ASSERT_TRUE(PutSiteFile(&site, "2026-12-01/chart.png", std::string("old png")));
        ASSERT_TRUE(PutSiteFile(&site, "2026-12-01/levels.bin", std::string("old levels")));
        ASSERT_TRUE(SaveManifest(&site));
    }
    MakeDirs(siteDir + "/2026-12-02");
    WriteFileBytes(siteDir + "/2026-12-02/chart.png", "the station's own");
    ASSERT_TRUE(WriteDays(dir.path(), siteDir, days, 1));
    EXPECT_FALSE(fs::exists(siteDir + "/2026-12-01/chart.png"));
    EXPECT_FALSE(fs::exists(siteDir + "/2026-12-01/levels.bin"));
    EXPECT_EQ(ReadFileBytes(siteDir + "/2026-12-02/chart.png"), "the station's own");
    std::string manifest = ReadFileBytes(siteDir + "/" + kManifestName);
    EXPECT_EQ(manifest.find("chart.png"), std::string::npos) << manifest;
    EXPECT_EQ(manifest.find("levels.bin"), std::string::npos) << manifest;
}

TEST(SiteFolder, RemovesOnlyAFileOfItsOwn) {
    TempDir dir("site");
    SiteFolder site;
    ASSERT_TRUE(OpenSiteFolder(dir.path(), &site));
    WriteFileBytes(dir / "mine", "x");
    WriteFileBytes(dir / "theirs", "x");
    MakeDirs(dir / "folder");
    ASSERT_EQ(symlink((dir / "theirs").c_str(), (dir / "link").c_str()), 0);
    site.owned = {"mine", "folder", "link", "gone"};
    struct Case {
        const char* name;
        bool stands;  // afterwards
    } cases[] = {
        {"mine", false}, {"theirs", true}, {"folder", true}, {"link", true}, {"gone", false}};
    for (const Case& c : cases) {
        EXPECT_TRUE(RemoveSiteFile(&site, c.name)) << c.name;
        EXPECT_EQ(fs::exists(fs::symlink_status(dir / c.name)), c.stands) << c.name;
        EXPECT_EQ(site.owned.count(c.name), 0u) << c.name;
    }
    EXPECT_EQ(ReadFileBytes(dir / "theirs"), "x");
}

// A daily timer mails what a run says: the bad lines of STATIONS.CSV are told by the run that
// first reads the file as it is, not again by every run after it.
TEST(Site, BadStationLinesAreToldOnlyWhenTheListChanged) {
    TempDir dir("site");
    std::string siteDir = dir / "www";
    struct Step {
        const char* csv;
        bool told;
    } steps[] = {
        {"1000,Radio,Here\nbad line\n", true},
        {"1000,Radio,Here\nbad line\n", false},
        {"1000,Radio,Here\nbad line\n1010,Other,There\n", true},
        {"1000,Radio,Here\nbad line\n1010,Other,There\n", false},
        {"1000,Radio,Here\nbad line\nworse line\n", true},
    };
    for (const Step& step : steps) {
        WriteFileBytes(dir / "STATIONS.CSV", step.csv);
        ReportedLines reported;
        ASSERT_TRUE(WriteDays(dir.path(), siteDir, {sys_days{2026y / 12 / 1}}, 1));
        EXPECT_EQ(reported.text().find("lines skipped") != std::string::npos, step.told)
            << step.csv << " -> " << reported.text();
    }
}

// A month's page links the months beside it: a day in a new month gives the month before it the
// link forward.
TEST(Site, ADayInANewMonthLinksItFromTheMonthBefore) {
    TempDir dir("site");
    std::string siteDir = dir / "www";
    ASSERT_TRUE(WriteDays(dir.path(), siteDir, {sys_days{2026y / 11 / 30}}, 1));
    EXPECT_EQ(ReadFileBytes(siteDir + "/2026-11/index.html").find("rel=\"next\""),
              std::string::npos);
    ASSERT_TRUE(WriteDays(dir.path(), siteDir, {sys_days{2027y / 1 / 2}}, 1));
    EXPECT_NE(ReadFileBytes(siteDir + "/2026-11/index.html")
                  .find("rel=\"next\" href=\"../2027-01/index.html\""),
              std::string::npos);
    EXPECT_NE(ReadFileBytes(siteDir + "/2027-01/index.html")
                  .find("rel=\"prev\" href=\"../2026-11/index.html\""),
              std::string::npos);
}

TEST(Site, AForeignFileInADaysPlaceStopsTheRunBeforeAnythingIsWritten) {
    TempDir dir("site");
    std::string siteDir = dir / "www";
    MakeDirs(siteDir + "/2026-12-01");
    WriteFileBytes(siteDir + "/2026-12-01/index.html", "hand-made page");
    WriteFileBytes(siteDir + "/index.html", "hand-made index");
    {
        SiteFolder site;
        ASSERT_TRUE(OpenSiteFolder(siteDir, &site));
        std::string reason =
            SiteMayWriteDays(site, {sys_days{2026y / 12 / 1}}, TALVOR_SOURCE_DIR "/web").reason;
        EXPECT_NE(reason.find("did not write"), std::string::npos) << reason;
        // The pages' scripts are the site's too.
        MakeDirs(dir / "www2/assets");
        WriteFileBytes(dir / "www2/assets/day.js", "someone's script");
        SiteFolder other;
        ASSERT_TRUE(OpenSiteFolder(dir / "www2", &other));
        reason =
            SiteMayWriteDays(other, {sys_days{2026y / 12 / 9}}, TALVOR_SOURCE_DIR "/web").reason;
        EXPECT_NE(reason.find("assets/day.js"), std::string::npos) << reason;
    }
    EXPECT_FALSE(WriteDays(dir.path(), siteDir, {sys_days{2026y / 12 / 2}}, 1));
    EXPECT_EQ(ReadFileBytes(siteDir + "/index.html"), "hand-made index");
    EXPECT_FALSE(FileExists(siteDir + "/2026-12-02"));
}

// The hidden files under a folder: a temporary left behind.
std::vector<std::string> HiddenFiles(const std::string& root) {
    std::vector<std::string> hidden;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.path().filename().string()[0] == '.') hidden.push_back(entry.path().string());
    }
    return hidden;
}

// Where the days go when nothing disturbs the run, to compare an interrupted site with.
std::map<std::string, std::string> UndisturbedSite(const std::vector<sys_days>& days) {
    TempDir dir("site-undisturbed");
    EXPECT_TRUE(WriteDays(dir.path(), dir / "www", days, 1));
    return SiteFiles(dir / "www");
}

// Whether a site holds the files of another, under the other's own random number: each site
// makes its own once (the ids of its feed), and two sites of the same days differ in it alone.
bool SameSite(std::map<std::string, std::string> site,
              const std::map<std::string, std::string>& other) {
    auto idOf = [](const std::map<std::string, std::string>& files) {
        auto settings = files.find(kSiteSettingsName);
        size_t at = settings == files.end() ? std::string::npos : settings->second.find("\nid ");
        return at == std::string::npos ? std::string() : settings->second.substr(at + 4, 24);
    };
    std::string mine = idOf(site), theirs = idOf(other);
    if (mine.empty() || theirs.empty()) return site == other;
    // The feed's UUIDs hold the number's bytes but for the tail a day gives them.
    std::string myUuid = SiteUuid(mine, 0), theirUuid = SiteUuid(theirs, 0);
    std::vector<std::pair<std::string, std::string>> swaps = {
        {mine, theirs},
        {myUuid.substr(0, myUuid.size() - 8), theirUuid.substr(0, theirUuid.size() - 8)}};
    for (const char* name : {kSiteSettingsName, "feed.xml"}) {
        std::string& text = site[name];
        for (const auto& [from, to] : swaps) {
            for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
                text.replace(at, from.size(), to);
            }
        }
    }
    return site == other;
}

TEST(Site, ARerunOfTheSameDaysLeavesEveryFileAsItWas) {
    TempDir dir("site");
    std::string siteDir = dir / "www";
    std::vector<sys_days> days = {sys_days{2026y / 12 / 1}};
    ASSERT_TRUE(WriteDays(dir.path(), siteDir, days, 1));
    auto inodes = [&] {
        std::map<std::string, ino_t> found;
        for (const auto& entry : fs::recursive_directory_iterator(siteDir)) {
            struct stat st {};
            if (entry.is_regular_file() && stat(entry.path().c_str(), &st) == 0) {
                found[fs::relative(entry.path(), siteDir).string()] = st.st_ino;
            }
        }
        return found;
    };
    std::map<std::string, ino_t> before = inodes();
    ASSERT_TRUE(WriteDays(dir.path(), siteDir, days, 1));
    std::map<std::string, ino_t> after = inodes();
    ASSERT_EQ(after.size(), before.size());
    for (const auto& [name, inode] : before) EXPECT_EQ(after[name], inode) << name;
}

TEST(Site, HugeFilesAreReadNoFurtherThanTheirFormatGoes) {
    constexpr off_t kHuge = off_t{64} << 30;  // sparse: no disk is used
    struct Case {
        const char* file;  // made huge, in the test's folder
        bool siteOpens;
        const char* message;
    } cases[] = {
        {"www/talvor-site.manifest", false, "larger than 16 MB"},
        {"STATIONS.CSV", true, "STATIONS.CSV: larger than 16777216 bytes; the readout names no"},
        {"huge.log", true, "huge.log: longer than a day log can be (1440 records of 4890 bytes)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        TempDir dir("site");
        MakeDirs(dir / "www");
        std::string huge = dir / c.file;
        WriteFileBytes(huge, "");
        ASSERT_EQ(truncate(huge.c_str(), kHuge), 0);
        {
            SiteFolder site;
            Outcome opened = OpenSiteFolder(dir / "www", &site);
            EXPECT_EQ(bool(opened), c.siteOpens) << opened.reason;
            if (!c.siteOpens) {
                EXPECT_NE(opened.reason.find(c.message), std::string::npos) << opened.reason;
                continue;
            }
        }
        ReportedLines reported;
        RunOptions options;
        if (std::string(c.file) == "huge.log") options.logPath = huge;
        EXPECT_TRUE(WriteDays(dir.path(), dir / "www", {sys_days{2026y / 12 / 1}}, 1, options));
        EXPECT_NE(reported.text().find(c.message), std::string::npos) << reported.text();
        if (!options.logPath.empty()) {
            EXPECT_EQ(Gunzip(ReadFileBytes(dir / "www/2026-12-01/VOK.LOG.gz")),
                      std::string(size_t(kMaxDayLogRecords) * kDayLogRecordSize, '\0'));
        }
    }
}

// ---- A site that others share -------------------------------------------------------------

TEST(SiteFolder, FoldersThatOthersCouldChangeAreRefused) {
    const bool root = geteuid() == 0;  // only root can give a folder to another user
    constexpr uid_t kOther = 65534;
    struct Case {
        const char* name;
        bool needsRoot;
        std::function<void(const std::string& site)> plant;
        const char* refusal;  // nullptr: the days are claimed
    } cases[] = {
        {"a day folder that others may write", false,
         [](const std::string& site) {
             MakeDirs(site + "/2026-12-01");
             chmod((site + "/2026-12-01").c_str(), 0777);
         },
         "folder %/2026-12-01 may be written by other users"},
        {"the scripts' folder of another user", true,
         [](const std::string& site) {
             MakeDirs(site + "/assets");
             EXPECT_EQ(chown((site + "/assets").c_str(), kOther, kOther), 0);
         },
         "folder %/assets belongs to another user (user id 65534)"},
        {"another user's day folder in a folder shared by all (1777)", true,
         [](const std::string& site) {
             chmod(site.c_str(), 01777);
             MakeDirs(site + "/2026-12-01");
             EXPECT_EQ(chown((site + "/2026-12-01").c_str(), kOther, kOther), 0);
         },
         "belongs to another user"},
        {"another user's page in a folder shared by all (1777)", true,
         [](const std::string& site) {
             chmod(site.c_str(), 01777);
             WriteFileBytes(site + "/index.html", "theirs");
             EXPECT_EQ(chown((site + "/index.html").c_str(), kOther, kOther), 0);
         },
         "index.html: a file of another user (user id 65534) stands there"},
        {"the program's own folders in a folder shared by all (1777)", false,
         [](const std::string& site) {
             chmod(site.c_str(), 01777);
             MakeDirs(site + "/2026-12-01");
         },
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsRoot && !root) continue;
        TempDir dir("site");
        std::string siteDir = dir / "www";
        MakeDirs(siteDir);
        c.plant(siteDir);
        SiteFolder site;
        ASSERT_TRUE(OpenSiteFolder(siteDir, &site));
        Outcome claimed =
            ClaimSiteDays(&site, {sys_days{2026y / 12 / 1}}, TALVOR_SOURCE_DIR "/web");
        EXPECT_EQ(bool(claimed), c.refusal == nullptr) << claimed.reason;
        if (c.refusal != nullptr) {
            std::string refusal = c.refusal;
            if (size_t at = refusal.find('%'); at != std::string::npos) {
                refusal.replace(at, 1, siteDir);
            }
            EXPECT_NE(claimed.reason.find(refusal), std::string::npos) << claimed.reason;
            EXPECT_FALSE(FileExists(siteDir + "/" + kManifestName));
        }
    }
}

// Someone who may write into the site swaps a name for a link while a run writes: the run goes
// on in what it opened, or stops, and never writes where the link leads.
TEST(SiteFolder, ANameSwappedForALinkDuringARunNeverLeadsOutOfTheSite) {
    struct Case {
        const char* name;
        SiteStep step;
        const char* file;     // the write at whose step the swap is made
        const char* swapped;  // what is swapped for a link to the outside
        const char* message;
    } cases[] = {
        {"the day folder, once opened", SiteStep::FolderOpened, "2026-12-01/chart.gif",
         "2026-12-01", "2026-12-01 is not a folder"},
        {"the day folder, between two files", SiteStep::Renamed, "2026-12-01/chart.gif",
         "2026-12-01", "2026-12-01 is not a folder"},
        {"the file, before its rename", SiteStep::TemporaryWritten, "2026-12-01/chart.gif",
         "2026-12-01/chart.gif", "chart.gif: File exists"},
        {"the scripts' folder", SiteStep::FolderOpened, "assets/day.js", "assets",
         "assets is not a folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir("site");
        std::string siteDir = dir / "www";
        MakeDirs(dir / "outside");
        WriteFileBytes(dir / "outside/chart.gif", "theirs");
        RunOptions options;
        options.betweenSteps = [&](SiteStep step, const std::string& name) {
            if (step != c.step || name != c.file) return;
            std::string target = siteDir + "/" + c.swapped;
            if (FileExists(target)) {
                ASSERT_EQ(rename(target.c_str(), (dir / "moved").c_str()), 0);
            }
            std::string outside = dir / ("outside/" + fs::path(c.swapped).filename().string());
            if (!FileExists(outside)) outside = dir / "outside";
            ASSERT_EQ(symlink(outside.c_str(), target.c_str()), 0);
        };
        ReportedLines reported;
        EXPECT_FALSE(WriteDays(dir.path(), siteDir, {sys_days{2026y / 12 / 1}}, 1, options));
        EXPECT_TRUE(SiteFiles(dir / "outside") ==
                    (std::map<std::string, std::string>{{"chart.gif", "theirs"}}));
        EXPECT_NE(reported.text().find(c.message), std::string::npos) << reported.text();
        EXPECT_EQ(HiddenFiles(dir.path()), std::vector<std::string>{});
    }
}

// ---- Interrupted runs ---------------------------------------------------------------------

// A run killed or stopped at any step: the same run again completes the site as an undisturbed
// run makes it, and leaves no temporary behind. Each first run goes in a child process.
TEST(SiteInterrupted, TheNextRunCompletesTheSiteAndLeavesNoTemporary) {
    const std::vector<sys_days> days = {sys_days{2026y / 11 / 30}, sys_days{2026y / 12 / 1}};
    const std::map<std::string, std::string> undisturbed = UndisturbedSite(days);
    struct Case {
        const char* name;
        int signal;
        SiteStep step;
        const char* file;
        bool temporaryLeft;  // right after the first run (the next one removes it)
    } cases[] = {
        {"killed claiming the names", SIGKILL, SiteStep::TemporaryWritten, kManifestName, true},
        {"killed at a day's second rename", SIGKILL, SiteStep::Renamed, "2026-11-30/thumb.png",
         false},
        {"killed with a day's file half made", SIGKILL, SiteStep::TemporaryWritten,
         "2026-12-01/levels.js", true},
        {"killed copying the pages' scripts", SIGKILL, SiteStep::TemporaryWritten, "assets/day.js",
         true},
        {"killed at a month's page", SIGKILL, SiteStep::FolderOpened, "2026-12/index.html", false},
        {"killed writing the index", SIGKILL, SiteStep::TemporaryWritten, "index.html", true},
        {"stopped with a day's file half made", SIGTERM, SiteStep::TemporaryWritten,
         "2026-11-30/chart.gif", false},
        {"stopped copying the pages' scripts", SIGINT, SiteStep::TemporaryWritten, "assets/zoom.js",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir("site");
        std::string siteDir = dir / "www";
        int first = RunInChild(
            [&] {
                RemoveTemporariesOnStopSignals();
                RunOptions options;
                options.betweenSteps = [&](SiteStep step, const std::string& name) {
                    if (step == c.step && name == c.file) raise(c.signal);
                };
                WriteDays(dir.path(), siteDir, days, 1, options);
                return 0;  // the step never came
            },
            60000);
        EXPECT_EQ(first, -3) << "the first run was not stopped";
        EXPECT_EQ(HiddenFiles(siteDir).empty(), !c.temporaryLeft);
        ASSERT_TRUE(WriteDays(dir.path(), siteDir, days, 1));
        EXPECT_EQ(HiddenFiles(siteDir), std::vector<std::string>{});
        EXPECT_TRUE(SameSite(SiteFiles(siteDir), undisturbed));
    }
}

// A failed run, whatever failed: the cause gone, the same run completes the site.
TEST(SiteInterrupted, AFailedRunIsCompletedOnceTheCauseIsGone) {
    const std::vector<sys_days> days = {sys_days{2026y / 11 / 30}, sys_days{2026y / 12 / 1}};
    const std::map<std::string, std::string> undisturbed = UndisturbedSite(days);
    size_t siteBytes = 0;
    for (const auto& [name, bytes] : undisturbed) siteBytes += bytes.size();

    // A day log that cannot be copied: its day fails after its pictures were made.
    {
        TempDir dir("site");
        ReportedLines reported;
        RunOptions options;
        options.logPath = dir / "missing.log";
        EXPECT_FALSE(WriteDays(dir.path(), dir / "www", days, 1, options));
        EXPECT_NE(reported.text().find("cannot copy day log"), std::string::npos);
        EXPECT_TRUE(WriteDays(dir.path(), dir / "www", days, 1));
        EXPECT_TRUE(SameSite(SiteFiles(dir / "www"), undisturbed));
    }
    // A full disk (a small file system of its own, in a mount namespace), then room again.
    TempDir dir("site");
    std::string siteDir = dir / "www";
    MakeDirs(siteDir);
    int code = RunInChild(
        [&] {
            if (unshare(CLONE_NEWNS) != 0 ||
                mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
                return 125;
            }
            std::string small = "size=" + std::to_string(siteBytes / 2) + ",mode=0755";
            if (mount("tmpfs", siteDir.c_str(), "tmpfs", 0, small.c_str()) != 0) return 125;
            if (WriteDays(dir.path(), siteDir, days, 1)) return 1;
            if (!HiddenFiles(siteDir).empty()) return 2;
            if (mount(nullptr, siteDir.c_str(), nullptr, MS_REMOUNT, "size=64m") != 0) return 3;
            if (!WriteDays(dir.path(), siteDir, days, 1)) return 4;
            if (!HiddenFiles(siteDir).empty()) return 5;
            return SameSite(SiteFiles(siteDir), undisturbed) ? 0 : 6;
        },
        60000);
    if (code == 125) GTEST_SKIP() << "no mount namespace of its own here (not root)";
    EXPECT_EQ(code, 0) << "1 not refused when full, 2 or 5 a temporary left, 4 not completed, "
                          "6 not the undisturbed site";
}

}  // namespace
