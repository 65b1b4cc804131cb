// SPDX-License-Identifier: GPL-3.0-or-later
// The process-wide state of a run, listed in one place, and the one way back to a process's
// start.
//
// Each value is defined in the layer whose code reads it, so that the includes still point
// down; this is the layer above all of them, and the only one that knows them all:
//   station   runPaths, screenGeometry, frameBitmap and the report handler
//   config    settings, ProfileFolder and the length of the configuration text last scanned
//   daylog    RecordBuffer, recordCount and the day log held open
//   render    CaptureEvent, CaptureTaken and the render thread's completion
//   output    CaptureMode
//   platform  the event loop's one-shot timer and a quit posted, the program's name
// A program sets them up once and keeps them to its end; a test that sets some puts them all
// back with ResetProcessState before the next test looks.
//
// Not among them: the GL surface with its font lists and the level field's spots measured on it,
// which belong to the thread that drew on them and end with DestroyRenderSurface there; the faces
// found for the fonts, the named events' registry, the stop signals' handlers and the display
// library once loaded, which hold what the machine offers and stay valid for the life of the
// process; and talvor-log's logger, which its run sets up and keeps to itself.
#pragma once

// Every value above as the process started with it: the record buffer and the frame released,
// the day log closed, no capture event, no report handler, no timer and no quit.
void ResetProcessState();
