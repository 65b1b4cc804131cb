// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdio>
#include <cstring>

#include "daylog/day_log.h"
#include "output/snapshot.h"
#include "output/summary.h"
#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/files.h"
#include "platform/named_event.h"
#include "render/render_thread.h"
#include "report/exit_codes.h"
#include "report/report.h"
#include "talvor/app.h"

namespace talvor {

namespace {

// The event this capture has signalled, if any, and the handle it opened itself (when the
// render thread had not made its own yet).
struct Signalled {
    NamedEvent* event = nullptr;
    NamedEvent* ownHandle = nullptr;
};

// Releases the render thread. When it has not made its event yet (a slow surface), the signal
// goes to the named event itself and waits there for it; when it has already given up or been
// released, nothing is signalled, so that no stale signal releases some later run early.
void ReleaseRenderThread(RenderThread* thread, Signalled* signalled) {
    if (thread->CaptureTaken.load()) return;
    NamedEvent* known = thread->CaptureEvent.load();
    if (known == nullptr) {
        if (WaitForRenderDone(thread, 0)) return;
        if (signalled->ownHandle == nullptr) {
            signalled->ownHandle = OpenNamedEvent(kCaptureEventName);
        }
        known = signalled->ownHandle;
    }
    if (known == nullptr) {
        Report("the capture event could not be opened");
        return;
    }
    SetNamedEvent(known);
    signalled->event = known;
}

// The event outlives the process: a signal of ours that no thread took would release the next
// run's render thread as soon as its surface exists. Taken back once nothing waits for it.
void TakeBackSignal(const Signalled& signalled) {
    if (signalled.event != nullptr) WaitNamedEvent(signalled.event, 0);
    CloseNamedEvent(signalled.ownHandle);
}

// The records may still be in the render thread's hands, so the summary cannot be made from
// them; an empty file still tells the reader that this run found nothing to report.
bool WriteEmptySummary() {
    if (Outcome written = WriteFileWhole("Z.TXT", nullptr, 0); !written) {
        ReportCannotWrite("Z.TXT", written.reason);
        return false;
    }
    Report("Z.TXT left empty, the day log was not read in time");
    return true;
}

}  // namespace

void RunCapture(DailyRun* run, const CaptureTimeline& timeline) {
    KillOneShotTimer(&run->loop);
    RenderThread* thread = &run->renderThread;
    Signalled signalled;
    ReleaseRenderThread(thread, &signalled);
    // The render thread's budget; the capture must not come earlier than this however fast it is.
    SleepMs(timeline.capturePauseMs);
    bool renderDone = WaitForRenderDone(thread, 0);
    // Another of this user's runs may be parked on the same event and take our signal. Signalling
    // again while we wait costs nothing (a set event is not counted twice) and releases our
    // thread if that happened.
    for (int64_t deadline = MonotonicMs() + timeline.renderGraceMs; !renderDone;) {
        int64_t left = deadline - MonotonicMs();
        if (left <= 0) break;
        ReleaseRenderThread(thread, &signalled);
        renderDone =
            WaitForRenderDone(thread, int(left < timeline.resignalMs ? left : timeline.resignalMs));
    }
    TakeBackSignal(signalled);

    run->CaptureMode = run->paths.ZVariant ? kZCapture : kDatedCapture;
    // A scheduler learns of a failed run only from the exit status: any missing output fails it.
    bool pictureSaved = false;
    bool summaryWritten = false;
    if (renderDone && run->dayLogUnreadable) {
        // Drawn and summed up as an empty day, it would replace the good picture and Z.TXT of an
        // earlier run of the same day.
        Report("no picture and no Z.TXT written, as the day log could not be read");
        ReleaseRecordBuffer(&run->RecordBuffer);
    } else if (renderDone) {
        pictureSaved = bool(SaveSnapshotGif(run));
        summaryWritten = bool(WriteSummaryFile(run));
        ReleaseRecordBuffer(&run->RecordBuffer);
    } else {
        // The frame and the records are left alone: the render thread may still be writing them.
        Report("the chart was not finished in time; no picture saved");
        summaryWritten = WriteEmptySummary();
    }
    PostQuit(&run->loop, pictureSaved && summaryWritten ? kExitOk : kExitFailed);
}

}  // namespace talvor
