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
    size_t job = 0;   // its index among the days to draw
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
                const std::string& path, const std::string& day, size_t job) {
    picture->frame = frame;
    picture->job = job;
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

namespace {

// What a run has written so far, and how it tells the user: a line per day on standard output
// (unless the bar already shows the run on the same terminal), a bar on a terminal.
struct RunReport {
    bool dayLines = false;
    ProgressLine progress;
    std::vector<std::string> missing;  // the first few, for the list at the end
    int missingCount = 0;
    int written = 0;
    int failed = 0;
    bool summaryFailed = false;
};

void ReportPicture(RunReport* report, const std::string& day, const std::string& path,
                   bool written) {
    if (written) {
        ++report->written;
        if (report->dayLines) std::printf("%s %s\n", day.c_str(), path.c_str());
    } else {
        ++report->failed;
    }
    std::fflush(stdout);
}

void ReportNoLog(RunReport* report, const UtcTime& day) {
    constexpr size_t kMissingListed = 10;
    ++report->missingCount;
    if (report->missing.size() < kMissingListed) report->missing.push_back(FormatDate(day));
    if (report->dayLines) {
        std::printf("%s no day log (%s)\n", FormatDate(day).c_str(),
                    ComposeDayLogPath(runPaths.DataFolder, day).c_str());
        std::fflush(stdout);
    }
}

void ReportEnd(RunReport* report, const OutputPlan& plan) {
    if (report->progress.terminal) {
        ClearBar(&report->progress);
        std::string list;
        for (const std::string& day : report->missing) list += (list.empty() ? "" : ", ") + day;
        if (report->missingCount > int(report->missing.size())) {
            list += " and " + std::to_string(report->missingCount - int(report->missing.size())) +
                    " more";
        }
        std::fprintf(stderr, "%d of %d pictures written to %s", report->written,
                     report->written + report->failed, plan.folder.c_str());
        if (!report->missing.empty()) {
            std::fprintf(stderr, "; no day log for %d days: %s", report->missingCount,
                         list.c_str());
        }
        std::fprintf(stderr, "\n");
    }
    if (report->dayLines) {
        std::printf("%d of %d pictures written, %d days without a day log\n", report->written,
                    report->written + report->failed, report->missingCount);
    }
}

// The bar moves for every day drawn, and at most ten times a second across days without a log.
void AdvanceBar(RunReport* report, const UtcTime& day, bool present, int64_t* lastBar) {
    int64_t now = MonotonicMs();
    if (present || *lastBar < 0 || now - *lastBar >= 100) {
        DrawBar(&report->progress, day);
        *lastBar = now;
    }
}

// Draws days one after another on this process's surface, each picture written on a second
// thread while the next day is drawn; done is told of each day once its picture is written,
// in the order the days were given.
struct DayDrawer {
    std::vector<DayJob>* jobs = nullptr;
    const OutputPlan* plan = nullptr;
    const ReadFiles* reads = nullptr;
    std::string summaryPath;
    std::function<void(size_t job, bool written, bool summaryFailed)> done;
    PendingPicture pending;
    bool pendingSummaryFailed = false;

    void Settle() {
        if (!pending.active) return;
        bool written = FinishWrite(&pending);
        done(pending.job, written, pendingSummaryFailed);
    }

    void Draw(size_t index) {
        DayJob* job = &(*jobs)[index];
        bool drawn = DrawDay(job, [&](const UtcTime& day) {
            return OutputAccepted(PicturePath(*plan, day), *reads);
        });
        if (!drawn) {
            CloseDayLog();
            Settle();
            done(index, false, false);
            return;
        }
        FrameBitmap* frame = frameBitmap;
        frameBitmap = nullptr;
        bool summaryWritten = summaryPath.empty() || WriteSummaryFileTo(summaryPath.c_str());
        CloseDayLog();
        Settle();
        pendingSummaryFailed = !summaryWritten;
        StartWrite(&pending, frame, plan->format, PicturePath(*plan, job->day),
                   FormatDate(job->day), index);
    }
};

// The surface, font lists and projection of this process; false, with a message, without them.
bool MakeSurface() {
    int status = CreateRenderSurfaceOfSize(screenGeometry.screenWidth, screenGeometry.screenHeight);
    if (status != 0) {
        DestroyRenderSurface();
        Complain("cannot make the OpenGL surface (step " + std::to_string(status) + " failed)");
        return false;
    }
    SetChartProjection(screenGeometry.screenWidthF, screenGeometry.screenHeightF);
    return true;
}

// A worker's share of a range: every count-th day from the first-th, drawn in order, each
// result sent to the parent as soon as its picture is written.
int WorkerMain(std::vector<DayJob>* jobs, const OutputPlan& plan, const ReadFiles& reads,
               size_t first, size_t count, int resultsFd) {
    if (!MakeSurface()) return 1;
    bool parentThere = true;
    DayDrawer drawer;
    drawer.jobs = jobs;
    drawer.plan = &plan;
    drawer.reads = &reads;
    drawer.done = [&](size_t job, bool written, bool) {
        if (parentThere) parentThere = SendWorkerResult(resultsFd, {int32_t(job), written});
    };
    for (size_t i = first; i < jobs->size() && parentThere; i += count) drawer.Draw(i);
    drawer.Settle();
    return parentThere ? 0 : 1;
}

// A range drawn by several worker processes, each with its own driver and surface; the parent
// reports the days in date order as their results come in. A day whose worker could not start
// or ended early is drawn here after all, so a failing worker costs time, not pictures.
void DrawRangeInWorkers(const RenderRequest& request, std::vector<DayJob>* jobs,
                        const OutputPlan& plan, const ReadFiles& reads, int workerCount,
                        RunReport* report) {
    std::vector<WorkerProcess> workers(static_cast<size_t>(workerCount));
    for (int k = 0; k < workerCount; ++k) {
        StartWorkerProcess(
            [&, k](int resultsFd) {
                ShareProcessorsWithOtherDrawers(workerCount, UsableProcessorCount());
                return WorkerMain(jobs, plan, reads, size_t(k), size_t(workerCount), resultsFd);
            },
            &workers[size_t(k)]);
    }
    enum : int8_t { kPending = -1, kFailed = 0, kWritten = 1 };
    std::vector<int8_t> results(jobs->size(), kPending);
    std::vector<WorkerResult> arrived;
    bool surface = false, surfaceFailed = false;

    size_t next = 0;
    int64_t lastBar = -1;
    for (UtcTime day = request.from; CompareDays(day, request.to) <= 0; day = NextDay(day)) {
        bool present = next < jobs->size() && CompareDays((*jobs)[next].day, day) == 0;
        AdvanceBar(report, day, present, &lastBar);
        if (!present) {
            ReportNoLog(report, day);
            ++report->progress.done;
            continue;
        }
        size_t job = next++;
        // Only the worker of this day can settle it; once its pipe has closed it never will.
        while (results[job] == kPending && workers[job % workers.size()].resultsFd >= 0) {
            arrived.clear();
            if (!ReceiveWorkerResults(&workers, &arrived)) break;
            for (const WorkerResult& r : arrived) {
                if (r.job >= 0 && size_t(r.job) < results.size()) {
                    results[size_t(r.job)] = r.value != 0 ? kWritten : kFailed;
                }
            }
        }
        if (results[job] == kPending) {
            if (!surface && !surfaceFailed) {
                surface = MakeSurface();
                surfaceFailed = !surface;
            }
            if (surface) {
                DayDrawer drawer;
                drawer.jobs = jobs;
                drawer.plan = &plan;
                drawer.reads = &reads;
                drawer.done = [&](size_t done, bool written, bool) {
                    results[done] = written ? kWritten : kFailed;
                };
                drawer.Draw(job);
                drawer.Settle();
            }
            if (results[job] == kPending) results[job] = kFailed;
        }
        ReportPicture(report, FormatDate((*jobs)[job].day), PicturePath(plan, (*jobs)[job].day),
                      results[job] == kWritten);
        ++report->progress.done;
    }
    for (WorkerProcess& worker : workers) EndWorkerProcess(&worker);
}

}  // namespace

int RunRenderRequest(const RenderRequest& request) {
    if (!SetUpLikeTheDailyRun(request)) return kExitFailed;
    if (request.showConfig) {
        PrintStationConfig(std::cout, screenGeometry.screenWidth, screenGeometry.screenHeight);
        std::cout.flush();
        return std::cout ? kExitOk : kExitFailed;
    }
    // Before any thread: the driver's threads and the workers take the heap as set up here.
    PrepareHeapForDrawing();
    // One day is drawn here: the driver loads while the logs, the output and the title face are
    // looked at. A range may fork workers, which must not inherit a driver half loaded.
    struct DisplayOpening {
        explicit DisplayOpening(bool start) {
            if (start) BeginOpeningRenderDisplay();
        }
        ~DisplayOpening() { FinishOpeningRenderDisplay(); }
    } opening(request.source != RenderSource::Range);

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

    bool range = request.source == RenderSource::Range;
    RunReport report;
    report.progress.terminal = range && StandardErrorIsTerminal();
    report.progress.total = range ? DaysFromTo(request.from, request.to) : 1;
    report.dayLines = range && !(report.progress.terminal && StandardOutputIsTerminal());

    // Workers are worth their start-up only for more than one day; each is a process of its
    // own, forked before any driver is loaded, so that no drawing state is shared.
    int workerCount = request.jobs > 0 ? request.jobs : UsableProcessorCount();
    if (!range || workerCount > int(jobs.size())) workerCount = range ? int(jobs.size()) : 1;
    if (workerCount > 1) {
        DrawRangeInWorkers(request, &jobs, plan, reads, workerCount, &report);
    } else {
        if (!MakeSurface()) {
            ReleaseRecordBuffer();
            return kExitFailed;
        }
        DayDrawer drawer;
        drawer.jobs = &jobs;
        drawer.plan = &plan;
        drawer.reads = &reads;
        drawer.summaryPath = request.summaryPath;
        drawer.done = [&](size_t job, bool written, bool summaryFailed) {
            ReportPicture(&report, FormatDate(jobs[job].day), PicturePath(plan, jobs[job].day),
                          written);
            if (summaryFailed) report.summaryFailed = true;
        };
        if (!range) {
            drawer.Draw(0);
        } else {
            size_t next = 0;
            int64_t lastBar = -1;
            for (UtcTime day = request.from; CompareDays(day, request.to) <= 0;
                 day = NextDay(day)) {
                bool present = next < jobs.size() && CompareDays(jobs[next].day, day) == 0;
                AdvanceBar(&report, day, present, &lastBar);
                if (present) {
                    drawer.Draw(next++);
                } else {
                    drawer.Settle();
                    ReportNoLog(&report, day);
                }
                ++report.progress.done;
            }
        }
        drawer.Settle();
    }
    ReportEnd(&report, plan);

    // The surface ends with the process, as the daily run's does: tearing the driver down just
    // before the exit only costs time, and a driver unloaded early leaves its own allocations
    // without a name for leak checkers to recognise.
    ReleaseRecordBuffer();
    return report.failed == 0 && !report.summaryFailed ? kExitOk : kExitFailed;
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
