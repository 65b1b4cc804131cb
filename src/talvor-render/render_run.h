// SPDX-License-Identifier: GPL-3.0-or-later
// What one talvor-render run reads and draws with: made by RunRenderRequest and handed down to
// the drawers, the site and the listings.
#pragma once

#include <cstddef>

#include "config/run_state.h"
#include "config/settings.h"
#include "render/font_lists.h"
#include "render/render_surface.h"

namespace talvor {

struct RenderRun {
    RunPaths paths;  // StartTime, ExeFolder, ConfigFilePath and DataFolder
    ScreenGeometry screenGeometry;
    Settings settings;
    size_t scannedLength = 0;               // of the configuration's text; 0 when none was read
    unsigned char* RecordBuffer = nullptr;  // the day being drawn, kRecordBufferSize bytes
    int recordCount = 0;
    FontFaces fonts;
    // This process's surface; a worker process makes its own in its copy of the run.
    RenderSurface surface;
};

}  // namespace talvor
