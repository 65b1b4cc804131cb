// SPDX-License-Identifier: GPL-3.0-or-later
// talvor-render: draws day logs at once, with the daily run's chart, fonts, palette and writers.
#pragma once

#include "talvor-render/range_drawing.h"

namespace talvor {

struct RenderRequest;

// The whole command: parses the arguments, draws and writes; returns the exit code.
int RunRenderTool(int argc, const char* const* argv);

// Runs a parsed request; returns the exit code.
int RunRenderRequest(const RenderRequest& request);
// The same with share as the part of each worker process that a range may start.
int RunRenderRequestWith(const RenderRequest& request, const WorkerShare& share);

}  // namespace talvor
