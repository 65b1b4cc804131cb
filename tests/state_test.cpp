// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "config/configuration.h"
#include "config/settings.h"
#include "daylog/day_log.h"
#include "output/snapshot.h"
#include "platform/event_loop.h"
#include "platform/process.h"
#include "render/render_thread.h"
#include "state/process_state.h"
#include "station/frame_bitmap.h"
#include "station/report.h"
#include "station/run_state.h"
#include "test_support.h"

namespace {

int firedCode = 0;

// Whatever one test leaves behind, through the calls that the programs make, is gone for the
// next: each value reads as in a process that has just started.
TEST(ProcessState, ResetLeavesNothingOfAnEarlierTestBehind) {
    const struct {
        const char* name;
        std::function<void()> leave;
        std::function<bool()> asAtStart;
    } cases[] = {
        {"settings and profile folder",
         [] {
             const char text[] =
                 "[CUSTOM]\r\nQTH=Oslo,59.9,10.7\r\nVOKSENS=0.5\r\n[KELDAN]\r\n"
                 "SET /tmp\r\n";
             ReadConfigurationBytes(text, sizeof text - 1);
         },
         [] {
             return settings.sensitivity == Settings{}.sensitivity &&
                    settings.locationName[0] == '\0' && !settings.coordinatesGiven &&
                    ProfileFolder.empty() && LastScannedLength() == 0 &&
                    runPaths.DataFolder.empty();
         }},
        {"paths and geometry",
         [] {
             runPaths.ZVariant = true;
             runPaths.DayLogPath = "/x/VOK.LOG";
             screenGeometry = ComputeScreenGeometry(1366, 768);
         },
         [] {
             return !runPaths.ZVariant && runPaths.DayLogPath.empty() &&
                    screenGeometry.screenWidth == 0 && screenGeometry.chartHeight == 0;
         }},
        {"record buffer and count",
         [] {
             AllocateRecordBuffer();
             recordCount = 12;
         },
         [] { return RecordBuffer == nullptr && recordCount == 0; }},
        {"frame", [] { frameBitmap = NewFrameBitmap(4, 4); },
         [] { return frameBitmap == nullptr; }},
        {"capture mode and event",
         [] {
             CaptureMode = kZCapture;
             CaptureTaken.store(true);
         },
         [] {
             return CaptureMode == kDatedCapture && !CaptureTaken.load() &&
                    CaptureEvent.load() == nullptr && !WaitForRenderDone(0);
         }},
        {"program name and report handler",
         [] {
             SetProgramName("talvor-log");
             SetReportHandler([](const std::string&) {});
         },
         [] {
             testing::internal::CaptureStderr();
             Report("said");
             return testing::internal::GetCapturedStderr() == "TALVOR: said\n";
         }},
        {"timer and quit",
         [] {
             ArmOneShotTimer(0, [] { firedCode = 5; });
             PostQuit(3);
         },
         [] {
             firedCode = 0;
             ArmOneShotTimer(0, [] { PostQuit(7); });
             return RunEventLoop() == 7 && firedCode == 0;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ResetProcessState();
        c.leave();
        ResetProcessState();
        EXPECT_TRUE(c.asAtStart());
    }
    ResetProcessState();
}

}  // namespace
