// SPDX-License-Identifier: GPL-3.0-or-later
// The render thread end to end: capture event, day log, chart, read-back and completion, and the
// run without any OpenGL.
#include "render/render_thread.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "config/run_state.h"
#include "config/settings.h"
#include "daylog/day_log.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "platform/named_event.h"
#include "platform/outcome.h"
#include "platform/process.h"
#include "render/chart.h"
#include "render/render_surface.h"
#include "talvor/app.h"
#include "test_support.h"

using namespace talvor;

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

void PrepareRun(const TempDir& dir, int records, int khz, DailyRun* run) {
    int width = 0, height = 0;
    GetScreenSize(&width, &height);
    run->screenGeometry = ComputeScreenGeometry(width, height);
    run->paths.DayLogPath = dir / "VOK.LOG";
    WriteFileBytes(run->paths.DayLogPath, DayLogBytes(records, khz));
    ASSERT_TRUE(AllocateRecordBuffer(&run->RecordBuffer));
}

// Run only as a child process by the test below, with the EGL vendor hidden from it.
TEST(RenderWithoutGl, DISABLED_ChildWithoutEglVendor) {
    TempDir dir("talvor-render");
    DailyRun run;
    PrepareRun(dir, 3, 1000, &run);
    RenderSurface surface;
    Outcome made = CreateRenderSurfaceOfSize(640, 480, &run.fonts, &surface);
    EXPECT_EQ(made.kind, FailureKind::NoEglDisplay);
    EXPECT_EQ(SurfaceStatus(made), 1);
    EXPECT_NE(made.reason.find("no EGL display"), std::string::npos) << made.reason;
    DestroyRenderSurface(&surface);
    RenderThreadMain(&run.renderThread, DailyRenderWork(&run));
    // No frame, but the records are there for the summary and the main thread is told.
    EXPECT_TRUE(WaitForRenderDone(&run.renderThread, 0));
    EXPECT_EQ(run.frameBitmap, nullptr);
    EXPECT_EQ(run.recordCount, 3);
    EXPECT_EQ(run.renderThread.surface.fonts.FooterFontList, 0u);
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
    DailyRun run;
    run.screenGeometry = ComputeScreenGeometry(1366, 768);
    run.screenGeometry.screenWidth = 0;  // derived again from the reported 1366, stored as 1368
    RenderSurface& surface = run.renderThread.surface;
    Outcome made = CreateRenderSurface(&run.screenGeometry, &run.fonts, &surface);
    ASSERT_TRUE(made) << made.reason;
    EXPECT_EQ(run.screenGeometry.screenWidth, 1368);
    EXPECT_NE(surface.fonts.FooterFontList, 0u);
    EXPECT_NE(surface.fonts.LabelFontList, 0u);
    EXPECT_NE(surface.fonts.TitleFontList, 0u);
    SetChartProjection(run.screenGeometry.screenWidthF, run.screenGeometry.screenHeightF);
    DrawChart(&run);
    FrameBitmap* frame = ReadBackFrame(run.screenGeometry.screenWidth, 768);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->width, 1368);
    EXPECT_EQ(frame->height, 768);
    // The 600 kHz tick of the scale, from the chart x origin of the reported width (83).
    int x = 600 + 83 - 500, y = 57;
    const unsigned char* p = frame->bits + (size_t(768 - 1 - y) * 1368 + size_t(x)) * 4;
    EXPECT_EQ(p[0], 255);
    EXPECT_EQ(p[1], 150);
    EXPECT_EQ(p[2], 0);
    FreeFrameBitmap(frame);
    DestroyRenderSurface(&surface);
    EXPECT_EQ(surface.fonts.FooterFontList, 0u);
}

TEST(RenderThreadTest, DrawsOnCaptureEventAndSignalsCompletion) {
    TempDir dir("talvor-render");
    // The render thread parks with the run to the end of the process.
    auto* run = new DailyRun;
    PrepareRun(dir, 30, 558, run);
    // The 9 kHz spacing must reach the picture: 558 kHz is only a channel of the 9 kHz plan.
    run->settings.channelSpacing = 9;
    RenderThread* thread = &run->renderThread;
    EXPECT_FALSE(WaitForRenderDone(thread, 0));
    // A signal left over from an earlier run on this machine would release the thread at once.
    NamedEvent* drain = OpenNamedEvent("/THEMEXXX");
    ASSERT_NE(drain, nullptr);
    while (WaitNamedEvent(drain, 0)) {
    }
    CloseNamedEvent(drain);
    StartRenderThread(thread, DailyRenderWork(run));
    // (Whether it waits for the signal is not asserted: any run of the program on this machine
    // signals the same named event.)
    // Another run on this machine may take a signal first; keep signalling until it is done.
    bool done = false;
    for (int attempt = 0; attempt < 100 && !done; ++attempt) {
        NamedEvent* event = thread->CaptureEvent.load();
        if (event != nullptr) SetNamedEvent(event);
        done = WaitForRenderDone(thread, 200);
    }
    ASSERT_TRUE(done);
    EXPECT_EQ(run->recordCount, 30);
    EXPECT_EQ(ChartInputFor(run->settings, run->screenGeometry, {}).range.plan, ChannelPlan9);
    FrameBitmap* frame = run->frameBitmap;
    ASSERT_NE(frame, nullptr);
    ASSERT_EQ(frame->width, run->screenGeometry.screenWidth);
    ASSERT_EQ(frame->height, run->screenGeometry.screenHeight);
    int x = 558 + run->screenGeometry.chartXOrigin - 500;
    int y = 40 + 20;
    const unsigned char* p =
        frame->bits + (size_t(frame->height - 1 - y) * size_t(frame->width) + size_t(x)) * 4;
    EXPECT_GT(p[2], 200);  // red
    EXPECT_GT(p[1], 200);  // green
    // A second signal is swallowed by the parked thread and draws nothing new.
    SetNamedEvent(thread->CaptureEvent.load());
    SleepMs(300);
    EXPECT_EQ(run->frameBitmap, frame);
}

}  // namespace
