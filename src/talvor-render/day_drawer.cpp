// SPDX-License-Identifier: GPL-3.0-or-later
#include "talvor-render/day_drawer.h"

#include "calendar/calendar.h"
#include "daylog/day_log.h"
#include "frame/frame_bitmap.h"
#include "output/summary.h"
#include "platform/clock.h"
#include "platform/outcome.h"
#include "render/chart.h"
#include "render/render_surface.h"
#include "render/render_thread.h"
#include "report/report.h"
#include "talvor-render/run_report.h"
#include "talvor-render/site_run.h"

namespace talvor {

namespace {

// The day a log file outside a dated folder holds, from its first record's time text.
bool DateFromFirstRecord(RecordSpan records, UtcTime* date) {
    if (records.count < 1) return false;
    std::string text(TimeText(records.At(0)), 10);
    return ParseDate(text, date);
}

// Draws one day with the surface current, and reads the frame back into *frame (nullptr when
// memory is short). False, with nothing drawn, when the log is there but cannot be read (an empty
// picture would replace a good one), or when a day known only from its log is named once the log
// is read and that name is refused.
bool DrawDay(RenderRun* run, DayJob* job, const OutputPlan& plan, const ReadFiles& reads,
             FrameBitmap** frame, SiteDayEarly* early) {
    Outcome loaded =
        job->read ? *job->read : LoadDayLogFrom(job->logPath, run->RecordBuffer, &run->recordCount);
    job->read.reset();
    if (!loaded) {
        Report(loaded.reason);
        return false;
    }
    const RecordSpan records = LoadedRecords(run->RecordBuffer, run->recordCount);
    UtcTime now = GetUtcTime();
    if (!job->dayKnown) {
        job->dayKnown = DateFromFirstRecord(records, &job->day);
        if (!job->dayKnown) job->day = now;
        if (!OutputAccepted(PicturePath(plan, job->day), reads)) return false;
    }
    // The site's work on the log and records alone goes on beside the drawing.
    if (early != nullptr) BeginSiteDay(job->logPath, records, early);
    // Today's picture shows the time of drawing, as the daily run's does; any other day is
    // drawn as it stood at its end.
    UtcTime footerClock = FooterClock(job->day, now);
    const ScreenGeometry& g = run->screenGeometry;
    ChartInput input = ChartInputFor(run->settings, g, records);
    if (CompareDays(job->day, now) != 0) input.clock = &footerClock;
    DrawChartOf(input, &run->surface);
    *frame = ReadBackFrame(g.screenWidth, g.screenHeight);
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
    FrameBitmap* frame = nullptr;
    SiteDayEarly early;
    if (!DrawDay(work_.run, job, *work_.plan, *work_.reads, &frame,
                 work_.site != nullptr ? &early : nullptr)) {
        Settle();
        done_(index, false, false);
        return;
    }
    if (work_.site != nullptr) {
        // The site takes the day's records as well as its frame: written before the next load.
        bool written =
            frame != nullptr && WriteDrawnDay(work_.site, work_.run, *job, *frame, &early);
        FreeFrameBitmap(frame);
        Settle();
        done_(index, written, false);
        return;
    }
    bool summaryWritten =
        work_.summaryPath.empty() ||
        WriteSummaryFileTo(work_.summaryPath.c_str(),
                           LoadedRecords(work_.run->RecordBuffer, work_.run->recordCount));
    Settle();
    pendingSummaryFailed_ = !summaryWritten;
    // A run of one day has a core free once it is drawn; a range's pictures are written beside
    // the next day's drawing, or by workers that fill the cores already.
    const GifThreads gifThreads = work_.jobs->size() == 1 ? GifThreads::Two : GifThreads::One;
    StartWrite(&pending_, frame, work_.plan->format, PicturePath(*work_.plan, job->day), index,
               gifThreads);
}

bool MakeSurface(RenderRun* run) {
    const ScreenGeometry& g = run->screenGeometry;
    Outcome made =
        CreateRenderSurfaceOfSize(g.screenWidth, g.screenHeight, &run->fonts, &run->surface);
    if (!made) {
        DestroyRenderSurface(&run->surface);
        Report("cannot make the OpenGL surface: " + made.reason + " (step " +
               std::to_string(SurfaceStatus(made)) + ")");
        return false;
    }
    SetChartProjection(g.screenWidthF, g.screenHeightF);
    return true;
}

}  // namespace talvor
