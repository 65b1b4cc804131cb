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

// ---- Files --------------------------------------------------------------------------------------

// A failure keeps this system's kind and the system's errno apart: a step or a reason of its own
// is never taken for an errno, nor the other way round.
TEST(Outcome, KeepsTheKindAndTheErrnoApart) {
    struct Case {
        const char* label;
        Outcome outcome;
        FailureKind kind;
        int error;
        std::string reason;
    };
    const Case cases[] = {
        {"worked", Succeeded(), FailureKind::None, 0, ""},
        {"errno", FailedWithErrno(ENOENT), FailureKind::SystemError, ENOENT, std::strerror(ENOENT)},
        {"errno not set", FailedWithErrno(0), FailureKind::SystemError, EIO, std::strerror(EIO)},
        {"kind", Failed(FailureKind::NotRegularFile), FailureKind::NotRegularFile, 0,
         "not a regular file"},
        {"kind said otherwise", Failed(FailureKind::TooLarge, "larger than 5 bytes"),
         FailureKind::TooLarge, 0, "larger than 5 bytes"},
        // A surface's step 1 is no EPERM (errno 1).
        {"step", Failed(FailureKind::NoEglDisplay, "no EGL display"), FailureKind::NoEglDisplay, 0,
         "no EGL display"},
        {"in context", FailedLike(FailedWithErrno(EPERM), "cannot write x: denied"),
         FailureKind::SystemError, EPERM, "cannot write x: denied"},
        {"kind in context", FailedLike(Failed(FailureKind::Locked), "x: locked"),
         FailureKind::Locked, 0, "x: locked"},
        // No kind is no success.
        {"no kind", Failed(FailureKind::None, "why"), FailureKind::SystemError, 0, "why"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(bool(c.outcome), c.kind == FailureKind::None);
        EXPECT_EQ(c.outcome.kind, c.kind);
        EXPECT_EQ(c.outcome.error, c.error);
        EXPECT_EQ(c.outcome.reason, c.reason);
    }
    // Every kind of failure has words of its own.
    std::set<std::string> texts;
    for (int k = int(FailureKind::SystemError); k <= int(FailureKind::LogNotWritable); ++k) {
        std::string text = FailureText(FailureKind(k));
        EXPECT_NE(text, "unknown failure") << k;
        EXPECT_TRUE(texts.insert(text).second) << k << ": " << text;
    }
}

TEST(Files, FifoIsRefusedWithoutWaitingForAWriter) {
    TempDir dir;
    std::string fifo = dir / "pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int result = RunInChild(
        [&] {
            int fd = -1;
            return !OpenForReading(fifo.c_str(), &fd) && fd == -1 ? 0 : 1;
        },
        2000);
    EXPECT_EQ(result, 0);
}

// Whatever stands under the final name is replaced by the new file, never opened or followed:
// a link planted there (by another user, in a shared folder) must not redirect the write.
TEST(Files, WriteFileWholeReplacesWhatStandsUnderTheNameWithoutFollowingIt) {
    TempDir dir;
    std::string victim = dir / "victim";
    struct Case {
        const char* label;
        std::function<void(const std::string&)> plant;
    } cases[] = {
        {"nothing", [](const std::string&) {}},
        {"an older file", [](const std::string& at) { WriteFileBytes(at, "older and longer"); }},
        {"a link to another file",
         [&](const std::string& at) { ASSERT_EQ(symlink(victim.c_str(), at.c_str()), 0); }},
        {"a link to nothing",
         [&](const std::string& at) { ASSERT_EQ(symlink((dir / "none").c_str(), at.c_str()), 0); }},
        {"a FIFO", [](const std::string& at) { ASSERT_EQ(mkfifo(at.c_str(), 0600), 0); }},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        WriteFileBytes(victim, "keep me");
        std::string path = dir / ("out" + std::to_string(n++));
        c.plant(path);
        // In a child: a FIFO opened for writing would wait for a reader.
        int code = RunInChild([&] { return WriteFileWhole(path.c_str(), "new", 3).error; }, 3000);
        EXPECT_EQ(code, 0);
        EXPECT_EQ(ReadFileBytes(victim), "keep me");
        struct stat st;
        ASSERT_EQ(lstat(path.c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(ReadFileBytes(path), "new");
    }
    // Nothing but the finished files: no temporary is left behind.
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
        ++entries;
    }
    EXPECT_EQ(entries, n + 1);
}

// A write that fails half-way (here the file size limit, as under "ulimit -f") leaves the
// previous file whole and no temporary, and says why instead of ending the process.
TEST(Files, FailedWriteKeepsThePreviousFile) {
    TempDir dir;
    std::string path = dir / "Z.TXT";
    WriteFileBytes(path, "the previous summary");
    int code = RunInChild(
        [&] {
            IgnoreWriteSignals();
            struct rlimit limit = {4096, 4096};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 100;
            std::string big(100000, 'x');
            return WriteFileWhole(path.c_str(), big.data(), big.size()).error;
        },
        5000);
    EXPECT_EQ(code, EFBIG);
    EXPECT_EQ(ReadFileBytes(path), "the previous summary");
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        (void)entry;
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST(Files, OpenForReadingAcceptsOnlyRegularFiles) {
    TempDir dir;
    WriteFileBytes(dir / "plain", "abc");
    MakeDirs(dir / "folder");
    struct Case {
        std::string path;
        std::string reason;  // empty when it opens
    } cases[] = {
        {dir / "plain", ""},
        {dir / "folder", "not a regular file"},
        {dir / "missing", std::strerror(ENOENT)},
        {"/dev/null", "not a regular file"},
        {"", std::strerror(ENOENT)},
    };
    for (const Case& c : cases) {
        int fd = -1;
        Outcome opened = OpenForReading(c.path.c_str(), &fd);
        EXPECT_EQ(opened.reason, c.reason) << c.path;
        EXPECT_EQ(fd >= 0, c.reason.empty()) << c.path;
        CloseFile(fd);
    }
}

TEST(Files, ReadsAreBlockingAfterTheNonBlockingOpen) {
    TempDir dir;
    WriteFileBytes(dir / "plain", "abc");
    int fd = -1;
    ASSERT_TRUE(OpenForReading((dir / "plain").c_str(), &fd));
    EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    CloseFile(fd);
}

TEST(Files, ReadUpToStopsAtTheEndAndContinuesFromThePosition) {
    TempDir dir;
    WriteFileBytes(dir / "ten", "0123456789");
    int fd = -1;
    ASSERT_TRUE(OpenForReading((dir / "ten").c_str(), &fd));
    int64_t size = -1;
    EXPECT_TRUE(FileSizeOf(fd, &size));
    EXPECT_EQ(size, 10);
    char buffer[32] = {};
    EXPECT_EQ(ReadUpTo(fd, buffer, 4), 4u);
    EXPECT_EQ(std::string(buffer, 4), "0123");
    EXPECT_EQ(ReadUpTo(fd, buffer, sizeof buffer), 6u);
    EXPECT_EQ(std::string(buffer, 6), "456789");
    EXPECT_EQ(ReadUpTo(fd, buffer, sizeof buffer), 0u);
    CloseFile(fd);
    EXPECT_EQ(ReadUpTo(-1, buffer, sizeof buffer), 0u);
    Outcome unsized = FileSizeOf(-1, &size);
    EXPECT_EQ(unsized.kind, FailureKind::SystemError);
    EXPECT_EQ(unsized.error, EBADF);
    EXPECT_EQ(size, 0);
}

// A read that fails says why, with what arrived before it; ReadUpTo takes what arrived.
TEST(Files, ReadFullySaysWhyAReadFailed) {
    TempDir dir;
    int folder = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(folder, 0);
    char buffer[16];
    size_t got = 99;
    Outcome read = ReadFully(folder, buffer, sizeof buffer, &got);
    EXPECT_FALSE(read);
    EXPECT_EQ(read.error, EISDIR);
    EXPECT_EQ(read.reason, std::strerror(EISDIR));
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(ReadUpTo(folder, buffer, sizeof buffer), 0u);
    close(folder);
    EXPECT_EQ(ReadFully(-1, buffer, sizeof buffer, &got).error, EBADF);
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

TEST(Files, TemporaryBesideTheNameCloseAndReplace) {
    TempDir dir;
    std::string final = dir / "out.txt";
    WriteFileBytes(final, "old contents that are longer");
    std::string temporary, other;
    int fd = -1, second = -1;
    ASSERT_TRUE(CreateTemporaryBeside(final.c_str(), &fd, &temporary));
    ASSERT_TRUE(CreateTemporaryBeside(final.c_str(), &second, &other));
    // In the same folder (so that the rename stays on one file system), hidden, and a new name
    // each time.
    EXPECT_EQ(temporary.rfind(dir / ".out.txt.", 0), 0u) << temporary;
    EXPECT_GT(temporary.size(), (dir / ".out.txt.").size() + 6);
    EXPECT_NE(temporary, other);
    EXPECT_TRUE(CloseWritten(second));
    RemoveFile(other.c_str());
    EXPECT_TRUE(WriteAll(fd, "new", 3));
    EXPECT_TRUE(WriteAll(fd, nullptr, 0));
    EXPECT_TRUE(CloseWritten(fd));
    EXPECT_EQ(ReadFileBytes(final), "old contents that are longer");
    struct stat st;
    ASSERT_EQ(stat(temporary.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0600, 0600u);
    EXPECT_EQ(st.st_mode & 0133, 0u);  // 0644, which a umask can only narrow
    EXPECT_TRUE(ReplaceFile(temporary.c_str(), final.c_str()));
    EXPECT_EQ(ReadFileBytes(final), "new");
    EXPECT_FALSE(PathExists(temporary.c_str()));
}

TEST(Files, FailuresAreReported) {
    TempDir dir;
    std::string temporary;
    int fd = 0;
    EXPECT_EQ(CreateTemporaryBeside((dir / "no/such/folder/f").c_str(), &fd, &temporary).error,
              ENOENT);
    EXPECT_EQ(fd, -1);
    EXPECT_FALSE(CreateTemporaryBeside("", &fd, &temporary));
    // A folder under the name is not replaced, and the temporary goes.
    MakeDirs(dir / "folder");
    Outcome refused = WriteFileWhole((dir / "folder").c_str(), "x", 1);
    EXPECT_EQ(refused.error, EISDIR);
    EXPECT_EQ(refused.reason, std::strerror(EISDIR));
    EXPECT_TRUE(FileExists(dir / "folder"));

    int readOnly = open("/dev/null", O_RDONLY);
    ASSERT_GE(readOnly, 0);
    EXPECT_FALSE(WriteAll(readOnly, "x", 1));
    close(readOnly);
    EXPECT_FALSE(WriteAll(-1, "x", 1));
    EXPECT_FALSE(CloseWritten(-1));

    // A rename that cannot happen removes the temporary.
    temporary = dir / "t.tmp";
    WriteFileBytes(temporary, "t");
    EXPECT_FALSE(ReplaceFile(temporary.c_str(), (dir / "missing/t").c_str()));
    EXPECT_FALSE(PathExists(temporary.c_str()));
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        (void)entry;
        ++entries;
    }
    EXPECT_EQ(entries, 1);  // the folder only
}

TEST(Files, FolderTakesNewFilesAndIdentifyFile) {
    TempDir dir;
    WriteFileBytes(dir / "f", "x");
    ASSERT_EQ(symlink("f", (dir / "link").c_str()), 0);
    ASSERT_EQ(symlink("loop", (dir / "loop").c_str()), 0);
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_TRUE(FolderTakesNewFiles(dir.path().c_str()));
    Outcome missing = FolderTakesNewFiles((dir / "missing").c_str());
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.error, ENOENT);
    EXPECT_EQ(missing.reason, std::strerror(ENOENT));

    FileIdentity file = IdentifyFile((dir / "f").c_str());
    FileIdentity link = IdentifyFile((dir / "link").c_str());
    EXPECT_TRUE(file.exists && file.resolved && file.regular);
    EXPECT_TRUE(link.exists && link.resolved && link.regular);
    EXPECT_EQ(file.inode, link.inode);
    EXPECT_EQ(file.device, link.device);
    FileIdentity loop = IdentifyFile((dir / "loop").c_str());
    EXPECT_TRUE(loop.exists);
    EXPECT_FALSE(loop.resolved);
    EXPECT_EQ(loop.error, ELOOP);
    FileIdentity fifo = IdentifyFile((dir / "fifo").c_str());
    EXPECT_TRUE(fifo.resolved);
    EXPECT_FALSE(fifo.regular);
    EXPECT_FALSE(IdentifyFile((dir / "missing").c_str()).exists);
    // No probe file was made to answer any of this.
    EXPECT_FALSE(PathExists((dir / "missing").c_str()));
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

}  // namespace
