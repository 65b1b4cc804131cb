// SPDX-License-Identifier: GPL-3.0-or-later
// Whole runs of the built program with something wrong around it. Each run must still end
// inside its timeline, write what it still can, say on standard error what went wrong, and exit
// with 1 when its picture or Z.TXT is missing, so that a scheduler sees the failure. The runs go
// side by side to keep the suite short (each takes about 4.5 s).
#include <fcntl.h>
#include <semaphore.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "daylog/day_log.h"
#include "gtest/gtest.h"
#include "platform/clock.h"
#include "test_support.h"

using namespace talvor;

namespace fs = std::filesystem;

namespace {

// The capture comes 2.5 s + 2 s after start; a render thread that is late gets 10 s more.
constexpr double kEarliestEnd = 4.4;
constexpr double kLatestEnd = 4.5 + 10.0 + 8.0;  // plus start-up and saving on a busy machine
constexpr int kHardLimitSeconds = 90;            // a hung run is killed and fails

constexpr const char* kEventObject = "/dev/shm/sem.THEMEXXX";

std::string Today() {
    UtcTime t = GetUtcTime();
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", t.year, t.month, t.day);
    return text;
}

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

int LinesIn(const std::string& text) {
    int lines = 0;
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2)) {
        ++lines;
    }
    return lines;
}

// The names in a folder that neither the test nor the run's finished files account for: a
// temporary left behind.
std::vector<std::string> Leftovers(const std::string& folder) {
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::string name = entry.path().filename().string();
        if (name[0] == '.' || name.find(".tmp") != std::string::npos) left.push_back(name);
    }
    return left;
}

bool HasGif(const std::string& folder) {
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::string name = entry.path().filename().string();
        if (name.size() > 4 && name.substr(name.size() - 4) == ".GIF") return true;
    }
    return false;
}

int Shell(const std::string& command) {
    return system(command.c_str());
}

// A folder in which nobody can create a file, root included: immutable where the file system
// allows it, else a read-only bind mount over itself. Undone when the object goes.
class Unwritable {
  public:
    explicit Unwritable(const std::string& folder) : folder_(folder) {
        if (Shell("chattr +i " + Quoted(folder) + " 2>/dev/null") == 0 && Holds()) {
            how_ = "chattr";
            return;
        }
        Shell("chattr -i " + Quoted(folder) + " 2>/dev/null");
        if (Shell("mount --bind " + Quoted(folder) + " " + Quoted(folder) + " 2>/dev/null && " +
                  "mount -o remount,bind,ro " + Quoted(folder) + " 2>/dev/null") == 0 &&
            Holds()) {
            how_ = "mount";
            return;
        }
        Shell("umount " + Quoted(folder) + " 2>/dev/null");
    }
    ~Unwritable() {
        if (how_ == "chattr") Shell("chattr -i " + Quoted(folder_));
        if (how_ == "mount") Shell("umount " + Quoted(folder_));
    }
    Unwritable(const Unwritable&) = delete;
    Unwritable& operator=(const Unwritable&) = delete;
    bool ok() const { return !how_.empty(); }

  private:
    bool Holds() const {
        std::string probe = folder_ + "/.probe";
        int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (fd < 0) return true;
        close(fd);
        unlink(probe.c_str());
        return false;
    }
    std::string folder_;
    std::string how_;
};

// One run of a copy of the program in a folder of its own, with its own working directory.
struct FaultRun {
    explicit FaultRun(std::string label) : label(std::move(label)) {}

    void Prepare(int minutes = 1440) {
        fs::copy_file(TALVOR_EXE, exe());
        if (minutes > 0) {
            CommandResult made =
                RunCommand(Quoted(TALVOR_GEN) + " " + Quoted(exeDir / "BRANTOS") + " " + Today() +
                           " --minutes " + std::to_string(minutes));
            ASSERT_EQ(made.exitCode, 0) << made.output;
        }
    }
    std::string exe() const { return exeDir / "talvor"; }
    std::string dayLog() const { return exeDir / ("BRANTOS/" + Today() + "/VOK.LOG"); }
    std::string summary() const { return workDir / "Z.TXT"; }

    // The shell command that runs it: standard error and the exit code into files of its own.
    std::string Command() const {
        std::string out = errorFile.path();
        return "cd " + Quoted(workDir.path()) + " && " + limits +
               " { start=$(date +%s%N); timeout -k 5 " + std::to_string(kHardLimitSeconds) +
               " env -u DISPLAY -u WAYLAND_DISPLAY " + env + " " + Quoted(exe()) + " 2>" +
               Quoted(out + "/stderr") + "; echo $? >" + Quoted(out + "/code") +
               "; echo $(( $(date +%s%N) - start )) >" + Quoted(out + "/nanoseconds") + "; }";
    }
    void Launch() {
        std::string command = Command();
        if (!shmSetup.empty()) {
            // A /dev/shm of its own, so that what is planted there reaches no other run.
            std::string script = errorFile / "run.sh";
            WriteFileBytes(script, "mount -t tmpfs tmpfs /dev/shm || exit 1\n" + shmSetup + "\n" +
                                       command + "\nstat -c %s:%u:%i " + kEventObject + " >" +
                                       Quoted(errorFile / "object") + "\n");
            command = "unshare -m sh " + Quoted(script);
        }
        result = std::async(std::launch::async, [command] { return RunCommand(command); });
    }
    void Finish() {
        if (result.valid()) result.get();
        errors = ReadFileBytes(errorFile.path() + "/stderr");
        std::string code = ReadFileBytes(errorFile.path() + "/code");
        exitCode = code.empty() ? -1 : std::stoi(code);
        std::string nanoseconds = ReadFileBytes(errorFile.path() + "/nanoseconds");
        seconds = nanoseconds.empty() ? 0 : std::stod(nanoseconds) / 1e9;
    }
    // What every faulty run must still do.
    void ExpectCleanEnd() const {
        SCOPED_TRACE(label);
        EXPECT_EQ(exitCode, expectedExitCode) << errors;
        EXPECT_GE(seconds, kEarliestEnd);
        EXPECT_LE(seconds, kLatestEnd);
        EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << errors;
        EXPECT_EQ(errors.find("runtime error"), std::string::npos) << errors;
    }
    void ExpectComplaint(const std::string& about) const {
        SCOPED_TRACE(label);
        EXPECT_NE(errors.find("TALVOR: "), std::string::npos) << "nothing on standard error";
        EXPECT_NE(errors.find(about), std::string::npos) << errors;
    }

    std::string label;
    std::string env;       // extra "NAME=value" assignments
    std::string limits;    // shell commands before the run, such as "ulimit -f 100;"
    std::string shmSetup;  // with it, the run gets a private /dev/shm prepared by these commands
    int expectedExitCode = 0;  // 1 where the picture or Z.TXT cannot be had
    TempDir exeDir{"talvor-fault-exe"};
    TempDir workDir{"talvor-fault-work"};
    TempDir errorFile{"talvor-fault-err"};
    std::future<CommandResult> result;
    int exitCode = -1;
    double seconds = 0;
    std::string errors;
};

// Another process appending records to a day log, each in two pieces so that the program may
// find a half-written record at the end, until told to stop.
class Appender {
  public:
    explicit Appender(const std::string& path) : path_(path) {
        std::string records;  // one hour, minutes 0..59
        for (int m = 0; m < 60; ++m) {
            auto record = BlankRecord();
            SetMinute(record.data(), m);
            char text[17];
            std::snprintf(text, sizeof text, "appended %02d", m);
            SetTimeText(record.data(), text);
            for (int khz = 520; khz <= 1700; ++khz) SetLevel(record.data(), khz, 4 * m);
            records.append(record.begin(), record.end());
        }
        WriteFileBytes(scratch_ / "records", records);
        WriteFileBytes(scratch_ / "append.sh",
                       "i=0\n"
                       "while [ ! -e stop ]; do\n"
                       "  dd if=records of=\"$1\" bs=2445 skip=$((i % 120)) count=1 \\\n"
                       "     oflag=append conv=notrunc status=none || exit 1\n"
                       "  i=$((i + 1))\n"
                       "  sleep 0.002\n"
                       "done\n");
        initialSize_ = fs::file_size(path);
        std::string command = "sh append.sh " + Quoted(path);
        std::string folder = scratch_.path();
        worker_ = std::async(std::launch::async,
                             [command, folder] { return RunCommand(command, folder); });
    }
    ~Appender() { Stop(); }
    void Stop() {
        WriteFileBytes(scratch_ / "stop", "");
        if (worker_.valid()) worker_.get();
    }
    // Whole records appended so far.
    int appended() const {
        return int((fs::file_size(path_) - initialSize_) / uintmax_t(kDayLogRecordSize));
    }

  private:
    std::string path_;
    TempDir scratch_{"talvor-fault-append"};
    uintmax_t initialSize_ = 0;
    std::future<CommandResult> worker_;
};

// Rewrites a configuration file in place, over and over, in pieces, until told to stop.
class Rewriter {
  public:
    explicit Rewriter(const std::string& path) {
        worker_ = std::thread([this, path] {
            const std::string versions[] = {
                "[CUSTOM]\r\nQTH=Oslo,59.9,10.7\r\nVOKSENS=0.5\r\nVOKTEXT=" +
                    std::string(300, 'r') + "\r\nVOKCOLOR=1\r\n",
                "",
                "[CUSTOM]\r\nOVERSEAS=9\r\n[KELDAN]\r\nSET MW\r\n",
                std::string(5000, '['),
            };
            for (int n = 0; !stop_; ++n) {
                const std::string& text = versions[n % 4];
                int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                if (fd < 0) continue;
                size_t half = text.size() / 2;
                bool ok = write(fd, text.data(), half) == ssize_t(half);
                ok = ok && write(fd, text.data() + half, text.size() - half) ==
                               ssize_t(text.size() - half);
                close(fd);
                if (!ok) break;
                ++rewrites_;
            }
        });
    }
    ~Rewriter() { Stop(); }
    void Stop() {
        stop_ = true;
        if (worker_.joinable()) worker_.join();
    }
    int rewrites() const { return rewrites_; }

  private:
    std::atomic<bool> stop_{false};
    std::atomic<int> rewrites_{0};
    std::thread worker_;
};

TEST(Fault, EveryFaultStillEndsTheRunWithItsFiles) {
    FaultRun noGl("OpenGL unavailable"), exeReadOnly("executable's folder not writable"),
        workReadOnly("working directory not writable"), logIsFolder("day log is a folder"),
        appended("day log appended during the run"), rewritten("configuration rewritten"),
        twinA("first of two at once"), twinB("second of two at once"), sizeLimit("file size limit"),
        summaryLink("Z.TXT a link to another file");
    std::vector<FaultRun*> runs = {&noGl,     &exeReadOnly, &workReadOnly, &logIsFolder,
                                   &appended, &rewritten,   &twinA,        &twinB};
    for (FaultRun* r : runs) {
        if (r == &logIsFolder) {
            r->Prepare(0);
            MakeDirs(r->dayLog());
        } else {
            r->Prepare(r == &appended ? 600 : 1440);
        }
        if (HasFatalFailure()) return;
    }
    // A vendor list that names no library: EGL finds no implementation at all.
    noGl.env =
        "__EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent/talvor_egl_vendor.json "
        "__EGL_VENDOR_LIBRARY_DIRS=/nonexistent";
    noGl.expectedExitCode = 1;
    logIsFolder.expectedExitCode = 1;  // a log that is there but cannot be read
    exeReadOnly.expectedExitCode = 1;
    workReadOnly.expectedExitCode = 1;
    Unwritable exeLock(exeReadOnly.exeDir.path());
    Unwritable workLock(workReadOnly.workDir.path());
    ASSERT_TRUE(exeLock.ok() && workLock.ok())
        << "neither chattr +i nor a read-only bind mount works here";

    // Everything is copied and closed before the first process starts (see e2e_test.cpp).
    Appender appender(appended.dayLog());
    Rewriter rewriter(rewritten.exeDir / "TALVOR.INI");
    for (FaultRun* r : runs) {
        if (r != &twinA && r != &twinB) r->Launch();
    }
    // The two twins start from one shell at the same moment and share the capture event.
    std::string both = "(" + twinA.Command() + ") & (" + twinB.Command() + ") & wait";
    auto twins = std::async(std::launch::async, [both] { return RunCommand(both); });

    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    rewriter.Stop();
    for (FaultRun* r : runs) {
        if (r != &twinA && r != &twinB) r->Finish();
    }
    appender.Stop();
    twins.get();
    twinA.Finish();
    twinB.Finish();
    for (FaultRun* r : runs) {
        // For the record of what each fault looked like from the outside.
        std::printf("[%s] exit %d after %.1f s, standard error:\n%s", r->label.c_str(), r->exitCode,
                    r->seconds, r->errors.c_str());
        r->ExpectCleanEnd();
    }

    // No OpenGL: no picture, but the summary from the records, and a word about why.
    EXPECT_FALSE(HasGif(noGl.exeDir.path()));
    EXPECT_EQ(LinesIn(ReadFileBytes(noGl.summary())), 96);
    noGl.ExpectComplaint("OpenGL is not available");

    // No picture where it cannot be written; everything else as usual.
    EXPECT_FALSE(HasGif(exeReadOnly.exeDir.path()));
    EXPECT_EQ(LinesIn(ReadFileBytes(exeReadOnly.summary())), 96);
    exeReadOnly.ExpectComplaint(".GIF");

    EXPECT_TRUE(HasGif(workReadOnly.exeDir.path()));
    EXPECT_FALSE(FileExists(workReadOnly.summary()));
    workReadOnly.ExpectComplaint("Z.TXT");

    // A folder where the log should be: not drawn or summed up as an empty day, and said so.
    EXPECT_FALSE(HasGif(logIsFolder.exeDir.path()));
    EXPECT_FALSE(FileExists(logIsFolder.summary()));
    logIsFolder.ExpectComplaint("cannot read the day log " + logIsFolder.dayLog());

    // Appended while read: whole records only, as many as were there when it was read.
    std::printf("[appender] %d records appended by another process; [rewriter] %d rewrites\n",
                appender.appended(), rewriter.rewrites());
    // The appender's pace is that of starting dd on this machine (a hundred records in a run on
    // an idle one, a third of that under load); the check is only that it ran during the reads.
    EXPECT_GT(appender.appended(), 10);
    EXPECT_TRUE(HasGif(appended.exeDir.path()));
    std::string appendedSummary = ReadFileBytes(appended.summary());
    int appendedLines = LinesIn(appendedSummary);
    EXPECT_GE(appendedLines, 40);  // the 600 generated minutes
    EXPECT_LE(appendedLines, 40 + 4 * (appender.appended() / 60 + 1));
    for (size_t at = 0; at < appendedSummary.size();) {
        size_t end = appendedSummary.find("\r\n", at);
        ASSERT_NE(end, std::string::npos) << "a line without its CR LF";
        std::string line = appendedSummary.substr(at, end - at);
        EXPECT_NE(line.find(" UTC J="), std::string::npos) << line;
        at = end + 2;
    }

    // Read while it changed: whatever version was read, the run is whole.
    EXPECT_GT(rewriter.rewrites(), 10);
    EXPECT_TRUE(HasGif(rewritten.exeDir.path()));
    EXPECT_EQ(LinesIn(ReadFileBytes(rewritten.summary())), 96);

    // Both twins finish and both write their files.
    for (FaultRun* twin : {&twinA, &twinB}) {
        SCOPED_TRACE(twin->label);
        EXPECT_TRUE(HasGif(twin->exeDir.path())) << twin->errors;
        EXPECT_EQ(LinesIn(ReadFileBytes(twin->summary())), 96) << twin->errors;
    }
}

// Writes that fail in ways the file system decides: beyond the file size limit, and through a
// link planted under the summary's name. Apart from the runs above, which time an appender.
TEST(Fault, WritesThatMustNotGoWhereTheyAreSent) {
    FaultRun sizeLimit("file size limit"), summaryLink("Z.TXT a link to another file");
    for (FaultRun* r : {&sizeLimit, &summaryLink}) {
        r->Prepare();
        if (HasFatalFailure()) return;
    }
    // 100 blocks hold the summary but not the picture.
    sizeLimit.limits = "ulimit -f 100;";
    sizeLimit.expectedExitCode = 1;  // no picture
    WriteFileBytes(summaryLink.exeDir / "victim", "someone else's file");
    fs::create_symlink(summaryLink.exeDir / "victim", summaryLink.summary());
    for (FaultRun* r : {&sizeLimit, &summaryLink}) r->Launch();
    for (FaultRun* r : {&sizeLimit, &summaryLink}) {
        r->Finish();
        std::printf("[%s] exit %d after %.1f s, standard error:\n%s", r->label.c_str(), r->exitCode,
                    r->seconds, r->errors.c_str());
        r->ExpectCleanEnd();
    }
    // Over the file size limit the write fails like any other: said so, nothing left behind.
    EXPECT_FALSE(HasGif(sizeLimit.exeDir.path()));
    EXPECT_EQ(Leftovers(sizeLimit.exeDir.path()), std::vector<std::string>{});
    EXPECT_EQ(LinesIn(ReadFileBytes(sizeLimit.summary())), 96);
    sizeLimit.ExpectComplaint("File too large");

    // A link under the summary's name is replaced, not followed.
    EXPECT_EQ(ReadFileBytes(summaryLink.exeDir / "victim"), "someone else's file");
    EXPECT_FALSE(fs::is_symlink(summaryLink.summary()));
    EXPECT_EQ(LinesIn(ReadFileBytes(summaryLink.summary())), 96);
    EXPECT_EQ(Leftovers(summaryLink.workDir.path()), std::vector<std::string>{});
}

// A day log that is there but cannot be read (a folder in its place, a disk that fails on the
// open or the read) fails the run with a message naming it, and no picture, summary or site page
// of an earlier run is replaced by one of an empty day: in the daily run and in talvor-render's
// day, range and site alike.
TEST(Fault, AnUnreadableDayLogFailsTheRunAndReplacesNothing) {
    enum class Program { Daily, Date, Range, Site };
    enum class Trouble { Folder, OpenFails, ReadFails };
    struct Case {
        const char* name;
        Program program;
        Trouble trouble;
        const char* reason;
    };
    const Case cases[] = {
        {"talvor, a folder in its place", Program::Daily, Trouble::Folder, "not a regular file"},
        {"talvor, a read error", Program::Daily, Trouble::ReadFails, "Input/output error"},
        {"one day, a folder in its place", Program::Date, Trouble::Folder, "not a regular file"},
        {"one day, an open error", Program::Date, Trouble::OpenFails, "Input/output error"},
        {"a range, a read error", Program::Range, Trouble::ReadFails, "Input/output error"},
        {"the site, a read error", Program::Site, Trouble::ReadFails, "Input/output error"},
    };
    const std::string past = "2026-01-05", next = "2026-01-06";
    std::vector<std::unique_ptr<FaultRun>> daily;  // side by side: each takes 4.5 s
    std::vector<const char*> dailyReasons;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string env =
            c.trouble == Trouble::Folder
                ? ""
                : std::string("LD_PRELOAD=") + Quoted(TALVOR_TEST_EIO_LIBRARY) +
                      " ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0\" " +
                      "TALVOR_TEST_EIO=" + (c.trouble == Trouble::OpenFails ? "open" : "read") +
                      ":/" + (c.program == Program::Daily ? Today() : past) + "/VOK.LOG";
        if (c.program == Program::Daily) {
            // Earlier files of the day, which the failed run must leave as they are.
            auto run = std::make_unique<FaultRun>(c.name);
            run->Prepare(c.trouble == Trouble::Folder ? 0 : 1440);
            if (c.trouble == Trouble::Folder) MakeDirs(run->dayLog());
            WriteFileBytes(run->exeDir / ("VOKLOG " + Today() + ".GIF"), "the good picture");
            WriteFileBytes(run->summary(), "the good summary");
            run->env = env;
            run->expectedExitCode = 1;
            daily.push_back(std::move(run));
            dailyReasons.push_back(c.reason);
            continue;
        }
        // Every copy of the program is closed before the first process starts (see
        // e2e_test.cpp): the daily cases come first in the table.
        for (const auto& run : daily) {
            if (!run->result.valid()) run->Launch();
        }
        TempDir station("talvor-fault-render");
        for (const std::string& day : {past, next}) {
            ASSERT_EQ(RunCommand(Quoted(TALVOR_GEN) + " " + Quoted(station / "BRANTOS") + " " + day)
                          .exitCode,
                      0);
        }
        WriteFileBytes(station / "TALVOR.INI", "");
        const std::string render = "env -u DISPLAY -u WAYLAND_DISPLAY " + Quoted(TALVOR_RENDER) +
                                   " --config " + Quoted(station / "TALVOR.INI") + " ";
        std::string arguments, kept;
        MakeDirs(station / "out");
        if (c.program == Program::Site) {
            arguments = "--date " + past + " --site " + Quoted(station / "www");
            ASSERT_EQ(RunCommand(render + arguments).exitCode, 0);
            kept = station / ("www/" + past + "/chart.gif");
        } else {
            arguments = (c.program == Program::Date ? "--date " + past
                                                    : "--from " + past + " --to " + next) +
                        " -o " + Quoted(station / "out");
            kept = station / ("out/VOKLOG " + past + ".GIF");
            WriteFileBytes(kept, "the good picture");
        }
        const std::string before = ReadFileBytes(kept);
        std::string log = station / ("BRANTOS/" + past + "/VOK.LOG");
        if (c.trouble == Trouble::Folder) {
            fs::remove(log);
            MakeDirs(log);
        }
        CommandResult failed = RunCommand(env + " " + render + arguments);
        EXPECT_EQ(failed.exitCode, 1) << failed.output;
        EXPECT_NE(
            failed.output.find("talvor-render: cannot read the day log " + log + ": " + c.reason),
            std::string::npos)
            << failed.output;
        EXPECT_EQ(ReadFileBytes(kept), before);
        if (c.program == Program::Range) {
            EXPECT_TRUE(FileExists(station / ("out/VOKLOG " + next + ".GIF")));
        }
    }
    for (size_t k = 0; k < daily.size(); ++k) {
        FaultRun& run = *daily[k];
        run.Finish();
        run.ExpectCleanEnd();
        run.ExpectComplaint("cannot read the day log " + run.dayLog() + ": " + dailyReasons[k]);
        EXPECT_EQ(ReadFileBytes(run.exeDir / ("VOKLOG " + Today() + ".GIF")), "the good picture");
        EXPECT_EQ(ReadFileBytes(run.summary()), "the good summary");
    }
}

TEST(Fault, CaptureEventLeftSignalledByAnEarlierRun) {
    // A run killed between its signal and its render thread's wake-up leaves "/THEMEXXX" set.
    sem_t* event = sem_open("/THEMEXXX", O_CREAT, 0600, 0);
    ASSERT_NE(event, SEM_FAILED);
    int value = 0;
    sem_getvalue(event, &value);
    if (value == 0) sem_post(event);

    FaultRun run("event left signalled");
    run.Prepare();
    if (HasFatalFailure()) return;
    run.Launch();
    run.Finish();
    run.ExpectCleanEnd();
    EXPECT_TRUE(HasGif(run.exeDir.path()));
    EXPECT_EQ(LinesIn(ReadFileBytes(run.summary())), 96);
    // The run used up the stale signal and left none of its own for the next run.
    sem_getvalue(event, &value);
    EXPECT_EQ(value, 0);
    while (sem_trywait(event) == 0) {
    }
    sem_close(event);
}

// Each run that plants an object gets a /dev/shm of its own; inside a chroot, for one, unshare
// cannot make the mount namespace private, and nothing may be planted in the machine's.
bool PrivateShmPossible() {
    return RunCommand("unshare -m sh -c 'mount -t tmpfs tmpfs /dev/shm' 2>&1").exitCode == 0;
}

// Another user (or a broken earlier run) left something under the capture event's name that this
// run must not use: it hands over through an event of its own, says so, keeps its timeline and
// leaves the object where it is.
TEST(Fault, CaptureEventNameTakenByAnotherObject) {
    if (!PrivateShmPossible()) {
        GTEST_SKIP() << "no private /dev/shm here";
    }
    FaultRun foreign("an empty file of another user"), shortOwn("a short file of ours");
    foreign.shmSetup = std::string(": >") + kEventObject + " && chown 65534:65534 " + kEventObject;
    shortOwn.shmSetup = std::string("printf 1234 >") + kEventObject;
    // Both copies of the program are made and closed before either run starts: a run forked
    // while a copy is still open for writing would keep it busy, and exec it would fail.
    for (FaultRun* r : {&foreign, &shortOwn}) {
        r->Prepare();
        if (HasFatalFailure()) return;
    }
    for (FaultRun* r : {&foreign, &shortOwn}) r->Launch();
    for (FaultRun* r : {&foreign, &shortOwn}) {
        r->Finish();
        std::printf("[%s] exit %d after %.1f s, standard error:\n%s", r->label.c_str(), r->exitCode,
                    r->seconds, r->errors.c_str());
        r->ExpectCleanEnd();
        SCOPED_TRACE(r->label);
        EXPECT_TRUE(HasGif(r->exeDir.path()));
        EXPECT_EQ(LinesIn(ReadFileBytes(r->summary())), 96);
        r->ExpectComplaint("capture event /THEMEXXX");
    }
    EXPECT_EQ(ReadFileBytes(foreign.errorFile / "object").substr(0, 8), "0:65534:");
    EXPECT_EQ(ReadFileBytes(shortOwn.errorFile / "object").substr(0, 4), "4:0:");
}

// An object under the event's name that an earlier process of this user left writable by all:
// another user opens it while it is, and cuts it short once the run has it. The run never uses
// that object (which would end it with SIGBUS), and keeps its timeline.
TEST(Fault, CaptureEventCutShortByAnotherUser) {
    if (!PrivateShmPossible()) {
        GTEST_SKIP() << "no private /dev/shm here";
    }
    FaultRun run("a semaphore writable by all, held open by another user");
    const std::string object = kEventObject;
    run.shmSetup = "head -c 32 /dev/zero >" + object + " && chmod 0666 " + object +
                   " && setpriv --reuid=65534 --regid=65534 --clear-groups perl -e '"
                   "open(my $f, \"+<\", $ARGV[0]) or die; open(my $o, \">\", \"/dev/shm/opened\"); "
                   "close($o); for (1..200) { last if ((stat $ARGV[0])[2] & 0777) == 0600; "
                   "select(undef, undef, undef, 0.05) } truncate($f, 0); sleep 1' " +
                   object +
                   " >/dev/null 2>&1 &\nwhile [ ! -e /dev/shm/opened ]; do sleep 0.05; done";
    run.Prepare();
    if (HasFatalFailure()) return;
    run.Launch();
    run.Finish();
    run.ExpectCleanEnd();
    EXPECT_TRUE(HasGif(run.exeDir.path()));
    EXPECT_EQ(LinesIn(ReadFileBytes(run.summary())), 96);
    // A whole semaphore of this user stands under the name, not the one cut short.
    EXPECT_EQ(ReadFileBytes(run.errorFile / "object").substr(0, 5), "32:0:");
}

}  // namespace
