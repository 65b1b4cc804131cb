// SPDX-License-Identifier: GPL-3.0-or-later
#include "state/process_state.h"

#include "config/configuration.h"
#include "daylog/day_log.h"
#include "output/snapshot.h"
#include "platform/event_loop.h"
#include "platform/process.h"
#include "render/render_thread.h"
#include "station/frame_bitmap.h"
#include "station/report.h"
#include "station/run_state.h"

void ResetProcessState() {
    runPaths = RunPaths{};
    screenGeometry = ScreenGeometry{};
    FreeFrameBitmap(frameBitmap);
    frameBitmap = nullptr;
    SetReportHandler(nullptr);
    SetProgramName(nullptr);

    ResetConfiguration();

    CloseDayLog();
    ReleaseRecordBuffer();
    recordCount = 0;
    dayLogUnreadable = false;

    ResetRenderThread();
    CaptureMode = kDatedCapture;
    ResetEventLoop();
}
