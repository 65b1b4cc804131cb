#include "tool/render_tool.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "config/configuration.h"
#include "config/settings.h"
#include "config/station_config.h"
#include "daylog/day_log.h"
#include "output/png_writer.h"
#include "output/snapshot.h"
#include "output/summary.h"
#include "platform/platform.h"
#include "render/chart.h"
#include "render/render_surface.h"
#include "render/render_thread.h"
#include "station/run_state.h"
#include "tool/render_cli.h"
#include "tool/show_config.h"
#include "tool/terminal.h"

namespace {

struct DayJob {
    UtcTime day;
    bool dayKnown = false;  // false only for a log file outside a dated folder, until it is read
    std::string logPath;
};

// Where the pictures go: one named file, or dated names in a folder.
struct OutputPlan {
    std::string file;    // non-empty: the single picture's path
    std::string folder;  // the folder of the file, or of the dated names
    PictureFormat format = PictureFormat::Gif;
};

struct ProgressLine {
    bool terminal = false;
    int total = 0;
    int done = 0;
    bool drawn = false;  // a bar is on the terminal's last line
};

void Complain(const std::string& text) {
    std::fprintf(stderr, "talvor-render: %s\n", text.c_str());
}

std::string ErrorText(int error) {
    return std::strerror(error != 0 ? error : EIO);
}

bool IsFolder(const std::string& path) {
    return !path.empty() && PathExists((path + "/.").c_str());
}

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

bool FileReadable(const std::string& path, std::string* reason) {
    errno = 0;
    int fd = OpenForReading(path.c_str());
    if (fd < 0) {
        *reason = errno != 0 ? ErrorText(errno) : "not a regular file";
        return false;
    }
    CloseFile(fd);
    return true;
}

// Asked before the surface is made, so that an output folder that cannot take files fails at
// once instead of after the first drawing. The permissions do not tell everything (root passes
// them where the file system still refuses), so a temporary file is made as a write would make
// it, under a name nobody can foresee, and removed again.
bool FolderTakesFiles(const std::string& folder, std::string* reason) {
    int error = 0;
    if (!FolderTakesNewFiles(folder.c_str(), &error)) {
        *reason = ErrorText(error);
        return false;
    }
    std::string temporary;
    errno = 0;
    int fd = CreateTemporaryBeside((folder + "/talvor-render").c_str(), &temporary);
    if (fd < 0) {
        *reason = ErrorText(errno);
        return false;
    }
    CloseFile(fd);
    RemoveFile(temporary.c_str());
    return true;
}

// What the run reads: an output must never replace one of these.
struct ReadFiles {
    FileIdentity config;
    std::vector<FileIdentity> logs;
};

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.resolved && b.resolved && a.device == b.device && a.inode == b.inode;
}

// An output name under which something already stands may only be a regular file (or a link to
// one, which the new file then replaces), and not a file the run reads. Asked before drawing,
// so that a refused name leaves every file as it was.
bool OutputAccepted(const std::string& path, const ReadFiles& reads) {
    FileIdentity there = IdentifyFile(path.c_str());
    if (!there.exists) return true;
    std::string reason;
    if (!there.resolved) {
        reason = there.error == ENOENT ? "it is a link to nothing" : ErrorText(there.error);
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
    Complain("cannot write " + path + ": " + reason);
    return false;
}

void ClearBar(ProgressLine* progress) {
    if (progress->terminal && progress->drawn) std::fprintf(stderr, "\r\033[K");
    progress->drawn = false;
}

void DrawBar(ProgressLine* progress, const UtcTime& day) {
    if (!progress->terminal) return;
    int columns = TerminalColumns();
    std::string label = " " + std::to_string(progress->done) + "/" +
                        std::to_string(progress->total) + " " + FormatDate(day);
    int barWidth = columns - int(label.size()) - 3;
    if (barWidth > 50) barWidth = 50;
    if (barWidth < 10) barWidth = 10;
    int filled = progress->total > 0 ? barWidth * progress->done / progress->total : barWidth;
    std::string bar = "\r[" + std::string(size_t(filled), '#') +
                      std::string(size_t(barWidth - filled), '-') + "]" + label;
    // The cursor goes back to the line's start, so that a message from the drawing or the
    // writers overwrites the bar instead of running on after it.
    std::fprintf(stderr, "%s\033[K\r", bar.c_str());
    std::fflush(stderr);
    progress->drawn = true;
}

// The picture's path for a day, by the plan.
std::string PicturePath(const OutputPlan& plan, const UtcTime& day) {
    if (!plan.file.empty()) return plan.file;
    return plan.folder + "/" + PictureName(day, plan.format);
}

// The day a log file outside a dated folder holds, from its first record's time text.
bool DateFromFirstRecord(UtcTime* date) {
    if (RecordBuffer == nullptr || recordCount < 1) return false;
    std::string text(TimeText(RecordAt(0)), 10);
    return ParseDate(text, date);
}

// Draws one day with the surface current; the frame is left in frameBitmap. A day known only
// from its log is named once the log is read: false, with nothing drawn, when that name is
// refused.
bool DrawDay(DayJob* job, const std::function<bool(const UtcTime&)>& nameAccepted) {
    runPaths.DayLogPath = job->logPath;
    LoadDayLog();
    UtcTime now = GetUtcTime();
    if (!job->dayKnown) {
        job->dayKnown = DateFromFirstRecord(&job->day);
        if (!job->dayKnown) job->day = now;
        if (!nameAccepted(job->day)) return false;
    }
    // Today's picture shows the time of drawing, as the daily run's does; any other day is
    // drawn as it stood at its end.
    static UtcTime footerClock;
    footerClock = FooterClock(job->day, now);
    chartClockOverride = CompareDays(job->day, now) == 0 ? nullptr : &footerClock;
    chartChannelRange = ChooseChannelRange(settings.channelSpacing);
    DrawChart();
    chartClockOverride = nullptr;
    ReadBackFrame();
    return true;
}

// A picture being encoded and written on a second thread while the next day is drawn: the
// encoder and the drawing each take about half of a day's time.
struct PendingPicture {
    std::thread writer;
    FrameBitmap* frame = nullptr;
    PictureFormat format = PictureFormat::Gif;
    std::string path;
    std::string day;  // as reported, "yyyy-mm-dd"
    bool written = false;
    bool active = false;
};

void WritePicture(PendingPicture* picture) {
    if (picture->frame == nullptr) {
        Complain("cannot write " + picture->path + ": out of memory for the frame");
        picture->written = false;
    } else if (picture->format == PictureFormat::Png) {
        picture->written = WritePngFile(*picture->frame, picture->path.c_str());
    } else {
        picture->written = WriteGifFile(*picture->frame, picture->path.c_str());
    }
    FreeFrameBitmap(picture->frame);
    picture->frame = nullptr;
}

// Hands the drawn frame over to the writer thread (or writes it here when no thread can be had).
void StartWrite(PendingPicture* picture, FrameBitmap* frame, PictureFormat format,
                const std::string& path, const std::string& day) {
    picture->frame = frame;
    picture->format = format;
    picture->path = path;
    picture->day = day;
    picture->written = false;
    picture->active = true;
    try {
        picture->writer = std::thread(WritePicture, picture);
    } catch (const std::system_error&) {
        WritePicture(picture);
    }
}

// Waits for the picture in hand, if any; false when it was not written.
bool FinishWrite(PendingPicture* picture) {
    if (picture->writer.joinable()) picture->writer.join();
    picture->active = false;
    return picture->written;
}

// The days asked for whose log is there, in order, each with its log's path. Only these are kept:
// a range may span centuries of days without a log.
std::vector<DayJob> ListDays(const RenderRequest& request) {
    std::vector<DayJob> jobs;
    std::string reason;
    if (request.source == RenderSource::LogFile) {
        DayJob job;
        job.logPath = request.logFile;
        job.dayKnown = DateFromLogPath(request.logFile, &job.day);
        if (FileReadable(request.logFile, &reason)) jobs.push_back(job);
        return jobs;
    }
    for (UtcTime day = request.from; CompareDays(day, request.to) <= 0; day = NextDay(day)) {
        std::string path = ComposeDayLogPath(runPaths.DataFolder, day);
        if (!FileReadable(path, &reason)) continue;
        DayJob job;
        job.day = day;
        job.dayKnown = true;
        job.logPath = path;
        jobs.push_back(job);
    }
    return jobs;
}

// Decides the output file or folder; false, with a message, when it cannot be used.
bool PlanOutput(const RenderRequest& request, const std::vector<DayJob>& jobs,
                const ReadFiles& reads, OutputPlan* plan) {
    bool single = request.source != RenderSource::Range;
    const std::string& out = request.output;
    plan->format = request.format;
    if (out.empty()) {
        plan->folder = ".";
    } else if (IsFolder(out)) {
        plan->folder = WithoutTrailingSlashes(out);
    } else if (!single || out.back() == '/') {
        Complain("output folder " + out + " does not exist");
        return false;
    } else {
        plan->file = out;
        plan->folder = FolderOf(out);
        if (!request.formatGiven && HasPngExtension(out)) plan->format = PictureFormat::Png;
        if (!IsFolder(plan->folder)) {
            Complain("cannot write " + out + ": folder " + plan->folder + " does not exist");
            return false;
        }
    }
    std::string reason;
    if (!FolderTakesFiles(plan->folder, &reason)) {
        Complain("cannot write in folder " + plan->folder + ": " + reason);
        return false;
    }
    if (!request.summaryPath.empty()) {
        std::string summaryFolder = FolderOf(request.summaryPath);
        if (!IsFolder(summaryFolder) || IsFolder(request.summaryPath)) {
            Complain("cannot write summary " + request.summaryPath + ": not a file in a folder");
            return false;
        }
        if (!FolderTakesFiles(summaryFolder, &reason)) {
            Complain("cannot write in folder " + summaryFolder + ": " + reason);
            return false;
        }
        if (request.summaryPath == plan->file) {
            Complain("cannot write summary " + request.summaryPath + ": it is the picture's name");
            return false;
        }
        if (!OutputAccepted(request.summaryPath, reads)) return false;
    }
    for (const DayJob& job : jobs) {
        if (job.dayKnown || !plan->file.empty()) {
            if (!OutputAccepted(PicturePath(*plan, job.day), reads)) return false;
        }
    }
    return true;
}

// Paths, screen and settings as the daily run derives them at start-up.
bool SetUpLikeTheDailyRun(const RenderRequest& request) {
    runPaths = RunPaths{};
    runPaths.StartTime = GetUtcTime();
    std::string reason;
    if (!FindStationConfiguration(GetExecutablePath(request.program.c_str()), request.configPath,
                                  &reason)) {
        Complain("cannot read configuration " + request.configPath + ": " + reason);
        return false;
    }

    int width = request.width, height = request.height;
    if (!request.sizeGiven && GetScreenSize(&width, &height) == DisplayQuery::TimedOut) {
        Complain("the display server did not answer within " +
                 std::to_string(kDisplayQueryTimeoutMs / 1000) + " s; drawing at " +
                 std::to_string(width) + " x " + std::to_string(height));
    }
    ForgetDesktopDisplay();
    ReadConfiguration();
    screenGeometry = ComputeScreenGeometry(width, height);
    return true;
}

}  // namespace

int RunRenderRequest(const RenderRequest& request) {
    if (!SetUpLikeTheDailyRun(request)) return kExitFailed;
    if (request.showConfig) {
        PrintStationConfig(std::cout, screenGeometry.screenWidth, screenGeometry.screenHeight);
        std::cout.flush();
        return std::cout ? kExitOk : kExitFailed;
    }

    std::vector<DayJob> jobs = ListDays(request);
    if (jobs.empty()) {
        if (request.source == RenderSource::LogFile) {
            std::string reason;
            FileReadable(request.logFile, &reason);
            Complain("cannot read day log " + request.logFile + ": " + reason);
        } else if (request.source == RenderSource::Date) {
            Complain("no day log for " + FormatDate(request.from) + " (" +
                     ComposeDayLogPath(runPaths.DataFolder, request.from) + ")");
        } else {
            Complain("no day log from " + FormatDate(request.from) + " to " +
                     FormatDate(request.to) + " in " + runPaths.DataFolder);
        }
        return kExitFailed;
    }

    ReadFiles reads;
    reads.config = IdentifyFile(runPaths.ConfigFilePath.c_str());
    for (const DayJob& job : jobs) reads.logs.push_back(IdentifyFile(job.logPath.c_str()));
    OutputPlan plan;
    if (!PlanOutput(request, jobs, reads, &plan)) return kExitFailed;

    if (!AllocateRecordBuffer()) {
        Complain("not enough memory for a day log");
        return kExitFailed;
    }
    if (!LoadTitleFont()) Complain("no heavy sans face found; the headline is left out");
    int status = CreateRenderSurfaceOfSize(screenGeometry.screenWidth, screenGeometry.screenHeight);
    if (status != 0) {
        DestroyRenderSurface();
        Complain("cannot make the OpenGL surface (step " + std::to_string(status) + " failed)");
        ReleaseRecordBuffer();
        return kExitFailed;
    }
    SetChartProjection(screenGeometry.screenWidthF, screenGeometry.screenHeightF);

    bool range = request.source == RenderSource::Range;
    ProgressLine progress;
    progress.terminal = range && StandardErrorIsTerminal();
    progress.total = range ? DaysFromTo(request.from, request.to) : 1;
    // One line per day, unless the bar already shows the run on the same terminal.
    bool dayLines = range && !(progress.terminal && StandardOutputIsTerminal());
    std::vector<std::string> missing;  // the first few, for the list at the end
    constexpr size_t kMissingListed = 10;
    int missingCount = 0;
    int written = 0, failed = 0;
    bool summaryFailed = false;
    PendingPicture pending;
    // Reports the picture in hand once it is written, so that the lines keep the days' order.
    auto settle = [&]() {
        if (!pending.active) return;
        if (FinishWrite(&pending)) {
            ++written;
            if (dayLines) std::printf("%s %s\n", pending.day.c_str(), pending.path.c_str());
        } else {
            ++failed;
        }
        std::fflush(stdout);
    };
    auto render = [&](DayJob* job) {
        bool drawn = DrawDay(
            job, [&](const UtcTime& day) { return OutputAccepted(PicturePath(plan, day), reads); });
        if (!drawn) {
            CloseDayLog();
            settle();
            ++failed;
            return;
        }
        FrameBitmap* frame = frameBitmap;
        frameBitmap = nullptr;
        bool summaryWritten =
            request.summaryPath.empty() || WriteSummaryFileTo(request.summaryPath.c_str());
        CloseDayLog();
        settle();
        StartWrite(&pending, frame, plan.format, PicturePath(plan, job->day), FormatDate(job->day));
        if (!summaryWritten) summaryFailed = true;
    };
    auto noLog = [&](const UtcTime& day) {
        settle();
        ++missingCount;
        if (missing.size() < kMissingListed) missing.push_back(FormatDate(day));
        if (dayLines) {
            std::printf("%s no day log (%s)\n", FormatDate(day).c_str(),
                        ComposeDayLogPath(runPaths.DataFolder, day).c_str());
            std::fflush(stdout);
        }
    };

    if (!range) {
        render(&jobs[0]);
    } else {
        size_t next = 0;
        int64_t lastBar = -1;
        for (UtcTime day = request.from; CompareDays(day, request.to) <= 0; day = NextDay(day)) {
            bool present = next < jobs.size() && CompareDays(jobs[next].day, day) == 0;
            // A long stretch without logs would otherwise redraw the bar for every day.
            int64_t now = MonotonicMs();
            if (present || lastBar < 0 || now - lastBar >= 100) {
                DrawBar(&progress, day);
                lastBar = now;
            }
            if (present) {
                render(&jobs[next++]);
            } else {
                noLog(day);
            }
            ++progress.done;
        }
    }
    settle();
    if (progress.terminal) {
        ClearBar(&progress);
        std::string list;
        for (const std::string& day : missing) list += (list.empty() ? "" : ", ") + day;
        if (missingCount > int(missing.size())) {
            list += " and " + std::to_string(missingCount - int(missing.size())) + " more";
        }
        std::fprintf(stderr, "%d of %d pictures written to %s", written, written + failed,
                     plan.folder.c_str());
        if (!missing.empty()) {
            std::fprintf(stderr, "; no day log for %d days: %s", missingCount, list.c_str());
        }
        std::fprintf(stderr, "\n");
    }
    if (dayLines) {
        std::printf("%d of %d pictures written, %d days without a day log\n", written,
                    written + failed, missingCount);
    }

    // The surface ends with the process, as the daily run's does: tearing the driver down just
    // before the exit only costs time, and a driver unloaded early leaves its own allocations
    // without a name for leak checkers to recognise.
    ReleaseRecordBuffer();
    return failed == 0 && !summaryFailed ? kExitOk : kExitFailed;
}

int RunRenderTool(int argc, const char* const* argv) {
    SetMessagePrefix("talvor-render");
    // A closed standard output (a pipe into head) ends the day lines, never the pictures.
    IgnoreWriteSignals();
    RenderRequest request;
    int code = ParseRenderCommandLine(argc, argv, &request, std::cout, std::cerr);
    if (code != kGoOn) return code;
    return RunRenderRequest(request);
}
