// SPDX-License-Identifier: GPL-3.0-or-later
#include "talvor-render/output_plan.h"

#include <cerrno>
#include <filesystem>
#include <map>

#include "calendar/calendar.h"
#include "config/run_state.h"
#include "report/report.h"

namespace talvor {

namespace {

bool IsFolder(const std::string& path) {
    return !path.empty() && PathExists((path + "/.").c_str());
}

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

Outcome FileReadable(const std::string& path) {
    int fd = -1;
    if (Outcome opened = OpenForReading(path.c_str(), &fd); !opened) return opened;
    CloseFile(fd);
    return Succeeded();
}

// A day has a log unless nothing is there under its name: one that is there but cannot be
// opened is drawn all the same, so that its failure is said and fails the run.
bool DayLogThere(const std::string& path) {
    Outcome opened = FileReadable(path);
    return opened || (opened.error != ENOENT && opened.error != ENOTDIR);
}

// Asked before the surface is made, so that an output folder that cannot take files fails at
// once instead of after the first drawing. The permissions do not tell everything (root passes
// them where the file system still refuses), so a temporary file is made as a write would make
// it, under a name nobody can foresee, and removed again.
Outcome FolderTakesFiles(const std::string& folder) {
    if (Outcome allowed = FolderTakesNewFiles(folder.c_str()); !allowed) return allowed;
    std::string temporary;
    int fd = -1;
    Outcome made = CreateTemporaryBeside((folder + "/talvor-render").c_str(), &fd, &temporary);
    if (!made) return made;
    CloseFile(fd);
    RemoveFile(temporary.c_str());
    return Succeeded();
}

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.resolved && b.resolved && a.device == b.device && a.inode == b.inode;
}

// Whether two outputs would land on one file: the same name in the same folder, however each
// is spelled ("a.gif", "./a.gif", "sub/../a.gif", a link to the folder), whether or not it
// exists yet; or two names of one existing file.
bool SameOutput(const std::string& a, const std::string& b) {
    if (SameFile(IdentifyFile(a.c_str()), IdentifyFile(b.c_str()))) return true;
    if (a.substr(a.rfind('/') + 1) != b.substr(b.rfind('/') + 1)) return false;
    return SameFile(IdentifyFile(FolderOf(a).c_str()), IdentifyFile(FolderOf(b).c_str()));
}

// The summary file goes into a folder that takes files, under a name that nothing read or drawn
// uses.
bool SummaryAccepted(const std::string& summaryPath, const OutputPlan& plan,
                     const std::vector<DayJob>& jobs, const ReadFiles& reads) {
    std::string summaryFolder = FolderOf(summaryPath);
    if (!IsFolder(summaryFolder) || IsFolder(summaryPath)) {
        Report("cannot write summary " + summaryPath + ": not a file in a folder");
        return false;
    }
    if (Outcome takes = FolderTakesFiles(summaryFolder); !takes) {
        Report("cannot write in folder " + summaryFolder + ": " + takes.reason);
        return false;
    }
    for (const DayJob& job : jobs) {
        if ((job.dayKnown || !plan.file.empty()) &&
            SameOutput(summaryPath, PicturePath(plan, job.day))) {
            Report("cannot write summary " + summaryPath + ": it is the picture's name (" +
                   PicturePath(plan, job.day) + ")");
            return false;
        }
    }
    return OutputAccepted(summaryPath, reads);
}

}  // namespace

bool FindLoggedDays(const std::string& dataFolder, UtcTime* first, UtcTime* last) {
    std::error_code error;
    bool found = false;
    for (const auto& entry : std::filesystem::directory_iterator(dataFolder, error)) {
        UtcTime day;
        std::string name = entry.path().filename().string();
        if (!ParseDate(name, &day) || !DayLogThere(ComposeDayLogPath(dataFolder, day))) {
            continue;
        }
        if (!found || CompareDays(day, *first) < 0) *first = day;
        if (!found || CompareDays(day, *last) > 0) *last = day;
        found = true;
    }
    return found;
}

// Only the days with a log are kept: a range may span centuries of days without one.
std::vector<DayJob> ListDays(const RenderRequest& request, const std::string& dataFolder) {
    std::vector<DayJob> jobs;
    if (request.source == RenderSource::LogFile) {
        DayJob job;
        job.logPath = request.logFile;
        job.dayKnown = DateFromLogPath(request.logFile, &job.day);
        if (FileReadable(request.logFile)) jobs.push_back(job);
        return jobs;
    }
    // The data folder's days, not every day of the range: a range may span millions of days.
    std::map<std::chrono::sys_days, UtcTime> days;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dataFolder, error)) {
        UtcTime day;
        if (ParseDate(entry.path().filename().string(), &day) &&
            CompareDays(day, request.from) >= 0 && CompareDays(day, request.to) <= 0) {
            days[DayOf(day)] = day;
        }
    }
    for (const auto& [key, day] : days) {
        std::string path = ComposeDayLogPath(dataFolder, day);
        if (!DayLogThere(path)) continue;
        DayJob job;
        job.day = day;
        job.dayKnown = true;
        job.logPath = path;
        jobs.push_back(job);
    }
    return jobs;
}

void ReportNoDays(const RenderRequest& request, const std::string& dataFolder) {
    if (request.source == RenderSource::LogFile) {
        Report("cannot read day log " + request.logFile + ": " +
               FileReadable(request.logFile).reason);
    } else if (request.source == RenderSource::Date) {
        Report("no day log for " + FormatDate(request.from) + " (" +
               ComposeDayLogPath(dataFolder, request.from) + ")");
    } else if (request.source == RenderSource::AllDays) {
        Report("no day log in " + dataFolder);
    } else {
        Report("no day log from " + FormatDate(request.from) + " to " + FormatDate(request.to) +
               " in " + dataFolder);
    }
}

ReadFiles FilesReadBy(const std::string& configFilePath, const std::vector<DayJob>& jobs) {
    ReadFiles reads;
    reads.config = IdentifyFile(configFilePath.c_str());
    for (const DayJob& job : jobs) reads.logs.push_back(IdentifyFile(job.logPath.c_str()));
    return reads;
}

bool PlanOutput(const RenderRequest& request, const std::vector<DayJob>& jobs,
                const ReadFiles& reads, OutputPlan* plan) {
    bool single = request.source != RenderSource::Range;
    const std::string& out = request.output;
    plan->format = request.format;
    if (out.empty()) {
        plan->folder = std::string(".");  // not from a literal: GCC 12 -O3 warns wrongly
    } else if (IsFolder(out)) {
        plan->folder = WithoutTrailingSlashes(out);
    } else if (!single || out.back() == '/') {
        Report("output folder " + out + " does not exist");
        return false;
    } else {
        plan->file = out;
        plan->folder = FolderOf(out);
        if (!request.formatGiven && HasPngExtension(out)) plan->format = PictureFormat::Png;
        if (!IsFolder(plan->folder)) {
            Report("cannot write " + out + ": folder " + plan->folder + " does not exist");
            return false;
        }
    }
    if (Outcome takes = FolderTakesFiles(plan->folder); !takes) {
        Report("cannot write in folder " + plan->folder + ": " + takes.reason);
        return false;
    }
    if (!request.summaryPath.empty() && !SummaryAccepted(request.summaryPath, *plan, jobs, reads)) {
        return false;
    }
    for (const DayJob& job : jobs) {
        if (job.dayKnown || !plan->file.empty()) {
            if (!OutputAccepted(PicturePath(*plan, job.day), reads)) return false;
        }
    }
    return true;
}

// Asked before drawing, so that a refused name leaves every file as it was.
bool OutputAccepted(const std::string& path, const ReadFiles& reads) {
    FileIdentity there = IdentifyFile(path.c_str());
    if (!there.exists) return true;
    std::string reason;
    if (!there.resolved) {
        reason =
            there.error == ENOENT ? "it is a link to nothing" : FailedWithErrno(there.error).reason;
    } else if (!there.regular) {
        reason = "it is not a regular file";
    } else if (SameFile(there, reads.config)) {
        reason = "it is the configuration file";
    } else {
        for (const FileIdentity& log : reads.logs) {
            if (SameFile(there, log)) {
                reason = "it is a day log to be drawn";
                break;
            }
        }
    }
    if (reason.empty()) return true;
    ReportCannotWrite(path, reason);
    return false;
}

std::string PicturePath(const OutputPlan& plan, const UtcTime& day) {
    if (plan.site) return plan.folder + "/" + FormatDate(day) + "/index.html";
    if (!plan.file.empty()) return plan.file;
    return plan.folder + "/" + PictureName(day, plan.format);
}

}  // namespace talvor
