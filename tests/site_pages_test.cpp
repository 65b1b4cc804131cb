// SPDX-License-Identifier: GPL-3.0-or-later
// The archive's pages and what they are made of: text escaping, the station list, the
// levels the pages decode, the day digest, the month and day pages, and the chart as a page draws
// it (on plain frames, no OpenGL).
#include "site/site_pages.h"

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
#include "site/site.h"
#include "site/site_feed.h"
#include "site/site_folder.h"
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

}  // namespace
