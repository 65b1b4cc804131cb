#include "platform/platform.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "gtest/gtest.h"
#include "station/run_state.h"
#include "test_support.h"

namespace {

// ---- Files --------------------------------------------------------------------------------------

TEST(Files, FifoIsRefusedWithoutWaitingForAWriter) {
    TempDir dir;
    std::string fifo = dir / "pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int result = RunInChild([&] { return OpenForReading(fifo.c_str()) == -1 ? 0 : 1; }, 2000);
    EXPECT_EQ(result, 0);
}

TEST(Files, FifoIsRefusedForWriting) {
    TempDir dir;
    std::string fifo = dir / "pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int result = RunInChild([&] { return CreateForWriting(fifo.c_str()) == -1 ? 0 : 1; }, 2000);
    EXPECT_EQ(result, 0);
}

TEST(Files, OpenForReadingAcceptsOnlyRegularFiles) {
    TempDir dir;
    WriteFileBytes(dir / "plain", "abc");
    MakeDirs(dir / "folder");
    struct Case {
        std::string path;
        bool opens;
    } cases[] = {
        {dir / "plain", true},
        {dir / "folder", false},
        {dir / "missing", false},
        {"/dev/null", false},
        {"", false},
    };
    for (const Case& c : cases) {
        int fd = OpenForReading(c.path.c_str());
        EXPECT_EQ(fd >= 0, c.opens) << c.path;
        CloseFile(fd);
    }
}

TEST(Files, ReadsAreBlockingAfterTheNonBlockingOpen) {
    TempDir dir;
    WriteFileBytes(dir / "plain", "abc");
    int fd = OpenForReading((dir / "plain").c_str());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    CloseFile(fd);
}

TEST(Files, ReadUpToStopsAtTheEndAndContinuesFromThePosition) {
    TempDir dir;
    WriteFileBytes(dir / "ten", "0123456789");
    int fd = OpenForReading((dir / "ten").c_str());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(FileSizeOf(fd), 10);
    char buffer[32] = {};
    EXPECT_EQ(ReadUpTo(fd, buffer, 4), 4u);
    EXPECT_EQ(std::string(buffer, 4), "0123");
    EXPECT_EQ(ReadUpTo(fd, buffer, sizeof buffer), 6u);
    EXPECT_EQ(std::string(buffer, 6), "456789");
    EXPECT_EQ(ReadUpTo(fd, buffer, sizeof buffer), 0u);
    CloseFile(fd);
    EXPECT_EQ(ReadUpTo(-1, buffer, sizeof buffer), 0u);
    EXPECT_EQ(FileSizeOf(-1), -1);
}

TEST(Files, ReadUpToJoinsShortReads) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    // A pipe hands out what has been written so far: each read comes back short.
    std::thread writer([&] {
        for (int i = 0; i < 5; ++i) {
            char piece[20];
            std::memset(piece, 'a' + i, sizeof piece);
            ASSERT_EQ(write(ends[1], piece, sizeof piece), ssize_t(sizeof piece));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        close(ends[1]);
    });
    char buffer[150] = {};
    size_t n = ReadUpTo(ends[0], buffer, 90);
    EXPECT_EQ(n, 90u);
    EXPECT_EQ(buffer[0], 'a');
    EXPECT_EQ(buffer[89], 'e');
    // The rest up to the writer's end, then the end of the stream.
    EXPECT_EQ(ReadUpTo(ends[0], buffer, sizeof buffer), 10u);
    writer.join();
    close(ends[0]);
}

TEST(Files, WriteCloseAndReplace) {
    TempDir dir;
    std::string temporary = dir / "out.tmp";
    std::string final = dir / "out.txt";
    WriteFileBytes(final, "old contents that are longer");
    int fd = CreateForWriting(temporary.c_str());
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(WriteAll(fd, "new", 3));
    EXPECT_TRUE(WriteAll(fd, nullptr, 0));
    EXPECT_TRUE(CloseWritten(fd));
    struct stat st;
    ASSERT_EQ(stat(temporary.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0600, 0600u);
    EXPECT_EQ(st.st_mode & 0133, 0u);  // 0644, which a umask can only narrow
    EXPECT_TRUE(ReplaceFile(temporary.c_str(), final.c_str()));
    EXPECT_EQ(ReadFileBytes(final), "new");
    EXPECT_FALSE(PathExists(temporary.c_str()));
}

TEST(Files, CreateForWritingEmptiesAnExistingFile) {
    TempDir dir;
    WriteFileBytes(dir / "f", "something");
    int fd = CreateForWriting((dir / "f").c_str());
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(CloseWritten(fd));
    EXPECT_EQ(ReadFileBytes(dir / "f"), "");
}

TEST(Files, FailuresAreReported) {
    TempDir dir;
    EXPECT_EQ(CreateForWriting((dir / "no/such/folder/f").c_str()), -1);
    EXPECT_EQ(CreateForWriting(dir.path().c_str()), -1);

    int readOnly = open("/dev/null", O_RDONLY);
    ASSERT_GE(readOnly, 0);
    EXPECT_FALSE(WriteAll(readOnly, "x", 1));
    close(readOnly);
    EXPECT_FALSE(WriteAll(-1, "x", 1));
    EXPECT_FALSE(CloseWritten(-1));

    // A rename that cannot happen removes the temporary.
    std::string temporary = dir / "t.tmp";
    WriteFileBytes(temporary, "t");
    EXPECT_FALSE(ReplaceFile(temporary.c_str(), (dir / "missing/t").c_str()));
    EXPECT_FALSE(PathExists(temporary.c_str()));
}

TEST(Files, PathExistsAndRemoveFile) {
    TempDir dir;
    WriteFileBytes(dir / "f", "x");
    EXPECT_TRUE(PathExists((dir / "f").c_str()));
    EXPECT_TRUE(PathExists(dir.path().c_str()));
    EXPECT_FALSE(PathExists((dir / "g").c_str()));
    EXPECT_FALSE(PathExists(""));
    EXPECT_FALSE(PathExists(nullptr));
    RemoveFile((dir / "f").c_str());
    EXPECT_FALSE(PathExists((dir / "f").c_str()));
}

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
    EXPECT_LT(MonotonicMs() - start, 50);
}

TEST(Process, ExecutablePathNamesThisTest) {
    std::string path = GetExecutablePath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.front(), '/');
    EXPECT_EQ(path.substr(path.rfind('/') + 1), "platform_test");
    EXPECT_TRUE(FileExists(path));
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

// ---- Event loop ---------------------------------------------------------------------------------

std::atomic<int> timerCalls{0};
std::thread::id timerThread;
int64_t timerAt = 0;

void CountingTimer() {
    timerThread = std::this_thread::get_id();
    timerAt = MonotonicMs();
    ++timerCalls;
}

void QuittingTimer() {
    CountingTimer();
    PostQuit(3);
}

TEST(EventLoop, TimerFiresOnceOnTheLoopThread) {
    timerCalls = 0;
    int64_t start = MonotonicMs();
    ArmOneShotTimer(100, CountingTimer);
    std::thread quitter([] {
        SleepMs(500);
        PostQuit(7);
    });
    EXPECT_EQ(RunEventLoop(), 7);
    quitter.join();
    EXPECT_EQ(timerCalls, 1);
    EXPECT_EQ(timerThread, std::this_thread::get_id());
    EXPECT_GE(timerAt - start, 100);
}

TEST(EventLoop, QuitFromTheTimerEndsTheLoopWithItsCode) {
    timerCalls = 0;
    int64_t start = MonotonicMs();
    ArmOneShotTimer(50, QuittingTimer);
    EXPECT_EQ(RunEventLoop(), 3);
    EXPECT_EQ(timerCalls, 1);
    EXPECT_GE(MonotonicMs() - start, 50);
}

TEST(EventLoop, KilledTimerNeverFires) {
    timerCalls = 0;
    ArmOneShotTimer(50, CountingTimer);
    KillOneShotTimer();
    std::thread quitter([] {
        SleepMs(300);
        PostQuit(0);
    });
    EXPECT_EQ(RunEventLoop(), 0);
    quitter.join();
    EXPECT_EQ(timerCalls, 0);
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
