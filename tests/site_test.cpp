// SPDX-License-Identifier: GPL-3.0-or-later
// The archive's site writer: the folder's manifest rules, and whole sites written and updated
// from days that are drawn here as plain frames (no OpenGL).
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

// A file read through its first marker and no further: the marker at a page's edge, none at
// all (the whole file, within the limit), and past the limit.
TEST(SiteFolder, ReadsAFileThroughItsFirstMarkerOnly) {
    TempDir dir("site");
    SiteFolder site;
    ASSERT_TRUE(OpenSiteFolder(dir.path(), &site));
    const std::string marker = "\n--\n";
    const std::string page(4094, 'c');  // the marker then straddles the first 4 KB read
    struct Case {
        const char* what;
        std::string file;
        size_t limit;
        bool read;
        std::string wanted;
    } cases[] = {
        {"a marker", "ab" + marker + "rest" + marker, 100, true, "ab" + marker},
        {"a marker across a page's edge", page + marker + std::string(9000, 'r'), 8192, true,
         page + marker},
        {"no marker: the whole file", "abc\n-", 100, true, "abc\n-"},
        {"no marker past the limit", std::string(5000, 'x'), 4999, false, ""},
        {"the marker past the limit", std::string(5000, 'x') + marker, 4999, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(PutSiteFile(&site, "kept.txt", c.file));
        std::string bytes;
        Outcome read = ReadSiteFileThrough(site, "kept.txt", marker, c.limit, &bytes);
        EXPECT_EQ(bool(read), c.read) << read.reason;
        if (c.read) {
            EXPECT_EQ(bytes, c.wanted);
        }
    }
    std::string bytes;
    EXPECT_FALSE(ReadSiteFileThrough(site, "gone.txt", marker, 100, &bytes));
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
    bool early = false;  // the work on each day's log and records begun first, as while drawing
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
        SiteDayEarly early;
        if (options.early) {
            BeginSiteDay(input.logPath, input.records, &early);
            input.early = &early;
        }
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

// The work begun on a day's log and records while it is drawn gives the day the same files, and
// the same reason when its log cannot be copied, as the work done once its frame is there.
TEST(Site, WorkBegunWhileDrawingGivesTheSameDays) {
    struct Case {
        const char* what;
        bool logThere;
    } cases[] = {{"the logs there", true}, {"a log gone", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir("site");
        std::map<std::string, std::string> files[2];
        std::string said[2];
        bool wrote[2];
        for (int early = 0; early < 2; ++early) {
            fs::remove_all(dir / "www");
            RunOptions options;
            options.early = early == 1;
            if (!c.logThere) options.logPath = dir / "gone/VOK.LOG";
            ReportedLines reported;
            wrote[early] =
                WriteDays(dir.path(), dir / "www",
                          {sys_days{2026y / 12 / 1}, sys_days{2026y / 12 / 2}}, 1, options);
            said[early] = reported.text();
            files[early] = SiteFiles(dir / "www");
            // The feed's ids come from a number the site draws afresh.
            for (const char* name : {kSiteSettingsName, "feed.xml"}) files[early].erase(name);
        }
        EXPECT_EQ(wrote[1], c.logThere);
        EXPECT_EQ(wrote[0], wrote[1]);
        EXPECT_EQ(said[0], said[1]);
        EXPECT_EQ(said[1].find("cannot copy day log") != std::string::npos, !c.logThere) << said[1];
        EXPECT_TRUE(files[0] == files[1])
            << files[0].size() << " files against " << files[1].size();
        EXPECT_EQ(files[1].count("2026-12-02/levels.js"), size_t(c.logThere));
    }
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
