// The render thread: surface, capture event, day log, chart and read-back.
#pragma once

struct NamedEvent;

// The finished frame: width x height pixels of blue, green, red, alpha, bottom row first.
struct FrameBitmap {
    int width = 0;
    int height = 0;
    unsigned char* bits = nullptr;  // width * height * 4 bytes
};

extern FrameBitmap* frameBitmap;  // made by the read-back, taken over by the snapshot
extern NamedEvent* CaptureEvent;  // "/THEMEXXX"

FrameBitmap* NewFrameBitmap(int width, int height);  // nullptr when memory is short
void FreeFrameBitmap(FrameBitmap* bitmap);

// Sets the pixel-exact projection for a width x height frame (origin top left, y downwards).
void SetChartProjection(float width, float height);
// Creates frameBitmap and reads the current frame into it.
void ReadBackFrame();

// The thread's entry.
void RenderThreadMain();
// Starts RenderThreadMain on its own thread (detached; it ends with the process).
void StartRenderThread();
// Waits until the render thread has finished with the day log and the frame (or given up);
// false when timeoutMs passes first.
bool WaitForRenderDone(int timeoutMs);
