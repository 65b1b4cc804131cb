// SPDX-License-Identifier: GPL-3.0-or-later
// The render thread: it owns the GL surface, waits for the capture, draws the frame and hands it
// over.
#include "render/render_thread.h"

#include <GL/gl.h>

#include <chrono>
#include <thread>

#include "platform/named_event.h"
#include "platform/outcome.h"
#include "report/report.h"

namespace talvor {

namespace {

void SignalRenderDone(RenderThread* thread) {
    // Notified under the lock, so that a waiter that sees done also sees the notification
    // finished: the handles may go (the process may end) right after the wait returns.
    std::lock_guard<std::mutex> lock(thread->doneMutex);
    thread->done = true;
    thread->doneChanged.notify_all();
}

// Parked for the rest of the process, but not on the capture event: every run on the machine
// shares it by name, and a parked thread waiting there would take the signal that releases
// another run's render thread. Its lock and condition are its own and never freed: the parked
// thread outlives whatever the program ends with.
[[noreturn]] void ParkForGood() {
    auto* parkMutex = new std::mutex;
    auto* parkedForGood = new std::condition_variable;
    std::unique_lock<std::mutex> lock(*parkMutex);
    for (;;) parkedForGood->wait(lock);
}

}  // namespace

void SetChartProjection(float width, float height) {
    glDisable(GL_DEPTH_TEST);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glViewport(0, 0, GLsizei(width), GLsizei(height));
    glOrtho(0.0, width, height, 0.0, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
}

FrameBitmap* ReadBackFrame(int width, int height) {
    FrameBitmap* frame = NewFrameBitmap(width, height);
    if (frame == nullptr) return nullptr;
    // The buffer holds exactly width x height tightly packed pixels; make sure nothing else in
    // the pack state can make the read longer.
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glPixelStorei(GL_PACK_SKIP_ROWS, 0);
    glPixelStorei(GL_PACK_SKIP_PIXELS, 0);
    glReadPixels(0, 0, frame->width, frame->height, GL_BGRA, GL_UNSIGNED_BYTE, frame->bits);
    return frame;
}

void RenderThreadMain(RenderThread* thread, const RenderThreadWork& work) {
    if (Outcome made = CreateRenderSurface(work.geometry, work.faces, &thread->surface); !made) {
        ReportFormatted("OpenGL is not available (%s, status %d)", made.reason.c_str(),
                        SurfaceStatus(made));
        DestroyRenderSurface(&thread->surface);
        // Without a frame the run still writes its summary, which needs the records.
        if (work.withoutSurface) work.withoutSurface();
        SignalRenderDone(thread);
        return;
    }

    NamedEvent* event = OpenNamedEvent(kCaptureEventName);
    if (const char* why = NamedEventPrivateReason(event); why != nullptr) {
        ReportFormatted(
            "the capture event %s is not used (%s); this run hands over through an event of its "
            "own",
            kCaptureEventName, why);
    }
    thread->CaptureEvent.store(event);
    if (event == nullptr) {
        work.drawFrame();
        SignalRenderDone(thread);
        return;
    }

    const bool sharedBefore = NamedEventPrivateReason(event) == nullptr;
    WaitNamedEvent(event, -1);
    if (const char* why = NamedEventPrivateReason(event); sharedBefore && why != nullptr) {
        ReportFormatted("the capture event %s went private while this run waited (%s)",
                        kCaptureEventName, why);
    }
    // From here on a signal is left for nobody; the capture sequence stops signalling.
    thread->CaptureTaken.store(true);
    work.drawFrame();
    SignalRenderDone(thread);
    ParkForGood();
}

void StartRenderThread(RenderThread* thread, RenderThreadWork work) {
    std::thread([thread, work = std::move(work)] { RenderThreadMain(thread, work); }).detach();
}

bool WaitForRenderDone(RenderThread* thread, int timeoutMs) {
    std::unique_lock<std::mutex> lock(thread->doneMutex);
    if (timeoutMs < 0) {
        thread->doneChanged.wait(lock, [thread] { return thread->done; });
        return true;
    }
    return thread->doneChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                        [thread] { return thread->done; });
}

}  // namespace talvor
