// SPDX-License-Identifier: GPL-3.0-or-later
// Draws talvor-render's days one after another on this process's surface, each picture written
// on a second thread while the next day is drawn.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "talvor-render/output_plan.h"
#include "talvor-render/picture_writer.h"
#include "talvor-render/render_run.h"

namespace talvor {

struct SiteRun;

// What every drawer of a run works from, set up once for the run.
struct DrawingPlan {
    RenderRun* run = nullptr;  // the settings, the screen, the record buffer and the surface
    std::vector<DayJob>* jobs = nullptr;
    const OutputPlan* plan = nullptr;
    const ReadFiles* reads = nullptr;
    std::string summaryPath;  // empty: no summary
    SiteRun* site = nullptr;  // --site: each day goes into the website instead of a picture
};

// Told of each day once its picture is written (or has failed), in the order the days were
// given.
using DayDone = std::function<void(size_t job, bool written, bool summaryFailed)>;

class DayDrawer {
  public:
    DayDrawer(const DrawingPlan& work, DayDone done) : work_(work), done_(std::move(done)) {}
    ~DayDrawer() { Settle(); }
    DayDrawer(const DayDrawer&) = delete;
    DayDrawer& operator=(const DayDrawer&) = delete;

    // Draws the job's day with the surface current and hands its picture to the writer.
    void Draw(size_t job);
    // Waits for the picture in hand and reports it.
    void Settle();

  private:
    const DrawingPlan& work_;
    DayDone done_;
    PendingPicture pending_;
    bool pendingSummaryFailed_ = false;
};

// The surface, font lists and projection of this process; false, with a message, without them.
bool MakeSurface(RenderRun* run);

}  // namespace talvor
