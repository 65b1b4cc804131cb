// SPDX-License-Identifier: GPL-3.0-or-later
#include "talvor-render/range_drawing.h"

#include <algorithm>
#include <string>

#include "calendar/calendar.h"
#include "config/run_state.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "render/render_surface.h"
#include "report/report.h"

namespace talvor {

namespace {

// How the days' pictures come about: drawn here one after another, or collected from workers.
struct DaySource {
    std::function<void(size_t job)> take;  // draws or collects the day; it is reported once settled
    std::function<void()> settle;          // reports every day taken so far
};

// The one walk over the days: the bar moves, a day without a log is reported in its place, and
// every day with one is taken in date order.
void WalkDays(const RenderRequest& request, const std::vector<DayJob>& jobs, RunReport* report,
              const DaySource& source) {
    if (request.source != RenderSource::Range) {
        source.take(0);
        source.settle();
        return;
    }
    size_t next = 0;
    int64_t lastBar = -1;
    if (request.loggedDaysOnly) {
        for (; next < jobs.size(); ++next, ++report->progress.done) {
            AdvanceBar(report, jobs[next].day, true, &lastBar);
            source.take(next);
        }
        source.settle();
        return;
    }
    for (UtcTime day = request.from; CompareDays(day, request.to) <= 0; day = NextDay(day)) {
        bool present = next < jobs.size() && CompareDays(jobs[next].day, day) == 0;
        AdvanceBar(report, day, present, &lastBar);
        if (present) {
            source.take(next++);
        } else {
            source.settle();
            ReportNoLog(report, day);
        }
        ++report->progress.done;
    }
    source.settle();
}

// A range drawn by several worker processes, each with its own driver and surface; the parent
// reports the days in date order as their results come in. A day whose worker could not start
// or ended early is drawn here after all, so a failing worker costs time, not pictures.
void DrawInWorkers(const RenderRequest& request, const DrawingPlan& work, int workerCount,
                   const WorkerShare& share, RunReport* report) {
    std::vector<WorkerProcess> workers(static_cast<size_t>(workerCount));
    for (int k = 0; k < workerCount; ++k) {
        StartWorkerProcess(
            [&, k](int resultsFd) {
                ShareProcessorsWithOtherDrawers(workerCount, UsableProcessorCount());
                return share(work, size_t(k), size_t(workerCount), resultsFd);
            },
            &workers[size_t(k)]);
    }
    enum : int8_t { kPending = -1, kFailed = 0, kWritten = 1 };
    std::vector<int8_t> results(work.jobs->size(), kPending);
    std::vector<WorkerResult> arrived;
    bool surface = false, surfaceFailed = false;
    DayDrawer here(work, [&](size_t done, bool written, bool) {
        results[done] = written ? kWritten : kFailed;
    });

    DaySource source;
    source.take = [&](size_t job) {
        // Only the worker of this day can settle it; once its pipe has closed it never will.
        while (results[job] == kPending && workers[job % workers.size()].resultsFd >= 0) {
            arrived.clear();
            if (!ReceiveWorkerResults(&workers, &arrived)) break;
            for (const WorkerResult& r : arrived) {
                if (r.job >= 0 && size_t(r.job) < results.size()) {
                    results[size_t(r.job)] = r.value != 0 ? kWritten : kFailed;
                }
            }
        }
        if (results[job] == kPending) {
            if (!surface && !surfaceFailed) {
                surface = MakeSurface(work.run);
                surfaceFailed = !surface;
            }
            if (surface) {
                here.Draw(job);
                here.Settle();
            }
            if (results[job] == kPending) results[job] = kFailed;
        }
        const DayJob& drawn = (*work.jobs)[job];
        ReportPicture(report, FormatDate(drawn.day), PicturePath(*work.plan, drawn.day),
                      results[job] == kWritten);
    };
    source.settle = [] {};
    WalkDays(request, *work.jobs, report, source);
    for (WorkerProcess& worker : workers) EndWorkerProcess(&worker);
}

}  // namespace

// Each result goes to the parent as soon as the day's picture is written.
int DrawWorkerShare(const DrawingPlan& work, size_t first, size_t count, int resultsFd) {
    if (!MakeSurface(work.run)) return 1;
    bool parentThere = true;
    DayDrawer drawer(work, [&](size_t job, bool written, bool) {
        if (parentThere) parentThere = SendWorkerResult(resultsFd, {int32_t(job), written});
    });
    for (size_t i = first; i < work.jobs->size() && parentThere; i += count) drawer.Draw(i);
    drawer.Settle();
    return parentThere ? 0 : 1;
}

// Workers are worth their start-up only for more than one day; each is a process of its own,
// forked before any driver is loaded, so that no drawing state is shared.
int WorkerCountFor(const RenderRequest& request, size_t days, const WorkerRoom& room,
                   std::string* note) {
    if (request.source != RenderSource::Range || days <= 1) return 1;
    const int processors = std::max(room.processors, 1);
    const int asked = request.jobs > 0 ? request.jobs : processors;
    // Fewer days than workers is no shortage of room, and goes unsaid.
    int wanted = std::min<int64_t>(asked, int64_t(days));
    int count = std::min(wanted, processors);
    std::string why;
    if (count < wanted) why = std::to_string(processors) + " processors available";
    if (room.availableBytes >= 0) {
        int64_t perWorker = std::max<int64_t>(room.bytesPerWorker, 1);
        int64_t fit = std::max<int64_t>(room.availableBytes / perWorker, 1);
        if (fit < count) {
            count = int(fit);
            why = std::to_string(room.availableBytes >> 20) + " MB of memory available, about " +
                  std::to_string(perWorker >> 20) + " MB a worker";
        }
    }
    if (count < wanted && request.jobs > 0) {
        *note = "--jobs " + std::to_string(request.jobs) + " lowered to " + std::to_string(count) +
                ": " + why;
    } else if (count < wanted) {
        *note = "drawing with " + std::to_string(count) + " worker" + (count == 1 ? "" : "s") +
                ": " + why;
    }
    return count;
}

int WorkerCountFor(const RenderRequest& request, size_t days, const ScreenGeometry& geometry) {
    std::string note;
    WorkerRoom room{UsableProcessorCount(), AvailableMemoryBytes(),
                    WorkerBytesFor(geometry.screenWidth, geometry.screenHeight)};
    int count = WorkerCountFor(request, days, room, &note);
    if (!note.empty()) Report(note);
    return count;
}

bool DrawDays(const RenderRequest& request, const DrawingPlan& work, int workerCount,
              const WorkerShare& share, RunReport* report) {
    if (workerCount > 1) {
        DrawInWorkers(request, work, workerCount, share, report);
        return true;
    }
    if (!MakeSurface(work.run)) return false;
    DayDrawer drawer(work, [&](size_t job, bool written, bool summaryFailed) {
        const DayJob& drawn = (*work.jobs)[job];
        ReportPicture(report, FormatDate(drawn.day), PicturePath(*work.plan, drawn.day), written);
        if (summaryFailed) report->summaryFailed = true;
    });
    DaySource source;
    source.take = [&](size_t job) { drawer.Draw(job); };
    source.settle = [&] { drawer.Settle(); };
    WalkDays(request, *work.jobs, report, source);
    return true;
}

}  // namespace talvor
