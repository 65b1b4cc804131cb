// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <sched.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "config/run_state.h"
#include "gtest/gtest.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "platform/event_loop.h"
#include "platform/files.h"
#include "platform/named_event.h"
#include "platform/outcome.h"
#include "platform/process.h"
#include "test_support.h"

using namespace talvor;

namespace {

// ---- Time and process ---------------------------------------------------------------------------

TEST(Time, UtcTimeIgnoresTheLocalZone) {
    const char* saved = std::getenv("TZ");
    std::string savedZone = saved ? saved : "";
    setenv("TZ", "NPT-5:45", 1);  // a zone whose offset is not whole hours
    tzset();
    time_t before = time(nullptr);
    UtcTime now = GetUtcTime();
    time_t after = time(nullptr);
    if (saved) {
        setenv("TZ", savedZone.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();

    tm expected{};
    gmtime_r(&before, &expected);
    if (before != after && now.second != expected.tm_sec) gmtime_r(&after, &expected);
    EXPECT_EQ(now.year, expected.tm_year + 1900);
    EXPECT_EQ(now.month, expected.tm_mon + 1);
    EXPECT_EQ(now.day, expected.tm_mday);
    EXPECT_EQ(now.dayOfWeek, expected.tm_wday);
    EXPECT_EQ(now.hour, expected.tm_hour);
    EXPECT_EQ(now.minute, expected.tm_min);
    EXPECT_GE(now.millisecond, 0);
    EXPECT_LE(now.millisecond, 999);
}

TEST(Time, SleepLastsAtLeastItsTime) {
    int64_t start = MonotonicMs();
    SleepMs(60);
    EXPECT_GE(MonotonicMs() - start, 60);
    start = MonotonicMs();
    SleepMs(0);
    SleepMs(-5);
    EXPECT_LT(MonotonicMs() - start, 2000);  // no wait at all, taken as a hang guard
}

TEST(Process, ExecutablePathNamesThisTest) {
    std::string path = GetExecutablePath(nullptr);
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.front(), '/');
    EXPECT_EQ(path.substr(path.rfind('/') + 1), "platform_test");
    EXPECT_TRUE(FileExists(path));
}

TEST(Process, ExecutablePathIsThePathStartedBy) {
    TempDir dir("talvor-exe-path");
    MakeDirs(dir / "usr/bin");
    MakeDirs(dir / "station/sub");
    WriteFileBytes(dir / "usr/bin/talvor", "program");
    ASSERT_EQ(symlink((dir / "usr/bin/talvor").c_str(), (dir / "station/talvor").c_str()), 0);
    ASSERT_EQ(symlink("../usr/bin/talvor", (dir / "station/talvorZ").c_str()), 0);
    ASSERT_EQ(symlink((dir / "nowhere").c_str(), (dir / "station/dangling").c_str()), 0);
    char saved[4096];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    const std::string cwd = here;
    const std::string self = GetExecutablePath(nullptr);  // /proc/self/exe
    ASSERT_FALSE(self.empty());
    EXPECT_EQ(self.substr(self.rfind('/') + 1), "platform_test");

    const struct {
        const char* firstArgument;
        std::string want;
    } cases[] = {
        {nullptr, self},
        // Found through PATH: it stands in the working directory, whatever is installed where.
        {"talvor", cwd + "/talvor"},
        {"talvorZ", cwd + "/talvorZ"},
        {"talvor-log", cwd + "/talvor-log"},
        {"", self},
        {"station/talvor", cwd + "/station/talvor"},  // the link, not what it points at
        {"./station/./talvor", cwd + "/station/talvor"},
        {"station//talvorZ", cwd + "/station/talvorZ"},
        {"station/sub/../talvor", cwd + "/station/sub/../talvor"},
        {"usr/bin/talvor", cwd + "/usr/bin/talvor"},
        {"station/dangling", self},  // names no file
        {"station/sub", self},       // a folder
        {"station/missing", self},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.firstArgument != nullptr ? c.firstArgument : "(null)");
        EXPECT_EQ(GetExecutablePath(c.firstArgument), c.want);
    }
    std::string absolute = cwd + "/station/talvor";
    EXPECT_EQ(GetExecutablePath(absolute.c_str()), absolute);
    ASSERT_EQ(chdir(saved), 0);
}

// Started with standard descriptors closed, the program holds them before it opens anything, so
// that no file it opens takes one of their numbers.
TEST(Process, ClosedStandardDescriptorsAreTakenFirst) {
    const std::vector<std::vector<int>> closings = {{0}, {1}, {2}, {0, 2}, {0, 1, 2}};
    for (const std::vector<int>& closed : closings) {
        SCOPED_TRACE(testing::PrintToString(closed));
        int code = RunInChild(
            [&] {
                for (int fd : closed) close(fd);
                KeepStandardDescriptorsTaken();
                struct stat null {
                }, taken{};
                if (stat("/dev/null", &null) != 0) return 2;
                for (int fd : closed) {
                    if (fstat(fd, &taken) != 0 || taken.st_rdev != null.st_rdev) return 3;
                }
                int next = open("/dev/null", O_RDONLY);
                return next > 2 ? 0 : 4;
            },
            5000);
        EXPECT_EQ(code, 0);
    }
}

TEST(Process, EndProcessFlushesAndExitsWithTheCode) {
    TempDir dir;
    std::string out = dir / "out";
    int code = RunInChild(
        [&]() -> int {
            if (freopen(out.c_str(), "w", stdout) == nullptr) return 2;
            std::printf("buffered");
            EndProcess(7);
        },
        5000);
    EXPECT_EQ(code, 7);
    EXPECT_EQ(ReadFileBytes(out), "buffered");
}

// ---- Named event --------------------------------------------------------------------------------

class NamedEventTest : public ::testing::Test {
  protected:
    void SetUp() override {
        name_ = "/talvor-test-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name();
        RemoveNamedEvent(name_.c_str());
    }
    void TearDown() override { RemoveNamedEvent(name_.c_str()); }
    std::string name_;
};

TEST_F(NamedEventTest, SettingTwiceCountsOnce) {
    NamedEvent* event = OpenNamedEvent(name_.c_str());
    ASSERT_NE(event, nullptr);
    EXPECT_FALSE(WaitNamedEvent(event, 0));  // created not signalled
    SetNamedEvent(event);
    SetNamedEvent(event);
    EXPECT_TRUE(WaitNamedEvent(event, 0));
    EXPECT_FALSE(WaitNamedEvent(event, 0));  // the wait reset it
    CloseNamedEvent(event);
}

TEST_F(NamedEventTest, TimedWaitGivesUpAfterItsTime) {
    NamedEvent* event = OpenNamedEvent(name_.c_str());
    ASSERT_NE(event, nullptr);
    int64_t start = MonotonicMs();
    EXPECT_FALSE(WaitNamedEvent(event, 1200));  // crosses a whole second
    int64_t waited = MonotonicMs() - start;
    EXPECT_GE(waited, 1200);
    EXPECT_LT(waited, 5000);
    CloseNamedEvent(event);
}

TEST_F(NamedEventTest, WaitsEndWhenAnotherHandleSetsIt) {
    NamedEvent* waiter = OpenNamedEvent(name_.c_str());
    NamedEvent* setter = OpenNamedEvent(name_.c_str());
    ASSERT_NE(waiter, nullptr);
    ASSERT_NE(setter, nullptr);
    for (int timeout : {-1, 5000}) {
        std::thread later([&] {
            SleepMs(100);
            SetNamedEvent(setter);
        });
        int64_t start = MonotonicMs();
        EXPECT_TRUE(WaitNamedEvent(waiter, timeout));
        EXPECT_GE(MonotonicMs() - start, 90);
        later.join();
    }
    CloseNamedEvent(waiter);
    CloseNamedEvent(setter);
}

TEST_F(NamedEventTest, AnotherProcessCanSetIt) {
    NamedEvent* event = OpenNamedEvent(name_.c_str());
    ASSERT_NE(event, nullptr);
    std::string name = name_;
    int code = RunInChild(
        [name] {
            NamedEvent* other = OpenNamedEvent(name.c_str());
            if (other == nullptr) return 1;
            SetNamedEvent(other);
            return 0;
        },
        5000);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(WaitNamedEvent(event, 2000));
    CloseNamedEvent(event);
}

TEST(NamedEventNulls, AreHarmless) {
    SetNamedEvent(nullptr);
    EXPECT_FALSE(WaitNamedEvent(nullptr, 0));
    CloseNamedEvent(nullptr);
    EXPECT_EQ(OpenNamedEvent(nullptr), nullptr);
    EXPECT_EQ(OpenNamedEvent("/bad/name/with/slashes"), nullptr);
}

// The capture event's name is shared by every user's processes: an object that someone else
// planted under it, or one that is not a whole semaphore, is never mapped (a short one would
// end the process with SIGBUS at the first wait) and never removed; the process gets an event
// of its own instead, which both of its handles share.
TEST(NamedEventOwnership, ForeignOrBrokenObjectsAreLeftAlone) {
    TempDir dir;
    std::string report = dir / "report";
    constexpr uid_t kNobody = 65534;
    struct Case {
        const char* label;
        std::function<void(const std::string& name, const std::string& object)> plant;
        bool shared;
    };
    const Case cases[] = {
        {"nothing there", [](const std::string&, const std::string&) {}, true},
        {"an older one of ours, readable by all",
         [](const std::string& name, const std::string&) {
             sem_close(sem_open(name.c_str(), O_CREAT, 0644, 0));
         },
         true},
        {"an empty file of another user",
         [](const std::string&, const std::string& object) {
             WriteFileBytes(object, "");
             if (chown(object.c_str(), kNobody, kNobody) != 0) std::abort();
         },
         false},
        {"a short file of ours",
         [](const std::string&, const std::string& object) { WriteFileBytes(object, "short"); },
         false},
        {"a whole semaphore of another user",
         [](const std::string& name, const std::string&) {
             RunInChild(
                 [&] {
                     if (setresgid(kNobody, kNobody, kNobody) != 0 ||
                         setresuid(kNobody, kNobody, kNobody) != 0) {
                         return 1;
                     }
                     sem_close(sem_open(name.c_str(), O_CREAT, 0666, 0));
                     return 0;
                 },
                 5000);
         },
         false},
        {"a link",
         [](const std::string&, const std::string& object) {
             WriteFileBytes("/dev/shm/target", std::string(64, '\0'));
             if (symlink("/dev/shm/target", object.c_str()) != 0) std::abort();
         },
         false},
    };
    int code = InPrivateFolders(
        {"/dev/shm"},
        [&] {
            FILE* out = std::fopen(report.c_str(), "w");
            if (out == nullptr) return 2;
            int n = 0;
            for (const Case& c : cases) {
                std::string name = "/talvor-owner-" + std::to_string(n++);
                std::string object = "/dev/shm/sem." + name.substr(1);
                c.plant(name, object);
                struct stat before {};
                bool planted = lstat(object.c_str(), &before) == 0;
                NamedEvent* first = OpenNamedEvent(name.c_str());
                NamedEvent* second = OpenNamedEvent(name.c_str());
                if (first == nullptr || second == nullptr) {
                    std::fprintf(out, "%s: no event\n", c.label);
                    continue;
                }
                bool shared = NamedEventPrivateReason(first) == nullptr;
                if (shared != c.shared) std::fprintf(out, "%s: shared %d\n", c.label, shared);
                SetNamedEvent(first);
                if (!WaitNamedEvent(second, 0)) std::fprintf(out, "%s: not one event\n", c.label);
                struct stat after {};
                if (lstat(object.c_str(), &after) != 0) {
                    std::fprintf(out, "%s: the name was removed\n", c.label);
                } else if (!c.shared && planted &&
                           (after.st_size != before.st_size || after.st_uid != before.st_uid ||
                            after.st_ino != before.st_ino)) {
                    std::fprintf(out, "%s: the planted object was changed\n", c.label);
                } else if (c.shared &&
                           (after.st_uid != geteuid() || (after.st_mode & 0777) != 0600 ||
                            after.st_size < off_t(sizeof(sem_t)))) {
                    std::fprintf(out, "%s: made as %o, size %lld\n", c.label,
                                 unsigned(after.st_mode & 0777), (long long)after.st_size);
                }
                if (c.shared) {
                    // The user's other processes, sem_open ones included, reach the same event.
                    int posted = RunInChild(
                        [&] {
                            sem_t* other = sem_open(name.c_str(), 0);
                            return other != SEM_FAILED && sem_post(other) == 0 ? 0 : 1;
                        },
                        5000);
                    if (posted != 0 || !WaitNamedEvent(first, 2000)) {
                        std::fprintf(out, "%s: another process cannot set it\n", c.label);
                    }
                }
                CloseNamedEvent(first);
                CloseNamedEvent(second);
            }
            std::fclose(out);
            return 0;
        },
        30000);
    if (code == 125) GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReadFileBytes(report), "");
}

// Whoever opened an object of ours for writing while its mode let others in can keep that
// descriptor and cut the object short at any time, whatever its mode is made later: such an
// object is replaced by a fresh one, and an object cut short under the process (a descriptor
// older than its mode) costs the process its sharing but never its life (SIGBUS).
TEST(NamedEventOwnership, ObjectsOthersCouldCutShortNeverEndTheProcess) {
    TempDir dir;
    std::string report = dir / "report";
    const struct {
        const char* label;
        mode_t mode;        // of the planted semaphore, held open for writing meanwhile
        bool keepsTheName;  // the planted object stays in use under the name
    } cases[] = {
        {"writable by all", 0666, false},
        {"readable by all", 0644, false},
        {"ours only now, but held open from before", 0600, true},
    };
    int code = InPrivateFolders(
        {"/dev/shm"},
        [&] {
            FILE* out = std::fopen(report.c_str(), "w");
            if (out == nullptr) return 2;
            int n = 0;
            for (const auto& c : cases) {
                std::string name = "/talvor-cut-" + std::to_string(n++);
                std::string object = "/dev/shm/sem." + name.substr(1);
                sem_close(sem_open(name.c_str(), O_CREAT, 0600, 0));
                int held = open(object.c_str(), O_RDWR);
                struct stat planted {};
                if (held < 0 || fchmod(held, c.mode) != 0 || fstat(held, &planted) != 0) return 3;
                if (c.mode == 0600) fchmod(held, 0600);

                NamedEvent* first = OpenNamedEvent(name.c_str());
                NamedEvent* second = OpenNamedEvent(name.c_str());
                if (first == nullptr || second == nullptr) return 4;
                struct stat named {};
                lstat(object.c_str(), &named);
                if ((named.st_ino == planted.st_ino) != c.keepsTheName ||
                    (named.st_mode & 0777) != 0600) {
                    std::fprintf(out, "%s: the name holds %o, the planted one %s\n", c.label,
                                 unsigned(named.st_mode & 0777),
                                 named.st_ino == planted.st_ino ? "still" : "no more");
                }
                // A waiter asleep on the event while the holder cuts it short, then a signal.
                bool woke = false;
                std::thread waiter([&] { woke = WaitNamedEvent(first, 5000); });
                SleepMs(200);
                if (ftruncate(held, 0) != 0) return 5;
                SetNamedEvent(second);
                waiter.join();
                if (!woke) std::fprintf(out, "%s: the waiter was not woken\n", c.label);
                // Cut short under the process, the event says it is now the process's own.
                if ((NamedEventPrivateReason(first) == nullptr) != !c.keepsTheName) {
                    std::fprintf(out, "%s: private %d\n", c.label,
                                 NamedEventPrivateReason(first) != nullptr);
                }
                SetNamedEvent(first);
                SetNamedEvent(first);
                if (!WaitNamedEvent(second, 0) || WaitNamedEvent(second, 0)) {
                    std::fprintf(out, "%s: not one auto-reset event\n", c.label);
                }
                close(held);
                CloseNamedEvent(first);
                CloseNamedEvent(second);
            }
            std::fclose(out);
            return 0;
        },
        30000);
    if (code == 125) GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReadFileBytes(report), "");
}

// ---- Display query ------------------------------------------------------------------------------

// A display server that accepts connections and never answers (or a frozen desktop) must not hold
// the run: the query gives up after its deadline. A broken Wayland setting must not put the
// display library's own lines on standard error.
TEST(Screen, QueryEndsInTimeAndLeavesStandardErrorAlone) {
    TempDir dir;
    std::string err = dir / "err";
    std::string report = dir / "report";
    int code = InPrivateFolders(
        {"/tmp/.X11-unix"},
        [&] {
            if (SilentDisplayServer(55) < 0) return 3;
            if (freopen(err.c_str(), "w", stderr) == nullptr) return 2;
            FILE* out = std::fopen(report.c_str(), "w");
            const struct {
                const char* x11;
                const char* wayland;
                FailureKind expected;
            } cases[] = {
                {":55", nullptr, FailureKind::DisplayTimedOut},
                {nullptr, "garbage-\x01", FailureKind::NoDesktopDisplay},
                {nullptr, "/nonexistent/wayland-0", FailureKind::NoDesktopDisplay},
            };
            for (const auto& c : cases) {
                unsetenv("XDG_RUNTIME_DIR");
                if (c.x11)
                    setenv("DISPLAY", c.x11, 1);
                else
                    unsetenv("DISPLAY");
                if (c.wayland)
                    setenv("WAYLAND_DISPLAY", c.wayland, 1);
                else
                    unsetenv("WAYLAND_DISPLAY");
                int w = 0, h = 0;
                int64_t start = MonotonicMs();
                FailureKind got = GetScreenSize(&w, &h).kind;
                int64_t took = MonotonicMs() - start;
                int hw = 0, hh = 0;
                unsetenv("DISPLAY");
                unsetenv("WAYLAND_DISPLAY");
                GetScreenSize(&hw, &hh);
                if (got != c.expected || w != hw || h != hh ||
                    took > kDisplayQueryTimeoutMs + 1500) {
                    std::fprintf(out, "%s%s: query %d, %dx%d after %lld ms\n", c.x11 ? c.x11 : "",
                                 c.wayland ? c.wayland : "", int(got), w, h, (long long)took);
                }
            }
            std::fclose(out);
            std::fflush(stderr);
            return 0;
        },
        30000);
    if (code == 125) GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReadFileBytes(report), "");
    EXPECT_EQ(ReadFileBytes(err), "");
}

// ---- Event loop ---------------------------------------------------------------------------------

// What a timer saw when it fired.
struct TimerCalls {
    std::atomic<int> count{0};
    std::thread::id thread;
    int64_t at = 0;
    void Fired() {
        thread = std::this_thread::get_id();
        at = MonotonicMs();
        ++count;
    }
};

TEST(EventLoop, TimerFiresOnceOnTheLoopThread) {
    EventLoop loop;
    TimerCalls calls;
    int64_t start = MonotonicMs();
    ArmOneShotTimer(&loop, 100, [&calls] { calls.Fired(); });
    std::thread quitter([&loop] {
        SleepMs(500);
        PostQuit(&loop, 7);
    });
    EXPECT_EQ(RunEventLoop(&loop), 7);
    quitter.join();
    EXPECT_EQ(calls.count, 1);
    EXPECT_EQ(calls.thread, std::this_thread::get_id());
    EXPECT_GE(calls.at - start, 100);
}

TEST(EventLoop, QuitFromTheTimerEndsTheLoopWithItsCode) {
    EventLoop loop;
    TimerCalls calls;
    int64_t start = MonotonicMs();
    ArmOneShotTimer(&loop, 50, [&] {
        calls.Fired();
        PostQuit(&loop, 3);
    });
    EXPECT_EQ(RunEventLoop(&loop), 3);
    EXPECT_EQ(calls.count, 1);
    EXPECT_GE(MonotonicMs() - start, 50);
}

TEST(EventLoop, KilledTimerNeverFires) {
    EventLoop loop;
    TimerCalls calls;
    ArmOneShotTimer(&loop, 50, [&calls] { calls.Fired(); });
    KillOneShotTimer(&loop);
    std::thread quitter([&loop] {
        SleepMs(300);
        PostQuit(&loop, 0);
    });
    EXPECT_EQ(RunEventLoop(&loop), 0);
    quitter.join();
    EXPECT_EQ(calls.count, 0);
}

// Two loops of one process keep their timers and quits apart.
TEST(EventLoop, LoopsDoNotMeet) {
    EventLoop first, second;
    TimerCalls calls;
    PostQuit(&first, 5);
    ArmOneShotTimer(&second, 0, [&] {
        calls.Fired();
        PostQuit(&second, 9);
    });
    EXPECT_EQ(RunEventLoop(&second), 9);
    EXPECT_EQ(RunEventLoop(&first), 5);
    EXPECT_EQ(calls.count, 1);
}

// ---- Messages -----------------------------------------------------------------------------------

TEST(Message, WithoutDisplayGoesToStandardErrorAtOnce) {
    TempDir dir;
    std::string err = dir / "err";
    int code = RunInChild(
        [&] {
            unsetenv("DISPLAY");
            unsetenv("WAYLAND_DISPLAY");
            if (freopen(err.c_str(), "w", stderr) == nullptr) return 2;
            if (DesktopDisplayReachable()) return 3;
            ShowMessage("no display here");
            return 0;
        },
        3000);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReadFileBytes(err), "TALVOR: no display here\n");
}

TEST(Message, UnreachableDisplayDoesNotBlock) {
    TempDir dir;
    std::string err = dir / "err";
    int code = RunInChild(
        [&] {
            setenv("DISPLAY", ":249", 1);  // named but nobody listening
            unsetenv("WAYLAND_DISPLAY");
            if (freopen(err.c_str(), "w", stderr) == nullptr) return 2;
            ShowMessage("still here");
            return 0;
        },
        5000);
    EXPECT_EQ(code, 0);
    EXPECT_NE(ReadFileBytes(err).find("TALVOR: still here\n"), std::string::npos);
}

TEST(Message, DialogOnADisplayWaitsForOk) {
    XvfbServer x(1024, 768);
    ASSERT_TRUE(x.running());
    TempDir dir;
    std::string err = dir / "err";
    std::string display = x.display();

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        setenv("DISPLAY", display.c_str(), 1);
        unsetenv("WAYLAND_DISPLAY");
        if (freopen(err.c_str(), "w", stderr) == nullptr) _exit(2);
        ShowMessage("dialog check");
        _exit(0);
    }

    // xdotool's name search skips windows whose title is UTF-8, as SDL writes it; xwininfo
    // finds them.
    std::string env = "DISPLAY=" + display + " ";
    std::string window;
    for (int i = 0; i < 150 && window.empty(); ++i) {
        CommandResult found = RunCommand(env + "xwininfo -name TALVOR");
        size_t at = found.output.find("Window id: ");
        if (found.exitCode == 0 && at != std::string::npos) {
            window = found.output.substr(at + 11);
            window = window.substr(0, window.find(' '));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    EXPECT_FALSE(window.empty()) << "no dialog named TALVOR appeared";

    // Still waiting for the user while the dialog is up.
    SleepMs(300);
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, WNOHANG), 0);

    if (!window.empty()) RunCommand(env + "xdotool key --window " + window + " Return");
    bool ended = false;
    for (int i = 0; i < 500 && !ended; ++i) {
        ended = waitpid(child, &status, WNOHANG) == child;
        if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!ended) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    EXPECT_TRUE(ended) << "the dialog did not close on OK";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(ReadFileBytes(err), "TALVOR: dialog check\n");
}

}  // namespace

// The drawing heap: memory freed between days is used again rather than handed back and
// faulted in afresh.
TEST(Memory, DrawingHeapKeepsFreedDaysForTheNext) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer's allocator stands in for the C library's heap";
#endif
    int code = RunInChild(
        [&] {
            PrepareHeapForDrawing();
            const size_t frame = size_t(1920) * 1500 * 4;
            // A first day, freed; the first free also touches heap pages still shared with
            // the test process (copied on write), which the count must not include.
            for (int day = 0; day < 2; ++day) {
                void* block = std::malloc(frame);
                if (block == nullptr) return 2;
                std::memset(block, 1, frame);
                std::free(block);
            }
            struct rusage usage;
            getrusage(RUSAGE_SELF, &usage);
            long faultsBefore = usage.ru_minflt;
            void* second = std::malloc(frame);
            if (second == nullptr) return 3;
            std::memset(second, 2, frame);
            getrusage(RUSAGE_SELF, &usage);
            long faultsAfter = usage.ru_minflt;
            // The next day's frame reuses those pages.
            // A fresh block would fault once per 4 KB page; a few faults remain in this forked
            // child (pages it still shares with the test process).
            if (faultsAfter - faultsBefore > long(frame / 4096 / 4)) return 4;
            return 0;
        },
        10000);
    EXPECT_EQ(code, 0);
}
