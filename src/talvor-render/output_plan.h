// SPDX-License-Identifier: GPL-3.0-or-later
// Which days a talvor-render request draws and where their pictures go, decided before anything is
// drawn, so that a request that cannot be met leaves every file as it was.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/outcome.h"
#include "talvor-render/render_cli.h"

namespace talvor {

struct DayJob {
    UtcTime day;
    bool dayKnown = false;  // false only for a log file outside a dated folder, until it is read
    std::string logPath;
    // A run of one day reads its log while the driver is still loading: what that reading gave,
    // the records being in the run's buffer.
    std::optional<Outcome> read;
};

// Where the pictures go: one named file, or dated names in a folder.
struct OutputPlan {
    std::string file;    // non-empty: the single picture's path
    std::string folder;  // the folder of the file, or of the dated names
    PictureFormat format = PictureFormat::Gif;
    bool site = false;  // the folder is a website: a day goes to its page's folder
};

// What the run reads: an output must never replace one of these.
struct ReadFiles {
    FileIdentity config;
    std::vector<FileIdentity> logs;
};

// The first and the last day that have a day log in the data folder; false when none has.
bool FindLoggedDays(const std::string& dataFolder, UtcTime* first, UtcTime* last);

// The days asked for whose log is there in the data folder (or the log file named), in order,
// each with its log's path.
std::vector<DayJob> ListDays(const RenderRequest& request, const std::string& dataFolder);
// Says why a request found no day to draw in the data folder.
void ReportNoDays(const RenderRequest& request, const std::string& dataFolder);

// The configuration and the day logs of the jobs, as they stand now.
ReadFiles FilesReadBy(const std::string& configFilePath, const std::vector<DayJob>& jobs);

// Decides the output file or folder; false, with a message, when it cannot be used.
bool PlanOutput(const RenderRequest& request, const std::vector<DayJob>& jobs,
                const ReadFiles& reads, OutputPlan* plan);

// An output name under which something already stands may only be a regular file (or a link to
// one, which the new file then replaces), and not a file the run reads; false, with a message,
// otherwise.
bool OutputAccepted(const std::string& path, const ReadFiles& reads);

// The picture's path for a day, by the plan.
std::string PicturePath(const OutputPlan& plan, const UtcTime& day);

}  // namespace talvor
