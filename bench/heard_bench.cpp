// SPDX-License-Identifier: GPL-3.0-or-later
// Finding a day's carriers, beyond loading its log: a full synthetic day as talvor-gen-daylog
// writes it, and a day of levels drawn at random over the whole of 0..255 (every kHz standing out
// by turns, the most candidates a day can give).
//
//   heard_bench [RUNS]      (default 21)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "daylog/day_log.h"
#include "heard/carriers.h"

using namespace talvor;

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void Print(const char* what, std::vector<double> ms, size_t carriers) {
    std::sort(ms.begin(), ms.end());
    std::printf("%-44s median %7.2f ms  min %7.2f  max %7.2f  (%zu carriers)\n", what,
                ms[ms.size() / 2], ms.front(), ms.back(), carriers);
}

void MeasureFinding(const char* what, const std::vector<unsigned char>& buffer, int count,
                    int runs) {
    std::vector<double> ms;
    size_t found = 0;
    for (int i = 0; i < runs; ++i) {
        Clock::time_point start = Clock::now();
        found = FindCarriers({buffer.data() + kDayLogRecordSize, count}, CarrierRules{}).size();
        ms.push_back(MsSince(start));
    }
    Print(what, ms, found);
}

}  // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 21;
    char folder[] = "/tmp/heard-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) return 1;
    std::string command = std::string("'" TALVOR_GEN "' ") + folder + " 2025-11-20 >/dev/null";
    if (std::system(command.c_str()) != 0) return 1;
    std::string path = std::string(folder) + "/2025-11-20/VOK.LOG";

    std::vector<unsigned char> buffer(kRecordBufferSize);
    std::vector<double> loading;
    int count = 0;
    for (int i = 0; i < runs; ++i) {
        Clock::time_point start = Clock::now();
        Outcome loaded = LoadDayLogFrom(path, buffer.data(), &count);
        if (!loaded) {
            std::fprintf(stderr, "heard_bench: %s\n", loaded.reason.c_str());
            return 1;
        }
        loading.push_back(MsSince(start));
    }
    Print("loading the day log (1440 records, warm cache)", loading, 0);
    MeasureFinding("finding the carriers, generated day", buffer, count, runs);

    uint64_t state = 1;
    for (int k = 0; k < count; ++k) {
        DayLogRecord* record = buffer.data() + size_t(k + 1) * kDayLogRecordSize;
        for (int khz = kBandFirstKhz; khz <= kBandLastKhz; ++khz) {
            state = state * 6364136223846793005ULL + 1442695040888963407ULL;
            SetLevel(record, khz, int32_t(state >> 56));
        }
    }
    MeasureFinding("finding the carriers, random levels", buffer, count, runs);

    std::system((std::string("rm -rf ") + folder).c_str());
    return 0;
}
