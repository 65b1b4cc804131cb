// SPDX-License-Identifier: GPL-3.0-or-later
// talvor-render when things go wrong: bad arguments, missing or unwritable files, closed
// outputs, a display that does not answer, and how its files reach the disk.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "config/run_state.h"
#include "config/settings.h"
#include "daylog/day_log.h"
#include "output/png_writer.h"
#include "output/snapshot.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "render/chart.h"
#include "render/render_surface.h"
#include "render/render_thread.h"
#include "render_cli_run.h"
#include "site/site_folder.h"
#include "site/site_pages.h"
#include "talvor-render/heard_list.h"
#include "talvor-render/range_drawing.h"
#include "talvor-render/render_cli.h"
#include "talvor-render/render_tool.h"
#include "talvor-render/show_config.h"
#include "talvor-render/site_run.h"
#include "talvor/daily_run.h"
#include "test_support.h"

using namespace talvor;

namespace fs = std::filesystem;

namespace {

std::string Shell(const std::string& text) {
    return "'" + text + "'";
}

TEST_F(RenderCliRun, BadDatesAreUsageErrors) {
    for (const char* args : {"--date 2014-02-30", "--date 14-03-05",
                             "--from 2014-03-05 --to 2014-03-01", "--from 2014-03-05"}) {
        CommandRun run = Render("--config '" + Config("plain") + "' " + args);
        EXPECT_EQ(run.code, 2) << args;
        EXPECT_NE(run.err.find("talvor-render"), std::string::npos) << args << ": " << run.err;
        EXPECT_TRUE(FilesIn(out_->path()).empty()) << args;
    }
}

TEST_F(RenderCliRun, MissingLogsAndConfigurationFail) {
    struct Case {
        std::string args;
        const char* messagePart;
    };
    const Case cases[] = {
        {"--config '" + Config("plain") + "' --date 2014-03-04", "no day log for 2014-03-04"},
        {"--config '" + Config("plain") + "' '" + Folder("plain") + "/BRANTOS/2014-03-04/VOK.LOG'",
         "cannot read day log"},
        {"--config '" + Config("plain") + "' '" + Folder("plain") + "/BRANTOS'",
         "cannot read day log"},
        {"--config '" + Folder("plain") + "/MISSING.INI' --date 2014-03-05",
         "cannot read configuration"},
    };
    for (const Case& c : cases) {
        CommandRun run = Render(c.args);
        EXPECT_EQ(run.code, 1) << c.args;
        EXPECT_NE(run.err.find(c.messagePart), std::string::npos) << c.args << ": " << run.err;
        EXPECT_TRUE(FilesIn(out_->path()).empty()) << c.args;
    }
}

TEST_F(RenderCliRun, UnwritableOutputFolderFailsBeforeDrawing) {
    // Root may write anywhere a mode allows; sysfs refuses new files even to root.
    std::string folder = "/sys";
    if (geteuid() != 0) {
        folder = Out("locked");
        MakeDirs(folder);
        ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
    }
    for (const char* mode : {"--date 2014-03-05 -o", "--from 2014-03-01 --to 2014-03-09 -o"}) {
        CommandRun run = Render("--config '" + Config("plain") + "' " + mode + " '" + folder + "'");
        EXPECT_EQ(run.code, 1) << mode;
        EXPECT_NE(run.err.find("cannot write in folder " + folder), std::string::npos) << run.err;
    }
    CommandRun file =
        Render("--config '" + Config("plain") + "' --date 2014-03-05 -o '" + folder + "/day.gif'");
    EXPECT_EQ(file.code, 1);
    EXPECT_FALSE(file.err.empty());
    CommandRun missing =
        Render("--config '" + Config("plain") + "' --from 2014-03-01 --to 2014-03-09 -o nowhere");
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.err.find("output folder nowhere does not exist"), std::string::npos)
        << missing.err;
    if (geteuid() != 0) chmod(folder.c_str(), 0755);
    for (const std::string& name : FilesIn(out_->path())) EXPECT_EQ(name, "locked");
}

// A closed standard output (a pipe into head) ends the day lines, never the pictures, and the
// exit status is the one the run would have had with the output open.
TEST_F(RenderCliRun, ClosedStandardOutputStopsOnlyTheDayLines) {
    std::string code = Out("code");
    CommandResult piped =
        RunCommand("(env -u DISPLAY -u WAYLAND_DISPLAY '" TALVOR_RENDER "' --config " +
                   Shell(Config("plain")) + " --from 2014-03-01 --to 2014-03-09 -o " +
                   Shell(out_->path()) + " 2>/dev/null; echo $? >" + Shell(code) + ") | head -2");
    EXPECT_EQ(ReadFileBytes(code), "0\n");
    EXPECT_TRUE(FileExists(Out("VOKLOG 2014-03-03.GIF")));
    EXPECT_TRUE(FileExists(Out("VOKLOG 2014-03-05.GIF")));
}

// An output name that is not a picture the run may replace is refused before anything is drawn:
// exit status 1, a message, and not a single file written or changed.
TEST_F(RenderCliRun, OutputsThatAreNotPicturesAreRefusedBeforeDrawing) {
    std::string log = Log("plain", "2014-03-05");
    std::string config = Config("plain");
    std::string logBefore = ReadFileBytes(log), configBefore = ReadFileBytes(config);
    ASSERT_EQ(mkfifo(Out("fifo").c_str(), 0644), 0);
    ASSERT_EQ(symlink("loop", Out("loop").c_str()), 0);
    ASSERT_EQ(link(config.c_str(), Out("config-link.gif").c_str()), 0);
    bool device = mknod(Out("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    std::string base = "--config " + Shell(config) + " --date 2014-03-05 ";
    const struct {
        std::string args;
        std::string message;
    } cases[] = {
        {base + "-o fifo", "cannot write fifo: it is not a regular file"},
        {base + "-o loop", "cannot write loop: Too many levels of symbolic links"},
        {base + "-o " + Shell(log), "it is a day log to be drawn"},
        {base + "-o " + Shell(config), "it is the configuration file"},
        {base + "-o config-link.gif", "it is the configuration file"},
        {base + "-o day.gif --summary " + Shell(log), "it is a day log to be drawn"},
        {base + "-o day.gif --summary day.gif", "it is the picture's name"},
        {"--config " + Shell(config) + " " + Shell(log) + " -o " + Shell(log),
         "it is a day log to be drawn"},
        {base + "-o null", device ? "cannot write null: it is not a regular file" : ""},
    };
    std::vector<std::string> before = FilesIn(out_->path());
    for (const auto& c : cases) {
        if (c.message.empty()) continue;
        CommandRun run = Render(c.args);
        EXPECT_EQ(run.code, 1) << c.args;
        EXPECT_NE(run.err.find("talvor-render: "), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.args << ": " << run.err;
        EXPECT_EQ(FilesIn(out_->path()), before) << c.args;
    }
    EXPECT_EQ(ReadFileBytes(log), logBefore);
    EXPECT_EQ(ReadFileBytes(config), configBefore);
    struct stat st;
    EXPECT_EQ(lstat(Out("fifo").c_str(), &st) == 0 && S_ISFIFO(st.st_mode), true);
    if (device) {
        EXPECT_EQ(lstat(Out("null").c_str(), &st) == 0 && S_ISCHR(st.st_mode), true);
    }

    // A link to a regular file is replaced by the new picture; the file it pointed to stays.
    WriteFileBytes(Out("victim"), "not a picture");
    ASSERT_EQ(symlink("victim", Out("linked.gif").c_str()), 0);
    CommandRun linked = Render(base + "-o linked.gif");
    EXPECT_EQ(linked.code, 0) << linked.err;
    EXPECT_EQ(ReadFileBytes(Out("victim")), "not a picture");
    EXPECT_EQ(lstat(Out("linked.gif").c_str(), &st) == 0 && S_ISREG(st.st_mode), true);
}

// The summary never lands on a picture of the same run, however either name is spelled; a name
// of neither yet counts by its folder and name.
TEST_F(RenderCliRun, SummaryAndPictureNeverShareAFile) {
    std::string base = "--config " + Shell(Config("plain")) + " --date 2014-03-05 ";
    MakeDirs(Out("sub"));
    ASSERT_EQ(symlink(".", Out("here").c_str()), 0);
    WriteFileBytes(Out("old.gif"), "an earlier picture");
    ASSERT_EQ(link(Out("old.gif").c_str(), Out("old-alias.txt").c_str()), 0);
    const struct {
        std::string args;
        bool refused;
    } cases[] = {
        {base + "-o a.gif --summary ./a.gif", true},
        {base + "-o a.gif --summary sub/../a.gif", true},
        {base + "-o ./sub/../a.gif --summary a.gif", true},
        {base + "-o a.gif --summary here/a.gif", true},
        {base + "-o old.gif --summary old-alias.txt", true},
        {base + "-o . --summary 'VOKLOG 2014-03-05.GIF'", true},
        {base + "-o sub --summary './sub/VOKLOG 2014-03-05.GIF'", true},
        {base + "-o a.gif --summary sub/a.gif", false},
        {base + "-o a.gif --summary a.txt", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        std::vector<std::string> before = FilesIn(out_->path());
        CommandRun run = Render(c.args);
        EXPECT_EQ(run.code, c.refused ? 1 : 0) << run.err;
        if (c.refused) {
            EXPECT_NE(run.err.find("it is the picture's name"), std::string::npos) << run.err;
            EXPECT_EQ(FilesIn(out_->path()), before);
            EXPECT_EQ(ReadFileBytes(Out("old.gif")), "an earlier picture");
        }
    }
}

// Over the file size limit the picture's write fails like any other: said under the program's
// own name with the picture's final name, no temporary left, exit status 1.
TEST_F(RenderCliRun, FileSizeLimitIsAFailedWrite) {
    CommandResult limited = RunCommand(
        "(ulimit -f 100; env -u DISPLAY -u WAYLAND_DISPLAY '" TALVOR_RENDER "' --config " +
            Shell(Config("plain")) + " --date 2014-03-05 -o " + Shell(out_->path()) + " 2>" +
            Shell(Out(".err")) + ")",
        out_->path());
    EXPECT_EQ(limited.exitCode, 1);
    EXPECT_EQ(ReadFileBytes(Out(".err")), "talvor-render: cannot write " + out_->path() +
                                              "/VOKLOG 2014-03-05.GIF: File too large\n");
    RemoveFile(Out(".err").c_str());
    EXPECT_TRUE(FilesIn(out_->path()).empty());
}

// A display server that never answers: the run goes on at the headless size after its deadline
// and says so. A broken Wayland setting adds nothing to standard error.
TEST_F(RenderCliRun, DisplayTroubleNeitherHoldsTheRunNorAddsForeignLines) {
    std::string args = " --config " + Shell(Config("plain")) + " --date 2014-03-05 -o " +
                       Shell(out_->path()) + " 2>" + Shell(Out(".err")) + ")";
    std::string report = Out(".report");
    int code = InPrivateFolders(
        {"/tmp/.X11-unix"},
        [&] {
            if (SilentDisplayServer(55) < 0) return 3;
            CommandResult hung = RunCommand(
                "(env -u WAYLAND_DISPLAY DISPLAY=:55 timeout 60 '" TALVOR_RENDER "'" + args);
            WriteFileBytes(report, std::to_string(hung.exitCode) + " " +
                                       std::to_string(hung.seconds) + "\n" +
                                       ReadFileBytes(Out(".err")));
            return 0;
        },
        90000);
    if (code == 125) GTEST_SKIP() << "no private mount namespace here";
    ASSERT_EQ(code, 0);
    std::string hung = ReadFileBytes(report);
    EXPECT_EQ(hung.substr(0, 2), "0 ") << hung;
    EXPECT_LT(std::stod(hung.substr(2)), 30.0) << hung;
    EXPECT_NE(hung.find("\ntalvor-render: the display server did not answer within 2 s; drawing "
                        "at "),
              std::string::npos)
        << hung;
    DecodedGif gif;
    ASSERT_TRUE(ReadGifFile(Out("VOKLOG 2014-03-05.GIF").c_str(), &gif));
    EXPECT_EQ(gif.width, 1920);

    CommandResult wayland = RunCommand(
        "(env -u DISPLAY -u XDG_RUNTIME_DIR WAYLAND_DISPLAY=garbage '" TALVOR_RENDER "'" + args);
    EXPECT_EQ(wayland.exitCode, 0);
    EXPECT_EQ(ReadFileBytes(Out(".err")), "");
}

// A picture and a summary are on the disk before their names are: each file is flushed before
// its rename, and the folder after it.
TEST_F(RenderCliRun, FilesAreFlushedBeforeAndAfterTheirRename) {
    std::string trace = Out(".trace");
    CommandResult traced =
        // The leak checker cannot work under ptrace; it is turned off for the traced run only.
        RunCommand(
            "env -u DISPLAY -u WAYLAND_DISPLAY "
            "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" "
            "strace -f -y -qq -e trace=fsync,rename -o " +
                Shell(trace) + " '" TALVOR_RENDER "' --config " + Shell(Config("plain")) +
                " --date 2014-03-05 -o day.gif --summary sum.txt",
            out_->path());
    if (traced.exitCode != 0 && ReadFileBytes(trace).empty()) GTEST_SKIP() << "no strace here";
    ASSERT_EQ(traced.exitCode, 0) << traced.output;
    std::string text = ReadFileBytes(trace);
    for (const char* name : {"day.gif", "sum.txt"}) {
        SCOPED_TRACE(name);
        std::string temporary = out_->path() + "/." + name + ".";
        size_t flushed = text.find("fsync(");
        while (flushed != std::string::npos &&
               text.compare(text.find('<', flushed) + 1, temporary.size(), temporary) != 0) {
            flushed = text.find("fsync(", flushed + 1);
        }
        size_t renamed = text.find(std::string("\", \"") + name + "\"");
        size_t folder =
            text.find("<" + out_->path() + ">)", renamed == std::string::npos ? 0 : renamed);
        ASSERT_NE(flushed, std::string::npos) << text;
        ASSERT_NE(renamed, std::string::npos) << text;
        EXPECT_LT(flushed, renamed) << text;
        EXPECT_NE(folder, std::string::npos) << text;
    }
}

}  // namespace
