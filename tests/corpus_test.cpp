// SPDX-License-Identifier: GPL-3.0-or-later
// The bad-input corpus: every configuration file and day log in tests/corpus must give its
// documented result (tests/corpus/README.txt), and every file there must be documented here.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "config/run_state.h"
#include "config/settings.h"
#include "daylog/day_log.h"
#include "output/summary.h"
#include "render/chart.h"
#include "render/level_colour.h"
#include "talvor/daily_run.h"
#include "test_support.h"

using namespace talvor;

namespace fs = std::filesystem;

namespace {

const std::string kCorpus = std::string(TALVOR_SOURCE_DIR) + "/tests/corpus";
const char kDefaultDataFolder[] = "/corpus-test/BRANTOS";

std::set<std::string> FilesIn(const std::string& folder, const std::string& extension) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() == extension) names.insert(entry.path().filename().string());
    }
    return names;
}

// ---- Configuration files -----------------------------------------------------------------------

// What a configuration file leaves behind. Fields left at their initial values mean "the
// default"; extra checks cover results the file grammar leaves to the implementer.
struct ConfigResult {
    int channelSpacing = 10;
    float sensitivity = 1.0f;
    int colourMode = 0;  // kAnyNonZero: some non-zero value
    std::string chartText;
    std::string locationName = "LONDON";
    std::string dataFolder = kDefaultDataFolder;
    std::string message;  // a text the standard error output must hold; empty: no output at all
    // Replaces the locationName/dataFolder checks when set.
    std::function<void(const Settings& settings, const std::string& dataFolder)> extra;
    bool rangesOnly = false;  // no rule holds in the file: only the ranges are checked
};
constexpr int kAnyNonZero = 0x7fffabcd;

std::map<std::string, ConfigResult> ConfigExpectations() {
    std::map<std::string, ConfigResult> e;
    auto with = [](auto change) {
        ConfigResult r;
        change(r);
        return r;
    };
    for (const char* name :
         {"empty.ini", "three_bytes_not_scanned.ini", "cr_only_line_ends.ini",
          "header_not_closed.ini", "header_lower_case.ini", "header_plural.ini",
          "header_after_space.ini", "header_after_byte_order_mark.ini",
          "header_name_over_two_lines.ini", "header_last_in_file.ini", "only_brackets.ini",
          "key_without_equals.ini", "key_after_space_or_slash.ini", "profile_two_sections.ini",
          "profile_two_empty_lines_before.ini", "profile_spaces_only_line.ini"}) {
        e[name] = ConfigResult{};
    }
    e["no_line_break_at_end.ini"] = with([](ConfigResult& r) { r.sensitivity = 0.5f; });
    // LF alone ends a line as CR LF does.
    e["lf_only_line_ends.ini"] = with([](ConfigResult& r) {
        r.sensitivity = 0.5f;
        r.colourMode = 1;
    });
    e["nul_ends_text.ini"] = with([](ConfigResult& r) { r.colourMode = 1; });
    e["nul_ends_line.ini"] = with([](ConfigResult& r) { r.colourMode = 7; });
    e["lines_before_first_section.ini"] = with([](ConfigResult& r) { r.sensitivity = 0.5f; });
    e["empty_key.ini"] = with([](ConfigResult& r) { r.channelSpacing = 9; });
    e["equals_and_spaces_run.ini"] = with([](ConfigResult& r) { r.sensitivity = 0.5f; });
    e["voksens_nan.ini"] = with([](ConfigResult& r) { r.colourMode = 2; });
    e["voksens_infinity.ini"] = ConfigResult{};
    e["voksens_overflow.ini"] = ConfigResult{};
    e["voksens_underflow.ini"] = ConfigResult{};
    e["voksens_hexadecimal.ini"] = with([](ConfigResult& r) { r.sensitivity = 0.125f; });
    e["voksens_at_lower_limit.ini"] = ConfigResult{};
    e["vokcolor_overflow.ini"] = with([](ConfigResult& r) { r.colourMode = kAnyNonZero; });
    // 2^32 + 10 is not 10, however an int would wrap it.
    e["overseas_wraps_to_ten.ini"] = with([](ConfigResult& r) { r.channelSpacing = 9; });
    e["overseas_not_a_number.ini"] = with([](ConfigResult& r) { r.channelSpacing = 9; });
    e["voktext_over_127.ini"] = with([](ConfigResult& r) { r.chartText = std::string(127, 't'); });
    e["qth_name_over_79.ini"] =
        with([](ConfigResult& r) { r.locationName = std::string(79, 'Q'); });
    e["qth_value_over_255.ini"] =
        with([](ConfigResult& r) { r.locationName = std::string(79, 'P'); });
    e["qth_empty_name.ini"] = ConfigResult{};
    e["eight_bit_text.ini"] = with([](ConfigResult& r) {
        r.chartText = "caf\xE9 \xFF";
        r.locationName = "M\xFCNCHEN";
    });
    e["empty_header_is_profile.ini"] = with([](ConfigResult& r) { r.dataFolder = "/"; });
    e["profile_one_empty_line_before.ini"] = with([](ConfigResult& r) { r.dataFolder = "/"; });
    e["profile_quote_not_closed.ini"] = with([](ConfigResult& r) { r.dataFolder = "/"; });
    e["profile_path_missing.ini"] =
        with([](ConfigResult& r) { r.message = "[KELDAN] : \"/NO/SUCH/FOLDER\" DOES NOT EXIST"; });
    e["profile_path_then_missing.ini"] = with([](ConfigResult& r) {
        r.dataFolder = "/";
        r.message = "[KELDAN] : \"/NO/SUCH/FOLDER\" DOES NOT EXIST";
    });
    // The "[" ends the profile text one byte early, so its line reads "SET " and names SET.
    e["profile_bracket_in_line.ini"] = with([](ConfigResult& r) {
        r.colourMode = 1;
        r.message = "[KELDAN] : \"SET\" DOES NOT EXIST";
    });
    e["profile_set_alone.ini"] =
        with([](ConfigResult& r) { r.message = "[KELDAN] : \"SET\" DOES NOT EXIST"; });
    e["profile_qth_incomplete.ini"] = with([](ConfigResult& r) { r.locationName = "OSLO"; });
    e["profile_lf_only.ini"] = with([](ConfigResult& r) {
        r.dataFolder = "/";
        r.message = "[KELDAN] : \"/NO/SUCH/FOLDER\" DOES NOT EXIST";
    });
    // Lines longer than a profile line may be cut or kept whole; either way the path is made
    // of slashes only and the location of W's only.
    e["profile_line_over_31.ini"] = with([](ConfigResult& r) {
        r.message = "*";
        r.extra = [](const Settings& settings, const std::string& dataFolder) {
            std::string folder = dataFolder;
            EXPECT_TRUE(folder == kDefaultDataFolder ||
                        (!folder.empty() && folder.find_first_not_of('/') == std::string::npos))
                << folder;
            std::string location = settings.locationName;
            EXPECT_TRUE(location == "LONDON" ||
                        (!location.empty() && location.find_first_not_of('W') == std::string::npos))
                << location;
        };
    });
    // Either the NUL ends the text (nothing applies) or it ends the name "CUS" (a CUSTOM part).
    e["nul_in_header.ini"] = with([](ConfigResult& r) {
        r.colourMode = -1;
        r.extra = [](const Settings& settings, const std::string&) {
            EXPECT_TRUE(settings.colourMode == 0 || settings.colourMode == 1);
        };
    });
    for (const char* name : {"random_bytes.ini", "random_lines.ini"}) {
        e[name] = with([](ConfigResult& r) { r.rangesOnly = true; });
    }
    return e;
}

// What every configuration, however broken, must leave: fields within their documented ranges.
void ExpectSettingsInRange(const Settings& settings) {
    EXPECT_TRUE(settings.channelSpacing == 10 || settings.channelSpacing == 9);
    EXPECT_GT(settings.sensitivity, 0.1f);
    EXPECT_LE(settings.sensitivity, 1.0f);
    EXPECT_LT(strnlen(settings.chartText, sizeof settings.chartText), sizeof settings.chartText);
    size_t location = strnlen(settings.locationName, sizeof settings.locationName);
    EXPECT_LT(location, sizeof settings.locationName);
    EXPECT_GT(location, 0u) << "the default location must apply";
    for (size_t i = 0; i < location; ++i) {
        EXPECT_FALSE(settings.locationName[i] >= 'a' && settings.locationName[i] <= 'z');
    }
}

class ConfigCorpusTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // A desktop would turn the profile messages into dialogs that wait for a click.
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
    }
    // Reads one file's bytes as the configuration into settings and dataFolder, from the
    // defaults; returns what went to standard error.
    std::string Read(const std::string& bytes) {
        settings = Settings{};
        dataFolder = kDefaultDataFolder;
        ReportedLines reported;
        ReadConfigurationBytes(bytes.data(), bytes.size(), &settings, &dataFolder);
        return reported.text();
    }

    Settings settings;
    std::string dataFolder;
};

TEST_F(ConfigCorpusTest, EveryFileGivesItsDocumentedSettings) {
    const auto expectations = ConfigExpectations();
    const auto files = FilesIn(kCorpus + "/config", ".ini");
    ASSERT_GE(files.size(), 40u);
    for (const std::string& name : files) {
        SCOPED_TRACE(name);
        auto it = expectations.find(name);
        ASSERT_NE(it, expectations.end()) << "undocumented corpus file";
        const ConfigResult& want = it->second;
        std::string errors = Read(ReadFileBytes(kCorpus + "/config/" + name));

        ExpectSettingsInRange(settings);
        if (want.rangesOnly) continue;
        EXPECT_EQ(settings.channelSpacing, want.channelSpacing);
        EXPECT_FLOAT_EQ(settings.sensitivity, want.sensitivity);
        if (want.colourMode == kAnyNonZero) {
            EXPECT_NE(settings.colourMode, 0);
        } else if (want.colourMode >= 0) {
            EXPECT_EQ(settings.colourMode, want.colourMode);
        }
        EXPECT_EQ(std::string(settings.chartText), want.chartText);
        if (want.extra) {
            want.extra(settings, dataFolder);
        } else {
            EXPECT_EQ(std::string(settings.locationName), want.locationName);
            EXPECT_EQ(dataFolder, want.dataFolder);
        }
        if (want.message.empty()) {
            EXPECT_EQ(errors, "");
        } else if (want.message != "*") {
            EXPECT_NE(errors.find("TALVOR: "), std::string::npos) << errors;
            EXPECT_NE(errors.find(want.message), std::string::npos) << errors;
        }
    }
    for (const auto& [name, result] : expectations) {
        EXPECT_TRUE(files.count(name)) << name << " is documented but missing";
    }
}

TEST_F(ConfigCorpusTest, EveryFileReadsTheSameWithLineFeedsAlone) {
    // The LF variant of every case: a file saved by a Linux editor gives what its CR LF form gives.
    int variants = 0;
    for (const std::string& name : FilesIn(kCorpus + "/config", ".ini")) {
        std::string crlf = ReadFileBytes(kCorpus + "/config/" + name);
        std::string lf = crlf;
        for (size_t at = 0; (at = lf.find("\r\n", at)) != std::string::npos;) lf.erase(at, 1);
        if (lf == crlf) continue;
        SCOPED_TRACE(name);
        ++variants;
        std::string crlfErrors = Read(crlf);
        Settings want = settings;
        std::string wantFolder = dataFolder;
        std::string lfErrors = Read(lf);
        EXPECT_EQ(settings.channelSpacing, want.channelSpacing);
        EXPECT_EQ(settings.sensitivity, want.sensitivity);
        EXPECT_EQ(settings.colourMode, want.colourMode);
        EXPECT_STREQ(settings.chartText, want.chartText);
        EXPECT_STREQ(settings.locationName, want.locationName);
        EXPECT_EQ(dataFolder, wantFolder);
        EXPECT_EQ(lfErrors, crlfErrors);
    }
    EXPECT_GE(variants, 40);
}

TEST_F(ConfigCorpusTest, EveryPrefixOfEveryFileKeepsTheSettingsInRange) {
    // A file cut anywhere (a writer caught mid-save) is a file of the corpus too.
    for (const std::string& name : FilesIn(kCorpus + "/config", ".ini")) {
        std::string bytes = ReadFileBytes(kCorpus + "/config/" + name);
        size_t step = bytes.size() > 400 ? bytes.size() / 97 : 1;
        for (size_t n = 0; n <= bytes.size(); n += step) {
            SCOPED_TRACE(name + " cut at " + std::to_string(n));
            // An exactly sized copy, so that a read past its end is caught by the sanitizers.
            std::vector<char> cut(bytes.begin(), bytes.begin() + long(n));
            Read(std::string(cut.begin(), cut.end()));
            ExpectSettingsInRange(settings);
        }
    }
}

TEST_F(ConfigCorpusTest, HugeFileIsReadWhole) {
    // A megabyte of CUSTOM lines, then one line that matters, then an over-long chart text.
    std::string bytes = "[CUSTOM]\r\n";
    while (bytes.size() < 1000000) bytes += "VOKCOLOR=0\r\nUSER=someone\r\n";
    bytes += "VOKSENS=0.25\r\nVOKTEXT=" + std::string(500000, 'z') + "\r\n";
    Read(bytes);
    ExpectSettingsInRange(settings);
    EXPECT_FLOAT_EQ(settings.sensitivity, 0.25f);
    EXPECT_EQ(std::string(settings.chartText), std::string(127, 'z'));
}

// ---- Day logs ----------------------------------------------------------------------------------

// The documented results: records loaded and the exact Z.TXT.
struct DayLogResult {
    int records;
    std::string summary;
};

std::map<std::string, DayLogResult> DayLogExpectations() {
    std::map<std::string, DayLogResult> e;
    e["empty.log"] = {0, ""};
    e["short_of_one_record.log"] = {0, ""};
    e["partial_tail.log"] = {1, "2014-03-05 00:00 UTC J=20\r\n"};
    e["time_text_not_terminated.log"] = {1, "ABCDEFGHIJKLMNOP UTC J=100\r\n"};
    e["time_text_control_bytes.log"] = {1, "\r\n\t\x01%s%n\xFF\xFE UTC J=1\r\n"};
    e["time_text_empty.log"] = {1, " UTC J=80\r\n"};
    e["minute_out_of_range.log"] = {6, ""};
    e["levels_negative.log"] = {2, "minus three UTC J=-1\r\nlowest UTC J=-842150450\r\n"};
    e["levels_above_range.log"] = {
        3, "thousand UTC J=100\r\nover thousand UTC J=100\r\nhighest UTC J=100\r\n"};
    e["marker_kinds_unknown.log"] = {9,
                                     "K1 UTC J=3\r\nK5 UTC J=3\r\nK-2 UTC J=3\r\nK3 UTC J=3\r\n"
                                     "K-2147483648 UTC J=3\r\nK2 UTC J=3\r\nK2 UTC J=3\r\n"
                                     "K-1 UTC J=3\r\nK1 UTC J=3\r\n"};
    e["row_marks_other.log"] = {4, ""};
    e["all_bytes_ff.log"] = {3, ""};
    e["all_bytes_zero.log"] = {2, " UTC J=1\r\n UTC J=1\r\n"};
    e["random_bytes.log"] = {3, "*"};  // compared with the reference below only
    return e;
}

int32_t LittleEndian32(const std::string& bytes, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | uint8_t(bytes[at + size_t(i)]);
    return int32_t(v);
}

// Z.TXT worked out from the file's bytes alone, independently of the program's code.
std::string ReferenceSummary(const std::string& bytes) {
    std::vector<int> plan{0};
    for (int khz = 520; khz <= 1700; khz += 10) {
        if (khz % 90 != 0 || khz == 1620) plan.push_back(khz);
    }
    std::string out;
    size_t records = std::min<size_t>(bytes.size() / 4890, 1440);
    for (size_t k = 0; k < records; ++k) {
        size_t base = k * 4890;
        int32_t minute = LittleEndian32(bytes, base + 6);
        if (minute != 0 && minute != 15 && minute != 30 && minute != 45) continue;
        int64_t sum = 0;
        for (int j = 1; j <= 104; ++j) {
            int64_t level = LittleEndian32(bytes, base + 48 + 4 * size_t(plan[size_t(j)] - 500));
            sum += std::min<int64_t>(level, 255) * 100 / 255;
        }
        int64_t j = sum / 104;
        if (j == 0) j = 1;
        std::string text = bytes.substr(base + 28, 16);
        text = text.substr(0, text.find('\0'));
        out += text + " UTC J=" + std::to_string(j) + "\r\n";
    }
    return out;
}

class DayLogCorpusTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(AllocateRecordBuffer(&run.RecordBuffer));
        char here[4096];
        ASSERT_NE(getcwd(here, sizeof here), nullptr);
        previousDir_ = here;
        ASSERT_EQ(chdir(cwd_.path().c_str()), 0);
    }
    void TearDown() override {
        EXPECT_EQ(chdir(previousDir_.c_str()), 0);
        CloseDayLog(&run.dayLogFile);
        ReleaseRecordBuffer(&run.RecordBuffer);
    }

    // Loads the bytes as the day log and writes the summary; returns Z.TXT.
    std::string LoadAndSummarise(const std::string& bytes) {
        run.paths.DayLogPath = logDir_ / "VOK.LOG";
        WriteFileBytes(run.paths.DayLogPath, bytes);
        LoadDayLog(&run);
        std::vector<unsigned char> before(
            run.RecordBuffer + kDayLogRecordSize,
            run.RecordBuffer + kDayLogRecordSize * (run.recordCount + 1));
        ReportedLines reported;
        WriteSummaryFile(&run);
        EXPECT_EQ(reported.text(), "");
        // The summary only reads the records.
        EXPECT_TRUE(std::equal(before.begin(), before.end(), run.RecordBuffer + kDayLogRecordSize));
        ReadChartFields();
        return ReadFileBytes(cwd_ / "Z.TXT");
    }

    // Every field the chart reads, within each record's bounds, as the chart reads them.
    void ReadChartFields() {
        for (int height : {0, 25, 732, 1044, 2000}) {
            int rows = RowsToDraw(run.recordCount, height);
            EXPECT_GE(rows, 0);
            EXPECT_LE(rows, std::max(run.recordCount, 0));
        }
        for (int spacing : {10, 9}) {
            ChannelRange range = ChooseChannelRange(spacing);
            for (int i = 0; i < run.recordCount; ++i) {
                const DayLogRecord* r = RecordSlot(run.RecordBuffer, i);
                (void)RowMark(r);
                (void)MarkerKind(r);
                (void)Minute(r);
                for (int j = range.first; j <= range.last; ++j) {
                    int v = ScaledLevel(LevelAt(r, range.plan[j]), 0.37f);
                    EXPECT_GE(v, 0);
                    EXPECT_LE(v, 255);
                    (void)LevelSpotColour(v, 1);
                }
            }
        }
    }

    DailyRun run;
    TempDir cwd_{"corpus-cwd"};
    TempDir logDir_{"corpus-log"};
    std::string previousDir_;
};

TEST_F(DayLogCorpusTest, EveryLogGivesItsDocumentedRecordsAndSummary) {
    const auto expectations = DayLogExpectations();
    const auto files = FilesIn(kCorpus + "/daylog", ".log");
    ASSERT_GE(files.size(), 12u);
    for (const std::string& name : files) {
        SCOPED_TRACE(name);
        auto it = expectations.find(name);
        ASSERT_NE(it, expectations.end()) << "undocumented corpus file";
        std::string bytes = ReadFileBytes(kCorpus + "/daylog/" + name);
        std::string summary = LoadAndSummarise(bytes);
        EXPECT_EQ(run.recordCount, it->second.records);
        if (it->second.summary != "*") {
            EXPECT_EQ(summary, it->second.summary);
        }
        EXPECT_EQ(summary, ReferenceSummary(bytes));
    }
    for (const auto& [name, result] : expectations) {
        EXPECT_TRUE(files.count(name)) << name << " is documented but missing";
    }
}

TEST_F(DayLogCorpusTest, LogsLongerThanADayLoadTheFirstDay) {
    // Too large to keep in the repository: a day and a bit of the corpus's odd records.
    std::string pattern = ReadFileBytes(kCorpus + "/daylog/marker_kinds_unknown.log") +
                          ReadFileBytes(kCorpus + "/daylog/levels_negative.log") +
                          ReadFileBytes(kCorpus + "/daylog/all_bytes_ff.log");
    ASSERT_EQ(pattern.size() % kDayLogRecordSize, 0u);
    for (size_t extra : {size_t(kDayLogRecordSize), size_t(100), size_t(40 * kDayLogRecordSize)}) {
        SCOPED_TRACE(extra);
        std::string bytes;
        while (bytes.size() < size_t(kMaxDayLogRecords) * kDayLogRecordSize) bytes += pattern;
        bytes.resize(size_t(kMaxDayLogRecords) * kDayLogRecordSize + extra, '\x5a');
        std::string summary = LoadAndSummarise(bytes);
        EXPECT_EQ(run.recordCount, kMaxDayLogRecords);
        EXPECT_EQ(summary, ReferenceSummary(bytes));
    }
}

TEST_F(DayLogCorpusTest, EveryPrefixOfTheRandomLogLoadsOnlyWholeRecords) {
    std::string bytes = ReadFileBytes(kCorpus + "/daylog/random_bytes.log");
    for (size_t n = 0; n <= bytes.size(); n += 611) {
        SCOPED_TRACE(n);
        std::string cut = bytes.substr(0, n);
        EXPECT_EQ(LoadAndSummarise(cut), ReferenceSummary(cut));
        EXPECT_EQ(run.recordCount, int(n / kDayLogRecordSize));
    }
}

}  // namespace
