// SPDX-License-Identifier: GPL-3.0-or-later
// The render thread end to end: capture event, day log, chart, read-back and completion, and the
// run without any OpenGL.
#include "render/render_thread.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "config/settings.h"
#include "daylog/day_log.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "platform/named_event.h"
#include "platform/outcome.h"
#include "platform/process.h"
#include "render/chart.h"
#include "render/render_surface.h"
#include "state/process_state.h"
#include "station/run_state.h"
#include "test_support.h"

namespace {

// A day log of `records` records, each with level 255 at `khz`.
std::string DayLogBytes(int records, int khz) {
    std::string bytes;
    for (int i = 0; i < records; ++i) {
        std::vector<unsigned char> record = BlankRecord();
        SetMinute(record.data(), 1);
        SetLevel(record.data(), khz, 255);
        bytes.append(reinterpret_cast<const char*>(record.data()), record.size());
    }
    return bytes;
}

void PrepareRun(const TempDir& dir, int records, int khz) {
    ResetProcessState();
    int width = 0, height = 0;
    GetScreenSize(&width, &height);
    screenGeometry = ComputeScreenGeometry(width, height);
    runPaths.DayLogPath = dir / "VOK.LOG";
    WriteFileBytes(runPaths.DayLogPath, DayLogBytes(records, khz));
    ASSERT_TRUE(AllocateRecordBuffer());
}

// Run only as a child process by the test below, with the EGL vendor hidden from it.
TEST(RenderWithoutGl, DISABLED_ChildWithoutEglVendor) {
    TempDir dir("talvor-render");
    PrepareRun(dir, 3, 1000);
    Outcome made = CreateRenderSurfaceOfSize(640, 480);
    EXPECT_EQ(made.code, int(SurfaceStatus::NoDisplay));
    EXPECT_NE(made.reason.find("no EGL display"), std::string::npos) << made.reason;
    DestroyRenderSurface();
    RenderThreadMain();
    // No frame, but the records are there for the summary and the main thread is told.
    EXPECT_TRUE(WaitForRenderDone(0));
    EXPECT_EQ(frameBitmap, nullptr);
    EXPECT_EQ(recordCount, 3);
    EXPECT_EQ(FooterFontList, 0u);
}

TEST(RenderWithoutGl, MissingEglVendorGivesStatusAndRecords) {
    std::string self = GetExecutablePath(nullptr);
    ASSERT_FALSE(self.empty());
    CommandResult run = RunCommand(
        "env -u DISPLAY -u WAYLAND_DISPLAY __EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent.json '" +
        self +
        "' --gtest_also_run_disabled_tests "
        "--gtest_filter=RenderWithoutGl.DISABLED_ChildWithoutEglVendor");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("[  PASSED  ] 1 test"), std::string::npos) << run.output;
}

TEST(RenderSurfaceTest, WidthTakenAfreshFromTheReportedWidth) {
    ResetProcessState();
    screenGeometry = ComputeScreenGeometry(1366, 768);
    screenGeometry.screenWidth = 0;  // derived again from the reported 1366, stored as 1368
    Outcome made = CreateRenderSurface();
    ASSERT_TRUE(made) << made.reason;
    EXPECT_EQ(screenGeometry.screenWidth, 1368);
    EXPECT_NE(FooterFontList, 0u);
    EXPECT_NE(LabelFontList, 0u);
    EXPECT_NE(TitleFontList, 0u);
    SetChartProjection(screenGeometry.screenWidthF, screenGeometry.screenHeightF);
    DrawChart();
    ReadBackFrame();
    ASSERT_NE(frameBitmap, nullptr);
    EXPECT_EQ(frameBitmap->width, 1368);
    EXPECT_EQ(frameBitmap->height, 768);
    // The 600 kHz tick of the scale, from the chart x origin of the reported width (83).
    int x = 600 + 83 - 500, y = 57;
    const unsigned char* p = frameBitmap->bits + (size_t(768 - 1 - y) * 1368 + size_t(x)) * 4;
    EXPECT_EQ(p[0], 255);
    EXPECT_EQ(p[1], 150);
    EXPECT_EQ(p[2], 0);
    DestroyRenderSurface();
    EXPECT_EQ(FooterFontList, 0u);
    ResetProcessState();
}

TEST(RenderThreadTest, DrawsOnCaptureEventAndSignalsCompletion) {
    TempDir dir("talvor-render");
    PrepareRun(dir, 30, 558);
    // The 9 kHz spacing must reach the picture: 558 kHz is only a channel of the 9 kHz plan.
    settings.channelSpacing = 9;
    EXPECT_FALSE(WaitForRenderDone(0));
    // A signal left over from an earlier run on this machine would release the thread at once.
    NamedEvent* drain = OpenNamedEvent("/THEMEXXX");
    ASSERT_NE(drain, nullptr);
    while (WaitNamedEvent(drain, 0)) {
    }
    CloseNamedEvent(drain);
    StartRenderThread();
    // (Whether it waits for the signal is not asserted: any run of the program on this machine
    // signals the same named event.)
    // Another run on this machine may take a signal first; keep signalling until it is done.
    bool done = false;
    for (int attempt = 0; attempt < 100 && !done; ++attempt) {
        NamedEvent* event = CaptureEvent.load();
        if (event != nullptr) SetNamedEvent(event);
        done = WaitForRenderDone(200);
    }
    ASSERT_TRUE(done);
    EXPECT_EQ(recordCount, 30);
    EXPECT_EQ(DailyChartInput().range.plan, ChannelPlan9);
    ASSERT_NE(frameBitmap, nullptr);
    ASSERT_EQ(frameBitmap->width, screenGeometry.screenWidth);
    ASSERT_EQ(frameBitmap->height, screenGeometry.screenHeight);
    int x = 558 + screenGeometry.chartXOrigin - 500;
    int y = 40 + 20;
    const unsigned char* p =
        frameBitmap->bits +
        (size_t(frameBitmap->height - 1 - y) * size_t(frameBitmap->width) + size_t(x)) * 4;
    EXPECT_GT(p[2], 200);  // red
    EXPECT_GT(p[1], 200);  // green
    // A second signal is swallowed by the parked thread and draws nothing new.
    FrameBitmap* first = frameBitmap;
    SetNamedEvent(CaptureEvent.load());
    SleepMs(300);
    EXPECT_EQ(frameBitmap, first);
}

}  // namespace
