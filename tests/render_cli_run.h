// SPDX-License-Identifier: GPL-3.0-or-later
// The built talvor-render driven as a user would: two station folders laid out like an
// installation of the daily run, and the pictures' pixels compared with the daily run's own.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "calendar/calendar.h"
#include "frame/frame_bitmap.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "talvor-render/render_cli.h"
#include "test_support.h"

namespace {

// talvor-render's command line given to its parser, with what it printed and reported.
struct ParseOutcome {
    int code;
    talvor::RenderRequest request;
    std::string out;
    std::string err;
};

inline ParseOutcome Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "talvor-render");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    ParseOutcome outcome;
    std::ostringstream out;
    ReportedLines reported;
    outcome.code =
        talvor::ParseRenderCommandLine(int(argv.size()), argv.data(), &outcome.request, out);
    outcome.out = out.str();
    outcome.err = reported.text();
    return outcome;
}

// A frame as RGB, top row first.
inline Picture FromFrame(const talvor::FrameBitmap& frame) {
    Picture picture;
    picture.width = frame.width;
    picture.height = frame.height;
    picture.rgb.resize(size_t(frame.width) * size_t(frame.height) * 3);
    for (int y = 0; y < frame.height; ++y) {
        const unsigned char* row = frame.bits + size_t(frame.height - 1 - y) * frame.width * 4;
        for (int x = 0; x < frame.width; ++x) {
            unsigned char* p = &picture.rgb[(size_t(y) * frame.width + x) * 3];
            p[0] = row[x * 4 + 2];
            p[1] = row[x * 4 + 1];
            p[2] = row[x * 4];
        }
    }
    return picture;
}

// Pixels that differ between two pictures of the same size in rows [firstRow, lastRow).
inline long DifferingPixels(const Picture& a, const Picture& b, int firstRow, int lastRow) {
    long count = 0;
    for (int y = firstRow; y < lastRow; ++y) {
        for (int x = 0; x < a.width; ++x) {
            size_t i = (size_t(y) * a.width + x) * 3;
            if (std::memcmp(&a.rgb[i], &b.rgb[i], 3) != 0) ++count;
        }
    }
    return count;
}

inline long WhitePixels(const Picture& a, int firstRow, int lastRow) {
    long count = 0;
    for (int y = firstRow; y < lastRow; ++y) {
        for (int x = 0; x < a.width; ++x) {
            const unsigned char* p = &a.rgb[(size_t(y) * a.width + x) * 3];
            if (p[0] > 200 && p[1] > 200 && p[2] > 200) ++count;
        }
    }
    return count;
}

// ---- The command, driven as a user would -------------------------------------------------------

// The chart's height on the 1920 x 1500 frame that a run without a display draws; the footer's
// text stands on row chartHeight + 33 with glyphs of about 16 rows.
constexpr int kHeadlessWidth = 1920;
constexpr int kHeadlessHeight = 1500;
constexpr int kFooterFirstRow = kHeadlessHeight - 36 + 14;

const char kPlainIni[] = "[CUSTOM]\r\nQTH=Paris,48.9,2.35\r\n";
const char kFooterIni[] =
    "[CUSTOM]\r\nQTH=Paris,48.9,2.35\r\nVOKTEXT=Medium wave at my place\r\nVOKCOLOR=1\r\n"
    "VOKSENS=0.8\r\n";

struct CommandRun {
    int code = -1;
    std::string out;
    std::string err;
};

class RenderCliRun : public ::testing::Test {
  protected:
    // Two folders laid out like an installation of the daily run, each with its own TALVOR.INI,
    // today's log and two past days' logs.
    static void SetUpTestSuite() {
        root_ = new TempDir("render-cli");
        today_ = talvor::GetUtcTime();
        for (const char* name : {"plain", "footer"}) {
            std::string folder = *root_ / name;
            MakeDirs(folder);
            ASSERT_EQ(RunCommand("cp '" TALVOR_EXE "' '" + folder + "/talvor'").exitCode, 0);
            WriteFileBytes(folder + "/TALVOR.INI",
                           std::string(name) == "plain" ? kPlainIni : kFooterIni);
            ASSERT_EQ(RunCommand("'" TALVOR_GEN "' '" + folder + "/BRANTOS' " +
                                 talvor::FormatDate(today_))
                          .exitCode,
                      0);
            for (const char* day : {"2014-03-03", "2014-03-05"}) {
                ASSERT_EQ(RunCommand("'" TALVOR_GEN "' '" + folder + "/BRANTOS' " + day).exitCode,
                          0);
            }
        }
    }

    static void TearDownTestSuite() {
        delete root_;
        root_ = nullptr;
    }

    void SetUp() override { out_ = std::make_unique<TempDir>("render-cli-out"); }

    static std::string Folder(const char* name) { return *root_ / name; }
    static std::string Config(const char* name) { return Folder(name) + "/TALVOR.INI"; }
    static std::string Log(const char* name, const std::string& day) {
        return Folder(name) + "/BRANTOS/" + day + "/VOK.LOG";
    }
    // The daily run's picture of today (named by the date of its save), made by running talvor
    // there the first time it is asked for: a run takes 4.5 s, and CTest starts every test in
    // a process of its own.
    static std::string DailyPicture(const char* name) {
        std::string folder = Folder(name);
        if (!FileExists(folder + "/Z.TXT")) {
            CommandResult daily = RunCommand("env -u DISPLAY -u WAYLAND_DISPLAY ./talvor", folder);
            EXPECT_EQ(daily.exitCode, 0) << daily.output;
        }
        for (const std::string& file : FilesIn(folder)) {
            if (file.rfind("VOKLOG ", 0) == 0) return folder + "/" + file;
        }
        return "";
    }

    CommandRun Render(const std::string& args, const std::string& workingDir = "") {
        std::string errFile = *out_ / ".stderr";
        CommandResult result =
            RunCommand("(env -u DISPLAY -u WAYLAND_DISPLAY '" TALVOR_RENDER "' " + args + " 2>'" +
                           errFile + "')",
                       workingDir.empty() ? out_->path() : workingDir);
        CommandRun run;
        run.code = result.exitCode;
        run.out = result.output;
        run.err = ReadFileBytes(errFile);
        talvor::RemoveFile(errFile.c_str());
        return run;
    }

    std::string Out(const std::string& name) const { return *out_ / name; }

    inline static TempDir* root_ = nullptr;
    inline static talvor::UtcTime today_;
    std::unique_ptr<TempDir> out_;
};

}  // namespace
