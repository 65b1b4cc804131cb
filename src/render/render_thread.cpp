// SPDX-License-Identifier: GPL-3.0-or-later
// The render thread: it owns the GL surface, waits for the capture, loads the day log, draws the
// chart and hands the frame over.
#include "render/render_thread.h"

#include <GL/gl.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <thread>

#include "config/settings.h"
#include "daylog/day_log.h"
#include "platform/named_event.h"
#include "platform/outcome.h"
#include "render/chart.h"
#include "render/render_surface.h"
#include "station/report.h"
#include "station/run_state.h"

std::atomic<NamedEvent*> CaptureEvent{nullptr};
std::atomic<bool> CaptureTaken{false};

namespace {

// The capture sequence must not take the frame or the records while they are still being made;
// it waits for this instead of trusting its pause to be long enough.
std::mutex renderDoneMutex;
std::condition_variable renderDoneChanged;
bool renderDone = false;

void SignalRenderDone() {
    // Notified under the lock, so that a waiter that sees renderDone also sees the notification
    // finished: the process may end (destroying these statics) right after the wait returns.
    std::lock_guard<std::mutex> lock(renderDoneMutex);
    renderDone = true;
    renderDoneChanged.notify_all();
}

void DrawFrame() {
    SetChartProjection(screenGeometry.screenWidthF, screenGeometry.screenHeightF);
    // The origin again from the width as reported at start-up, without the 1366 -> 1368 change.
    // Start-up stored the same origin; writing only a changed value keeps concurrent reads safe.
    int chartXOrigin = int(screenGeometry.screenWidthF) / 2 - 600;
    if (screenGeometry.chartXOrigin != chartXOrigin) screenGeometry.chartXOrigin = chartXOrigin;
    LoadDayLog();
    DrawChart();
    ReadBackFrame();
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

void ReadBackFrame() {
    // A frame nobody took yet (only when drawing twice) is replaced, not leaked.
    FreeFrameBitmap(frameBitmap);
    frameBitmap = NewFrameBitmap(screenGeometry.screenWidth, screenGeometry.screenHeight);
    if (frameBitmap == nullptr) return;
    // The buffer holds exactly width x height tightly packed pixels; make sure nothing else in
    // the pack state can make the read longer.
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glPixelStorei(GL_PACK_SKIP_ROWS, 0);
    glPixelStorei(GL_PACK_SKIP_PIXELS, 0);
    glReadPixels(0, 0, frameBitmap->width, frameBitmap->height, GL_BGRA, GL_UNSIGNED_BYTE,
                 frameBitmap->bits);
}

void RenderThreadMain() {
    if (Outcome made = CreateRenderSurface(); !made) {
        ReportFormatted("OpenGL is not available (%s, status %d)", made.reason.c_str(), made.code);
        DestroyRenderSurface();
        // Without a frame the run still writes its summary, which needs the records.
        LoadDayLog();
        SignalRenderDone();
        return;
    }

    NamedEvent* event = OpenNamedEvent(kCaptureEventName);
    if (const char* why = NamedEventPrivateReason(event); why != nullptr) {
        ReportFormatted(
            "the capture event %s is not used (%s); this run hands over through an event of its "
            "own",
            kCaptureEventName, why);
    }
    CaptureEvent.store(event);
    if (event == nullptr) {
        DrawFrame();
        SignalRenderDone();
        return;
    }

    const bool sharedBefore = NamedEventPrivateReason(event) == nullptr;
    WaitNamedEvent(event, -1);
    if (const char* why = NamedEventPrivateReason(event); sharedBefore && why != nullptr) {
        ReportFormatted("the capture event %s went private while this run waited (%s)",
                        kCaptureEventName, why);
    }
    // From here on a signal is left for nobody; the capture sequence stops signalling.
    CaptureTaken.store(true);
    DrawFrame();
    SignalRenderDone();

    // Parked for the rest of the process, but not on the capture event: every run on the machine
    // shares it by name, and a parked thread waiting there would take the signal that releases
    // another run's render thread.
    // Never destroyed: the parked thread outlives the static destructors when the process ends.
    static auto* parkMutex = new std::mutex;
    static auto* parkedForGood = new std::condition_variable;
    std::unique_lock<std::mutex> lock(*parkMutex);
    parkedForGood->wait(lock, [] { return false; });
}

void ResetRenderThread() {
    {
        std::lock_guard<std::mutex> lock(renderDoneMutex);
        renderDone = false;
    }
    CaptureTaken.store(false);
    CaptureEvent.store(nullptr);
}

void StartRenderThread() {
    ResetRenderThread();
    std::thread(RenderThreadMain).detach();
}

bool WaitForRenderDone(int timeoutMs) {
    std::unique_lock<std::mutex> lock(renderDoneMutex);
    if (timeoutMs < 0) {
        renderDoneChanged.wait(lock, [] { return renderDone; });
        return true;
    }
    return renderDoneChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                      [] { return renderDone; });
}
