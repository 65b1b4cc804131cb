// SPDX-License-Identifier: GPL-3.0-or-later
// Draws every day of a talvor-render request, in this process or in worker processes, and
// reports each day in date order.
#pragma once

#include "tool/day_drawer.h"
#include "tool/run_report.h"

// The worker processes for the request's days: more than one only for a range of more than one
// day.
int WorkerCountFor(const RenderRequest& request, size_t days);

// Draws and reports the days; false, with nothing drawn, when this process has no surface and
// no worker either.
bool DrawDays(const RenderRequest& request, const DrawingPlan& work, int workerCount,
              RunReport* report);
