// SPDX-License-Identifier: GPL-3.0-or-later
// Whole runs of the built program in throw-away folders, several side by side to keep the suite
// short (each run takes about 4.5 s by design).
#include <cstdio>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/clock.h"
#include "test_support.h"

using namespace talvor;

namespace fs = std::filesystem;

namespace {

struct Scenario {
    std::string label;
    std::string exeName = "talvor";
    bool linked = false;  // a symbolic link to the built program in a station folder, not a copy
    bool throughPath = false;  // started by its bare name from the working directory
    bool withDayLog = true;
    bool dayLogInProfileFolder = false;  // the log goes to a folder that TALVOR.INI names
    bool missingProfileFolder = false;   // TALVOR.INI names a folder that does not exist
    std::string display;                 // empty: no display server

    // Filled while it runs.
    std::unique_ptr<TempDir> exeDir, workDir, profileDir;

    // Started by a path, the program's folder is the station; by its bare name, the working one.
    std::string station() const { return throughPath ? workDir->path() : exeDir->path(); }
    std::future<CommandResult> run;
    CommandResult result;
};

std::string DateText(const UtcTime& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", t.year, t.month, t.day);
    return text;
}

void Prepare(Scenario& s) {
    s.exeDir = std::make_unique<TempDir>("talvor-e2e-exe");
    s.workDir = std::make_unique<TempDir>("talvor-e2e-work");
    std::string exe = *s.exeDir / s.exeName;
    if (s.linked) {
        fs::create_symlink(fs::absolute(TALVOR_EXE), exe);
    } else {
        fs::copy_file(TALVOR_EXE, exe);
    }

    std::string dataFolder = s.station() + "/BRANTOS";
    if (s.dayLogInProfileFolder || s.missingProfileFolder) {
        s.profileDir = std::make_unique<TempDir>("talvor-e2e-Data");
        std::string named = s.missingProfileFolder ? *s.profileDir / "Gone" : s.profileDir->path();
        WriteFileBytes(s.station() + "/TALVOR.INI", "[KELDAN]\r\nSET " + named + "\r\n");
        if (s.dayLogInProfileFolder) dataFolder = s.profileDir->path();
    }
    if (s.withDayLog) {
        CommandResult made = RunCommand(std::string("'") + TALVOR_GEN + "' '" + dataFolder + "'");
        ASSERT_EQ(made.exitCode, 0) << made.output;
    }
}

// Only after every copy is closed: a process forked while a copy is still open for writing would
// keep it open, and starting that copy would then fail with "Text file busy".
void Launch(Scenario& s) {
    std::string exe = s.throughPath ? "env PATH='" + s.exeDir->path() + "' " + s.exeName
                                    : "'" + (*s.exeDir / s.exeName) + "'";
    std::string command = s.display.empty()
                              ? "env -u DISPLAY -u WAYLAND_DISPLAY " + exe
                              : "env -u WAYLAND_DISPLAY DISPLAY=" + s.display + " " + exe;
    std::string workDir = s.workDir->path();
    s.run =
        std::async(std::launch::async, [command, workDir] { return RunCommand(command, workDir); });
}

// The GIF files beside the executable.
std::vector<std::string> GifsIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::string name = entry.path().filename().string();
        if (name.size() > 4 && (name.substr(name.size() - 4) == ".GIF" || name == "z.gif")) {
            names.push_back(name);
        }
    }
    return names;
}

// Width and height from a GIF's logical screen descriptor; 0 x 0 when it is no GIF.
void GifSize(const std::string& path, int* width, int* height) {
    std::string bytes = ReadFileBytes(path);
    *width = *height = 0;
    if (bytes.size() < 10 || bytes.compare(0, 4, "GIF8") != 0) return;
    auto byte = [&](size_t i) { return int(static_cast<unsigned char>(bytes[i])); };
    *width = byte(6) | byte(7) << 8;
    *height = byte(8) | byte(9) << 8;
}

int CountLines(const std::string& text) {
    int lines = 0;
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2)) {
        ++lines;
    }
    return lines;
}

// Eight runs at once end well before 8 s on an idle machine, but a loaded or instrumented one
// takes several times as long: the limit only catches a run that hangs (speed is measured in
// bench/).
constexpr double kLatestEnd = 30.0;

TEST(EndToEnd, RunsSideBySide) {
    XvfbServer x(1366, 768);
    ASSERT_TRUE(x.running());

    std::vector<Scenario> scenarios(9);
    scenarios[0].label = "dated name, headless";
    scenarios[1].label = "Z variant";
    scenarios[1].exeName = "talvorZ";
    scenarios[2].label = "no day log";
    scenarios[2].withDayLog = false;
    scenarios[3].label = "profile section names the data folder";
    scenarios[3].dayLogInProfileFolder = true;
    scenarios[4].label = "profile section names a missing folder";
    scenarios[4].missingProfileFolder = true;
    scenarios[5].label = "display server 1366 x 768";
    scenarios[5].display = x.display();
    scenarios[6].label = "station folder with a link to the program";
    scenarios[6].linked = true;
    scenarios[7].label = "station folder with a link named talvorZ";
    scenarios[7].linked = true;
    scenarios[7].exeName = "talvorZ";
    scenarios[8].label = "started by its bare name through PATH";
    scenarios[8].throughPath = true;
    scenarios[8].exeName = "talvorZ";

    UtcTime before = GetUtcTime();
    for (Scenario& s : scenarios) {
        SCOPED_TRACE(s.label);
        Prepare(s);
    }
    for (Scenario& s : scenarios) Launch(s);
    for (Scenario& s : scenarios) s.result = s.run.get();
    UtcTime after = GetUtcTime();

    for (Scenario& s : scenarios) {
        SCOPED_TRACE(s.label + "\n" + s.result.output);
        EXPECT_EQ(s.result.exitCode, 0);
        EXPECT_GE(s.result.seconds, 4.5);
        EXPECT_LT(s.result.seconds, kLatestEnd);
        EXPECT_EQ(s.result.output.find("not finished in time"), std::string::npos);

        std::vector<std::string> gifs = GifsIn(s.station());
        ASSERT_EQ(gifs.size(), 1u);
        if (s.throughPath) {
            EXPECT_EQ(GifsIn(s.exeDir->path()).size(), 0u);
        }
        if (s.exeName == "talvorZ") {
            EXPECT_EQ(gifs[0], "z.gif");
        } else {
            EXPECT_TRUE(gifs[0] == "VOKLOG " + DateText(before) + ".GIF" ||
                        gifs[0] == "VOKLOG " + DateText(after) + ".GIF")
                << gifs[0];
        }
        int width = 0, height = 0;
        GifSize(s.station() + "/" + gifs[0], &width, &height);
        if (s.display.empty()) {
            EXPECT_EQ(width, 1920);
            EXPECT_EQ(height, 1500);
        } else {
            EXPECT_EQ(width, 1368);
            EXPECT_EQ(height, 768);
        }

        // A day without a log is no failure, but the path looked for is named once.
        std::string noLog = "TALVOR: no day log at " + s.station() + "/BRANTOS/";
        size_t said = s.result.output.find(noLog);
        EXPECT_EQ(said != std::string::npos, !s.withDayLog);
        if (said != std::string::npos) {
            EXPECT_EQ(s.result.output.find("no day log", said + noLog.size()), std::string::npos);
        }

        std::string summaryPath = *s.workDir / "Z.TXT";
        ASSERT_TRUE(FileExists(summaryPath));
        EXPECT_FALSE(FileExists(*s.exeDir / "Z.TXT"));
        std::string summary = ReadFileBytes(summaryPath);
        if (s.withDayLog) {
            EXPECT_EQ(CountLines(summary), 96);
            EXPECT_NE(summary.find(" 00:00 UTC J="), std::string::npos);
            EXPECT_NE(summary.find(" 23:45 UTC J="), std::string::npos);
        } else {
            EXPECT_EQ(summary, "");
        }
    }

    // The named folder was used instead of BRANTOS, which does not exist there.
    EXPECT_FALSE(FileExists(*scenarios[3].exeDir / "BRANTOS"));
    // A missing folder is reported and the default folder kept.
    EXPECT_NE(
        scenarios[4].result.output.find("TALVOR: [KELDAN] : \"" +
                                        (*scenarios[4].profileDir / "Gone") + "\" DOES NOT EXIST"),
        std::string::npos);
}

// The daily run takes no arguments: asked for its usage or version it answers and exits, and any
// other argument is refused; either way no picture, summary or folder is made.
TEST(EndToEnd, ArgumentsAreAnsweredWithoutARun) {
    TempDir station("talvor-e2e-args");
    TempDir work("talvor-e2e-args-work");
    fs::create_symlink(fs::absolute(TALVOR_EXE), station / "talvor");
    const struct {
        std::string arguments;
        int exitCode;
        std::string out, err;  // what each stream starts with
    } cases[] = {
        {"--help", 0, "Usage: talvor [--help | --version]\n", ""},
        {"--version", 0, "talvor 1.", ""},
        {"--bogus", 2, "", "TALVOR: unknown argument '--bogus'\n\nUsage: talvor"},
        {"-h", 2, "", "TALVOR: unknown argument '-h'\n"},
        {"--help --version", 2, "", "TALVOR: --help and --version are given alone\n"},
        {"--help today", 2, "", "TALVOR: unknown argument 'today'\n"},
        {"''", 2, "", "TALVOR: unknown argument ''\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const std::string errPath = work / "err";
        CommandResult run =
            RunCommand("{ env -u DISPLAY -u WAYLAND_DISPLAY " + (station / "talvor") + " " +
                           c.arguments + " 2>" + errPath + "; }",
                       work.path());
        std::string err = ReadFileBytes(errPath);
        fs::remove(errPath);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(run.output.compare(0, c.out.size(), c.out), 0) << run.output;
        EXPECT_EQ(c.out.empty(), run.output.empty()) << run.output;
        EXPECT_EQ(err.compare(0, c.err.size(), c.err), 0) << err;
        EXPECT_EQ(c.err.empty(), err.empty()) << err;
        EXPECT_TRUE(fs::is_empty(work.path()));
        EXPECT_EQ(std::distance(fs::directory_iterator(station.path()), fs::directory_iterator()),
                  1);
    }
}

// Started by its bare name, as after installation, each program takes the working directory as
// its station folder and leaves the folder it is installed in alone.
TEST(EndToEnd, ProgramsStartedByBareNameStandInTheWorkingDirectory) {
    TempDir installed("talvor-e2e-bin");
    TempDir station("talvor-e2e-station");
    for (const char* program : {TALVOR_RENDER, TALVOR_LOG}) {
        fs::create_symlink(fs::absolute(program),
                           installed / fs::path(program).filename().string());
    }
    const std::string path = "env -u DISPLAY -u WAYLAND_DISPLAY PATH='" + installed.path() + "' ";
    CommandResult shown = RunCommand(path + "talvor-render --show-config", station.path());
    EXPECT_EQ(shown.exitCode, 0) << shown.output;
    EXPECT_NE(shown.output.find("configuration: " + station.path() + "/TALVOR.INI"),
              std::string::npos)
        << shown.output;
    // A day in the past: live, a line far ahead of the clock is skipped.
    CommandResult logged =
        RunCommand("printf '2020-01-02, 00:01:00, 519500, 521500, 1000, 1, -60, -30\\n' | " + path +
                       "talvor-log --utc",
                   station.path());
    EXPECT_EQ(logged.exitCode, 0) << logged.output;
    EXPECT_EQ(ReadFileBytes(station / "BRANTOS/2020-01-02/VOK.LOG").size(), 2u * 4890);
    EXPECT_FALSE(FileExists(installed / "BRANTOS"));
}

// Started with a standard descriptor closed, as a service manager or a shell may start them, no
// program lets a file it opens take that descriptor's number: the messages or lines meant for it
// would land in the file.
TEST(EndToEnd, ClosedStandardDescriptorsNeverReachTheFilesWritten) {
    TempDir station("talvor-e2e-closed");
    fs::copy_file(TALVOR_EXE, station / "talvor");
    WriteFileBytes(station / "TALVOR.INI", "");
    fs::create_directory(station / "out");
    const std::string gen = "'" TALVOR_GEN "' ",
                      config = " --config '" + (station / "TALVOR.INI") + "'";
    for (const char* day : {"2026-01-05", "2026-01-06"}) {
        ASSERT_EQ(RunCommand(gen + "BRANTOS " + day, station.path()).exitCode, 0);
    }
    const std::string today = DateText(GetUtcTime());
    struct Case {
        const char* name;
        std::string command;
        std::vector<std::string> files;  // written by the run: whole, without a line of text
    };
    const Case cases[] = {
        // A line two days ahead, said to be skipped while the log is open.
        {"talvor-log, standard error closed",
         "{ " + gen +
             "--csv 2026-01-07 --minutes 30; echo 2026-01-09, 00:00:00, 519500, 521500, 1000, 1, "
             "-60, -30; } | '" TALVOR_LOG "' --utc" +
             config + " 2>&-",
         {"BRANTOS/2026-01-07/VOK.LOG"}},
        {"talvor-render, standard output closed",
         "'" TALVOR_RENDER "'" + config + " --from 2026-01-05 --to 2026-01-06 -o out >&-",
         {"out/VOKLOG 2026-01-05.GIF", "out/VOKLOG 2026-01-06.GIF"}},
        {"talvor-gen-daylog, both closed",
         gen + "BRANTOS 2026-01-08 >&- 2>&-",
         {"BRANTOS/2026-01-08/VOK.LOG"}},
        // Without today's log the run says so while it has files open.
        {"talvor, standard error closed", "./talvor 2>&-", {"VOKLOG " + today + ".GIF", "Z.TXT"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CommandResult run = RunCommand(
            "env -u DISPLAY -u WAYLAND_DISPLAY sh -c " + std::string("\"") + c.command + "\"",
            station.path());
        EXPECT_EQ(run.exitCode, 0) << run.output;
        for (const std::string& file : c.files) {
            SCOPED_TRACE(file);
            ASSERT_TRUE(FileExists(station / file));
            std::string bytes = ReadFileBytes(station / file);
            for (const char* text : {"talvor-log:", "talvor-render:", "TALVOR:", " out/VOKLOG"}) {
                EXPECT_EQ(bytes.find(text), std::string::npos) << text;
            }
            if (file.find("VOK.LOG") != std::string::npos) {
                EXPECT_EQ(bytes.size() % 4890, 0u) << bytes.size();
            }
        }
    }
}

}  // namespace
