// SPDX-License-Identifier: GPL-3.0-or-later
#include "tool/day_drawer.h"

#include "config/settings.h"
#include "daylog/day_log.h"
#include "output/summary.h"
#include "platform/clock.h"
#include "platform/outcome.h"
#include "render/chart.h"
#include "render/render_surface.h"
#include "render/render_thread.h"
#include "station/calendar.h"
#include "station/frame_bitmap.h"
#include "station/report.h"
#include "station/run_state.h"
#include "tool/run_report.h"
#include "tool/site_run.h"

namespace {

// The day a log file outside a dated folder holds, from its first record's time text.
bool DateFromFirstRecord(UtcTime* date) {
    if (RecordBuffer == nullptr || recordCount < 1) return false;
    std::string text(TimeText(RecordAt(0)), 10);
    return ParseDate(text, date);
}

// Draws one day with the surface current; the frame is left in frameBitmap. False, with nothing
// drawn, when the log is there but cannot be read (an empty picture would replace a good one),
// or when a day known only from its log is named once the log is read and that name is refused.
bool DrawDay(DayJob* job, const OutputPlan& plan, const ReadFiles& reads) {
    recordCount = 0;
    if (Outcome loaded = LoadDayLogFrom(job->logPath, RecordBuffer, &recordCount); !loaded) {
        Report(loaded.reason);
        return false;
    }
    UtcTime now = GetUtcTime();
    if (!job->dayKnown) {
        job->dayKnown = DateFromFirstRecord(&job->day);
        if (!job->dayKnown) job->day = now;
        if (!OutputAccepted(PicturePath(plan, job->day), reads)) return false;
    }
    // Today's picture shows the time of drawing, as the daily run's does; any other day is
    // drawn as it stood at its end.
    UtcTime footerClock = FooterClock(job->day, now);
    ChartInput input = DailyChartInput();
    if (CompareDays(job->day, now) != 0) input.clock = &footerClock;
    DrawChartOf(input);
    ReadBackFrame();
    return true;
}

}  // namespace

void DayDrawer::Settle() {
    if (!pending_.active) return;
    bool written = FinishWrite(&pending_);
    done_(pending_.job, written, pendingSummaryFailed_);
}

void DayDrawer::Draw(size_t index) {
    DayJob* job = &(*work_.jobs)[index];
    if (!DrawDay(job, *work_.plan, *work_.reads)) {
        CloseDayLog();
        Settle();
        done_(index, false, false);
        return;
    }
    FrameBitmap* frame = frameBitmap;
    frameBitmap = nullptr;
    if (work_.site != nullptr) {
        // The site takes the day's records as well as its frame: written before the next load.
        bool written = frame != nullptr && WriteDrawnDay(work_.site, *job, *frame);
        FreeFrameBitmap(frame);
        CloseDayLog();
        Settle();
        done_(index, written, false);
        return;
    }
    bool summaryWritten =
        work_.summaryPath.empty() || WriteSummaryFileTo(work_.summaryPath.c_str());
    CloseDayLog();
    Settle();
    pendingSummaryFailed_ = !summaryWritten;
    StartWrite(&pending_, frame, work_.plan->format, PicturePath(*work_.plan, job->day), index);
}

bool MakeSurface() {
    Outcome made =
        CreateRenderSurfaceOfSize(screenGeometry.screenWidth, screenGeometry.screenHeight);
    if (!made) {
        DestroyRenderSurface();
        Report("cannot make the OpenGL surface: " + made.reason + " (step " +
               std::to_string(made.code) + ")");
        return false;
    }
    SetChartProjection(screenGeometry.screenWidthF, screenGeometry.screenHeightF);
    return true;
}
