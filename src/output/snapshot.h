// The GIF snapshot of the finished frame.
#pragma once

#include <string>

#include "platform/platform.h"

struct FrameBitmap;

extern int CaptureMode;  // 1: dated name, 2: "z.gif"

// The snapshot's full path for a mode, the executable's folder and the date of the save.
std::string SnapshotPath(int mode, const std::string& exeFolder, const UtcTime& date);

// Writes a frame as a GIF of its full size with a palette chosen from the frame;
// false (and nothing left under the path) when it cannot be written.
bool WriteGifFile(const FrameBitmap& frame, const char* path);

// Saves frameBitmap beside the executable and frees it.
void SaveSnapshotGif();
