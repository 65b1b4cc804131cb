// SPDX-License-Identifier: GPL-3.0-or-later
// The render thread: surface, capture event, day log, chart and read-back.
#pragma once

#include <atomic>

#include "platform/named_event.h"
#include "station/frame_bitmap.h"

struct NamedEvent;

// "/THEMEXXX"; stored by the render thread before its first wait, read by the capture
// sequence on the main thread (atomic, as the two threads share it without a lock).
extern std::atomic<NamedEvent*> CaptureEvent;
// Set by the render thread once its wait on the capture event has ended.
extern std::atomic<bool> CaptureTaken;
constexpr const char* kCaptureEventName = "/THEMEXXX";

// Sets the pixel-exact projection for a width x height frame (origin top left, y downwards).
void SetChartProjection(float width, float height);
// Creates frameBitmap and reads the current frame into it.
void ReadBackFrame();

// The thread's entry. Without a surface it still loads the day log (the summary needs it) and
// signals completion; otherwise it waits for the capture event, draws, reads back, signals
// completion and parks on the event for the rest of the process.
void RenderThreadMain();
// No capture event, capture not taken, the render thread not done: as before any render thread.
void ResetRenderThread();
// Starts RenderThreadMain on its own thread (detached; it ends with the process).
void StartRenderThread();
// Waits (a negative timeout without limit) until the render thread has finished with the day log
// and the frame (or given up); false when timeoutMs passes first.
bool WaitForRenderDone(int timeoutMs);
