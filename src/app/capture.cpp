#include <cstdio>

#include "app/app.h"
#include "daylog/day_log.h"
#include "output/snapshot.h"
#include "output/summary.h"
#include "platform/platform.h"
#include "render/render_thread.h"
#include "station/run_state.h"

namespace {

constexpr const char* kCaptureEventName = "/THEMEXXX";
constexpr int kResignalMs = 250;

// Releases the render thread. When it has not made its event yet (a slow surface), the signal
// goes to the named event itself and waits there for it; when it has already given up, nothing
// is signalled, so that no stale signal releases some later run early.
void ReleaseRenderThread() {
    NamedEvent* known = CaptureEvent.load();
    if (known != nullptr) {
        SetNamedEvent(known);
        return;
    }
    if (WaitForRenderDone(0)) return;
    NamedEvent* event = OpenNamedEvent(kCaptureEventName);
    if (event == nullptr) {
        std::fprintf(stderr, "TALVOR: the capture event could not be opened\n");
        return;
    }
    SetNamedEvent(event);
    CloseNamedEvent(event);
}

// The records may still be in the render thread's hands, so the summary cannot be made from
// them; an empty file still tells the reader that this run found nothing to report.
void WriteEmptySummary() {
    int fd = CreateForWriting("Z.TXT");
    if (fd < 0 || !CloseWritten(fd)) {
        std::fprintf(stderr, "TALVOR: Z.TXT could not be written\n");
        return;
    }
    std::fprintf(stderr, "TALVOR: Z.TXT left empty, the day log was not read in time\n");
}

}  // namespace

void CaptureTimerProc() {
    KillOneShotTimer();
    ReleaseRenderThread();
    // The render thread's budget; the capture must not come earlier than this however fast it is.
    SleepMs(kCapturePauseMs);
    bool renderDone = WaitForRenderDone(0);
    // The event is shared by name with every other run on the machine, and a parked render
    // thread of another run can take our signal. Signalling again while we wait costs nothing
    // (a set event is not counted twice) and releases our thread if that happened.
    for (int64_t deadline = MonotonicMs() + kRenderGraceMs; !renderDone;) {
        int64_t left = deadline - MonotonicMs();
        if (left <= 0) break;
        ReleaseRenderThread();
        renderDone = WaitForRenderDone(int(left < kResignalMs ? left : kResignalMs));
    }

    CaptureMode = runPaths.ZVariant ? 2 : 1;
    if (renderDone) {
        SaveSnapshotGif();
        WriteSummaryFile();
        ReleaseRecordBuffer();
    } else {
        // The frame and the records are left alone: the render thread may still be writing them.
        std::fprintf(stderr, "TALVOR: the chart was not finished in time; no picture saved\n");
        WriteEmptySummary();
    }
    PostQuit(0);
}
