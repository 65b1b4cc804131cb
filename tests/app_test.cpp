// SPDX-License-Identifier: GPL-3.0-or-later
#include "talvor/app.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/run_state.h"
#include "daylog/day_log.h"
#include "gtest/gtest.h"
#include "output/snapshot.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "platform/event_loop.h"
#include "platform/named_event.h"
#include "platform/process.h"
#include "render/render_thread.h"
#include "test_support.h"

using namespace talvor;

namespace {

struct GeometryCase {
    int width, height;
    int storedWidth, chartHeight;
    float widthF;
    int centreX, chartXOrigin, labelColumnX, halfHeight;
};

TEST(Geometry, FieldsFollowTheReportedSize) {
    const GeometryCase cases[] = {
        {1366, 768, 1368, 732, 1366.0f, 683, 83, 3, 384},
        {1920, 1080, 1920, 1044, 1920.0f, 960, 360, 260, 540},
        {1500, 900, 1500, 864, 1500.0f, 750, 150, 3, 450},
        {1501, 901, 1501, 865, 1501.0f, 750, 150, 50, 450},
        {800, 600, 800, 564, 800.0f, 400, -200, 3, 300},
        {3840, 2160, 3840, 2124, 3840.0f, 1920, 1320, 1220, 1080},
        {1368, 768, 1368, 732, 1368.0f, 684, 84, 3, 384},
    };
    for (const GeometryCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        ScreenGeometry g = ComputeScreenGeometry(c.width, c.height);
        EXPECT_EQ(g.screenWidth, c.storedWidth);
        EXPECT_EQ(g.screenHeight, c.height);
        EXPECT_EQ(g.chartHeight, c.chartHeight);
        EXPECT_FLOAT_EQ(g.screenWidthF, c.widthF);
        EXPECT_FLOAT_EQ(g.screenHeightF, float(c.height));
        EXPECT_EQ(g.centreX, c.centreX);
        EXPECT_EQ(g.chartXOrigin, c.chartXOrigin);
        EXPECT_EQ(g.labelColumnX, c.labelColumnX);
        EXPECT_EQ(g.halfHeight, c.halfHeight);
    }
}

TEST(Geometry, OnlyThe1366PanelIsWidened) {
    const int cases[][2] = {{1366, 1368}, {1365, 1365}, {1367, 1367}, {1368, 1368}, {0, 0}};
    for (const auto& c : cases) EXPECT_EQ(StoredScreenWidth(c[0]), c[1]) << c[0];
}

TEST(Paths, ZVariantFromTheFileName) {
    const struct {
        const char* path;
        bool selects;
    } cases[] = {
        {"/opt/talvor/talvorZ", true},
        {"/opt/talvor/TALVORZ.EXE", true},
        {"/opt/talvor/talvor", false},
        {"/opt/talvor/talvorz", false},
        {"/opt/talvor/TALVOR.EXE", false},
        {"/opt/talvor/TALVORz.EXE", false},
        {"/opt/Z/talvor", false},           // the folder does not count
        {"/opt/talvor/talvorZ.gz", false},  // ".gz" is no four-character extension
        {"/opt/talvor/Z.bin", true},
        {"/opt/talvor/.EXE", false},
        {"talvorZ", true},
        {"/opt/talvor/", false},
        {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(NameSelectsZVariant(c.path), c.selects) << c.path;
}

TEST(Paths, FolderOfDropsTheLastName) {
    const struct {
        const char* path;
        const char* folder;
    } cases[] = {
        {"/opt/talvor/talvor", "/opt/talvor"},
        {"/talvor", ""},
        {"/a/b/", "/a/b"},
        {"talvor", "."},
        {"", "."},
    };
    for (const auto& c : cases) EXPECT_EQ(FolderOf(c.path), c.folder) << c.path;
}

TEST(Paths, DayLogPathNamesTheStartDate) {
    UtcTime date;
    date.year = 2014;
    date.month = 3;
    date.day = 5;
    EXPECT_EQ(ComposeDayLogPath("/data/BRANTOS", date), "/data/BRANTOS/2014-03-05/VOK.LOG");
    date.year = 999;
    date.month = 12;
    date.day = 31;
    EXPECT_EQ(ComposeDayLogPath("/d", date), "/d/ 999-12-31/VOK.LOG");
    // Long folders are not cut.
    std::string longFolder(600, 'x');
    EXPECT_EQ(ComposeDayLogPath(longFolder, date), longFolder + "/ 999-12-31/VOK.LOG");
}

// Sets the display variables for one test and puts them back afterwards.
class DisplayEnvironment {
  public:
    DisplayEnvironment(const char* x11, const char* wayland) {
        Save("DISPLAY", &savedX11_, &hadX11_);
        Save("WAYLAND_DISPLAY", &savedWayland_, &hadWayland_);
        Set("DISPLAY", x11);
        Set("WAYLAND_DISPLAY", wayland);
    }
    ~DisplayEnvironment() {
        Set("DISPLAY", hadX11_ ? savedX11_.c_str() : nullptr);
        Set("WAYLAND_DISPLAY", hadWayland_ ? savedWayland_.c_str() : nullptr);
    }

  private:
    static void Save(const char* name, std::string* value, bool* had) {
        const char* v = std::getenv(name);
        *had = v != nullptr;
        if (v) *value = v;
    }
    static void Set(const char* name, const char* value) {
        if (value) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    std::string savedX11_, savedWayland_;
    bool hadX11_ = false, hadWayland_ = false;
};

TEST(Screen, SizeOfTheDisplayServer) {
    XvfbServer x(1366, 768);
    ASSERT_TRUE(x.running());
    DisplayEnvironment env(x.display().c_str(), nullptr);
    EXPECT_TRUE(DesktopDisplayReachable());
    int w = 0, h = 0;
    GetScreenSize(&w, &h);
    EXPECT_EQ(w, 1366);
    EXPECT_EQ(h, 768);
}

TEST(Screen, HeadlessDefaults) {
    const struct {
        const char* x11;
        const char* wayland;
    } cases[] = {
        {nullptr, nullptr},
        {"", ""},
        {":249", nullptr},              // named, but no server listens there
        {nullptr, "talvor-no-such-0"},  // the same for Wayland
    };
    for (const auto& c : cases) {
        DisplayEnvironment env(c.x11, c.wayland);
        EXPECT_FALSE(DesktopDisplayReachable());
        int w = 0, h = 0;
        GetScreenSize(&w, &h);
        EXPECT_EQ(w, 1920);
        EXPECT_EQ(h, 1500);
    }
}

TEST(StartUp, DerivesPathsGeometryAndBufferFromTheExecutable) {
    DisplayEnvironment env(nullptr, nullptr);
    DailyRun run;
    UtcTime before = GetUtcTime();
    StartUp(&run, nullptr);
    UtcTime after = GetUtcTime();

    std::string exe = GetExecutablePath(nullptr);
    std::string folder = exe.substr(0, exe.rfind('/'));
    EXPECT_EQ(run.paths.ExeFolder, folder);
    EXPECT_EQ(run.paths.ConfigFilePath, folder + "/TALVOR.INI");
    if (!FileExists(run.paths.ConfigFilePath)) {
        EXPECT_EQ(run.paths.DataFolder, folder + "/BRANTOS");
    }
    EXPECT_FALSE(run.paths.ZVariant);
    // Taken during the call (unless midnight passed in between).
    auto msOfDay = [](const UtcTime& t) {
        return ((t.hour * 60 + t.minute) * 60 + t.second) * 1000 + t.millisecond;
    };
    if (before.day == after.day) {
        EXPECT_EQ(run.paths.StartTime.day, before.day);
        EXPECT_GE(msOfDay(run.paths.StartTime), msOfDay(before));
        EXPECT_LE(msOfDay(run.paths.StartTime), msOfDay(after));
    }
    EXPECT_EQ(run.paths.DayLogPath, ComposeDayLogPath(run.paths.DataFolder, run.paths.StartTime));
    EXPECT_EQ(run.screenGeometry.screenWidth, 1920);
    EXPECT_EQ(run.screenGeometry.chartHeight, 1464);
    EXPECT_EQ(run.screenGeometry.labelColumnX, 260);
    EXPECT_NE(run.RecordBuffer, nullptr);
}

// A render thread that never reports back (here: none was started) must not hold the run: the
// capture gives up after its grace time, saves no picture, leaves Z.TXT empty and ends with 1,
// so that the scheduler sees the missing picture. The timeline is the daily one shortened: the
// grace is still many resignals long.
constexpr CaptureTimeline kShortTimeline = {0, 100, 400, 25};

TEST(Capture, GivesUpOnARenderThreadThatNeverFinishes) {
    TempDir exeDir, workDir;
    std::string err = workDir / "err";
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (chdir(workDir.path().c_str()) != 0) _exit(10);
        if (freopen(err.c_str(), "w", stderr) == nullptr) _exit(11);
        DailyRun run;
        run.paths.ExeFolder = exeDir.path();
        run.paths.ZVariant = true;
        // A private event, so that the signals land nowhere near a real run's "/THEMEXXX".
        std::string eventName = "/talvor-test-capture-" + std::to_string(getpid());
        run.renderThread.CaptureEvent = OpenNamedEvent(eventName.c_str());
        RemoveNamedEvent(eventName.c_str());
        if (run.renderThread.CaptureEvent.load() == nullptr) _exit(15);
        int64_t start = MonotonicMs();
        ArmOneShotTimer(&run.loop, kShortTimeline.captureTimerMs,
                        [&run] { RunCapture(&run, kShortTimeline); });
        int code = RunEventLoop(&run.loop);
        int64_t took = MonotonicMs() - start;
        std::fflush(nullptr);
        if (code != 1) _exit(12);
        if (run.CaptureMode != kZCapture) _exit(13);
        if (took < kShortTimeline.capturePauseMs + kShortTimeline.renderGraceMs) _exit(14);
        // The signals that nobody took are taken back: the event would otherwise stay set.
        if (WaitNamedEvent(run.renderThread.CaptureEvent.load(), 0)) _exit(16);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFileBytes(workDir / "Z.TXT"), "");
    EXPECT_TRUE(FileExists(workDir / "Z.TXT"));
    EXPECT_FALSE(FileExists(exeDir / "z.gif"));
    std::string messages = ReadFileBytes(err);
    EXPECT_NE(messages.find("TALVOR: the chart was not finished in time; no picture saved\n"),
              std::string::npos)
        << messages;
}

// Without memory for the day log the run stops at start-up; it must fail, not pass as a quiet
// day. The address space is capped just above what the process holds already, so that the
// record buffer is the allocation that fails.
TEST(StartUp, MemoryProblemFailsTheRun) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' shadow memory does not fit under an address-space cap";
#endif
    TempDir exeDir("talvor-memory");
    WriteFileBytes(exeDir / "talvor", "stands for the program");
    std::string program = exeDir / "talvor";
    testing::internal::CaptureStderr();
    int code = RunInChild(
        [&] {
            unsetenv("DISPLAY");
            unsetenv("WAYLAND_DISPLAY");
            long pages = 0;
            std::FILE* statm = std::fopen("/proc/self/statm", "r");
            if (statm == nullptr || std::fscanf(statm, "%ld", &pages) != 1) return 20;
            std::fclose(statm);
            rlim_t cap = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (4u << 20);
            struct rlimit limit = {cap, cap};
            if (setrlimit(RLIMIT_AS, &limit) != 0) return 21;
            DailyRun run;
            return RunTalvor(program.c_str(), &run);
        },
        30000);
    std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(code, 1) << errors;
    EXPECT_NE(errors.find("TALVOR: Memory problem\n"), std::string::npos) << errors;
}

}  // namespace
