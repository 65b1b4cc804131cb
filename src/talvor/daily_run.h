// SPDX-License-Identifier: GPL-3.0-or-later
// What one run of talvor reads and writes, made by its entry point and handed to every step, and
// the run's steps by their names: each a thin wrapper over the layer's own call, which takes
// only what it uses.
#pragma once

#include "config/run_state.h"
#include "config/settings.h"
#include "frame/frame_bitmap.h"
#include "output/snapshot.h"
#include "platform/event_loop.h"
#include "render/font_lists.h"
#include "render/render_thread.h"

namespace talvor {

// Start-up fills it before the render thread exists; afterwards only the render thread's load
// (RecordBuffer, recordCount, dayLogUnreadable) and read-back (frameBitmap) change it, and the
// capture sequence takes those over once the render thread is done.
struct DailyRun {
    DailyRun() = default;
    // The run owns its buffers: whatever it still holds goes with it (the program exits right
    // after, but a test or a second run in the same process must not leak a day's worth).
    ~DailyRun();
    DailyRun(const DailyRun&) = delete;
    DailyRun& operator=(const DailyRun&) = delete;

    RunPaths paths;  // StartTime, ExeFolder, ConfigFilePath, DataFolder, DayLogPath, ZVariant
    ScreenGeometry screenGeometry;
    Settings settings;
    unsigned char* RecordBuffer = nullptr;  // kRecordBufferSize bytes once allocated
    int recordCount = 0;                    // records loaded, in slots 1..recordCount
    // The day log is there but could not be read: the day must not be drawn or summed up as if
    // it were empty.
    bool dayLogUnreadable = false;
    // The day log, held open from its load: talvor-log may keep appending while the run reads.
    int dayLogFile = -1;
    FontFaces fonts;  // the stock face and the TitleFont, found at start-up
    RenderThread renderThread;
    FrameBitmap* frameBitmap = nullptr;  // made by the read-back, taken over by the snapshot
    int CaptureMode = kDatedCapture;
    EventLoop loop;
};

// The configuration at paths.ConfigFilePath into settings; may replace paths.DataFolder.
void ReadConfiguration(DailyRun* run);
// paths.DayLogPath into the RecordBuffer, the count in recordCount; a log that cannot be read
// is reported and sets dayLogUnreadable.
void LoadDayLog(DailyRun* run);
// The chart of the loaded records on the render thread's surface.
void DrawChart(DailyRun* run);
// Saves frameBitmap beside the executable, named by CaptureMode and the run's start date, and
// frees it; why not, said on standard error too, when no picture was saved.
Outcome SaveSnapshotGif(DailyRun* run);
// Writes "Z.TXT" in the working directory from the loaded records; why not, said on standard
// error too, when it was not written.
Outcome WriteSummaryFile(DailyRun* run);

}  // namespace talvor
