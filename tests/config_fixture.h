// SPDX-License-Identifier: GPL-3.0-or-later
// The configuration tests' fixture: settings and paths as a fresh start has them, read from
// bytes or from the file, and compared with what a case expects.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "config/run_state.h"
#include "config/settings.h"

namespace {

constexpr const char* kDefaultDataFolder = "/nonexistent-talvor/BRANTOS";

// What the settings should hold after a read; unnamed fields keep their defaults.
struct Expect {
    int spacing = 10;
    float sensitivity = 1.0f;
    int colour = 0;
    std::string text;
    std::string location = "LONDON";
};

struct FileCase {
    const char* name;
    std::string text;
    Expect want;
};

// Every test starts from the settings and paths of a fresh start and can never open a dialog.
class ConfigTest : public ::testing::Test {
  protected:
    void SetUp() override {
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        StartFresh();
    }

    // The defaults, with the data folder that start-up would have derived.
    void StartFresh() {
        settings = talvor::Settings{};
        runPaths = talvor::RunPaths{};
        runPaths.DataFolder = kDefaultDataFolder;
        scanned = 0;
    }

    void ReadText(const std::string& text) {
        scanned = talvor::ReadConfigurationBytes(text.data(), text.size(), &settings,
                                                 &runPaths.DataFolder);
    }

    void ReadConfiguration() {
        scanned =
            talvor::ReadConfigurationFile(runPaths.ConfigFilePath, &settings, &runPaths.DataFolder);
    }

    void ExpectSettings(const Expect& want) const {
        EXPECT_EQ(settings.channelSpacing, want.spacing);
        EXPECT_FLOAT_EQ(settings.sensitivity, want.sensitivity);
        EXPECT_EQ(settings.colourMode, want.colour);
        EXPECT_EQ(std::string(settings.chartText), want.text);
        EXPECT_EQ(std::string(settings.locationName), want.location);
    }

    // Whatever the bytes, the settings stay in their ranges and nothing is written outside them.
    void ExpectSettingsInRange() const {
        EXPECT_TRUE(settings.channelSpacing == 9 || settings.channelSpacing == 10);
        EXPECT_GT(settings.sensitivity, 0.1f);
        EXPECT_LE(settings.sensitivity, 1.0f);
        EXPECT_LE(strnlen(settings.chartText, sizeof settings.chartText), 127u);
        size_t nameLength = strnlen(settings.locationName, sizeof settings.locationName);
        EXPECT_LE(nameLength, 79u);
    }

    void RunFileCases(const std::vector<FileCase>& cases) {
        for (const FileCase& c : cases) {
            SCOPED_TRACE(c.name);
            StartFresh();
            ReadText(c.text);
            ExpectSettings(c.want);
        }
    }

    talvor::Settings settings;
    talvor::RunPaths runPaths;
    size_t scanned = 0;  // by the last read
};

}  // namespace
