// SPDX-License-Identifier: GPL-3.0-or-later
// The render thread: surface, capture event, the frame's drawing and read-back.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "config/run_state.h"
#include "frame/frame_bitmap.h"
#include "platform/named_event.h"
#include "render/render_surface.h"

namespace talvor {

constexpr const char* kCaptureEventName = "/THEMEXXX";

// The render thread's handles, shared with the capture sequence on the main thread.
struct RenderThread {
    // "/THEMEXXX"; stored by the render thread before its first wait, read by the capture
    // sequence on the main thread (atomic, as the two threads share it without a lock).
    std::atomic<NamedEvent*> CaptureEvent{nullptr};
    // Set by the render thread once its wait on the capture event has ended.
    std::atomic<bool> CaptureTaken{false};
    // The thread's own surface, made, drawn on and kept by it alone.
    RenderSurface surface;
    // The capture sequence must not take the frame or the records while they are still being
    // made; it waits for this instead of trusting its pause to be long enough.
    std::mutex doneMutex;
    std::condition_variable doneChanged;
    bool done = false;
};

// What the thread draws: the surface is made for the geometry (its width taken afresh, see
// CreateRenderSurface) with the faces' font lists; drawFrame then loads, draws and reads back
// with the surface current, or, without a surface, withoutSurface does what the run still needs.
struct RenderThreadWork {
    ScreenGeometry* geometry = nullptr;
    FontFaces* faces = nullptr;
    std::function<void()> drawFrame;
    std::function<void()> withoutSurface;
};

// Sets the pixel-exact projection for a width x height frame (origin top left, y downwards).
void SetChartProjection(float width, float height);
// The current frame, width x height, read back into a new FrameBitmap; nullptr when memory is
// short.
FrameBitmap* ReadBackFrame(int width, int height);

// The thread's entry. Without a surface it still does the work's withoutSurface and signals
// completion; otherwise it waits for the capture event, draws, signals completion and parks for
// the rest of the process.
void RenderThreadMain(RenderThread* thread, const RenderThreadWork& work);
// Starts RenderThreadMain on its own thread (detached; it ends with the process, so the thread's
// handles and what the work reaches must last as long).
void StartRenderThread(RenderThread* thread, RenderThreadWork work);
// Waits (a negative timeout without limit) until the render thread has finished with the day log
// and the frame (or given up); false when timeoutMs passes first.
bool WaitForRenderDone(RenderThread* thread, int timeoutMs);

}  // namespace talvor
