// SPDX-License-Identifier: GPL-3.0-or-later
// The whole talvor-log process on a full day of 1 kHz scans: 1440 lines of 1191 values, about
// 14 MB of text as rtl_power writes it, read from a file and written as a day log; then a week
// and a day of such scans in one file against the same lines in daily files, which must cost
// about the same.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr int kRuns = 9;
constexpr int kDays = 8;
constexpr int kDaysRuns = 3;
using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// A day of scans: a floor with noise and a carrier on every seventh 10 kHz channel.
std::string DayOfScans(int day = 7) {
    std::string text;
    text.reserve(15u << 20);
    uint64_t state = 12345;
    char value[32];
    for (int m = 0; m < 1440; ++m) {
        char head[96];
        std::snprintf(head, sizeof head,
                      "2026-12-%02d, %02d:%02d:00, 519500, 1710500, 1000.00, 245", day, m / 60,
                      m % 60);
        text += head;
        for (int khz = 520; khz <= 1710; ++khz) {
            state = state * 6364136223846793005ULL + 1442695040888963407ULL;
            double db = -60 + double(state >> 40) / double(1 << 24) * 3;
            if (khz % 70 == 0) db += 35;
            std::snprintf(value, sizeof value, ", %.2f", db);
            text += value;
        }
        text += "\n";
    }
    return text;
}

// Wall and CPU milliseconds of one run; false when it did not end with 0.
bool RunLogger(const std::string& folder, const std::vector<std::string>& inputs, double* wallMs,
               double* cpuMs) {
    std::string config = folder + "/TALVOR.INI";
    std::vector<const char*> arguments = {TALVOR_LOG, "--utc", "--config", config.c_str()};
    for (const std::string& input : inputs) arguments.push_back(input.c_str());
    arguments.push_back(nullptr);
    auto start = Clock::now();
    pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        std::FILE* quiet = std::freopen("/dev/null", "w", stderr);  // the summary line
        (void)quiet;
        execv(TALVOR_LOG, const_cast<char* const*>(arguments.data()));
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid) return false;
    *wallMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    *cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
             (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool WriteText(const std::string& path, const std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    return f != nullptr && std::fwrite(text.data(), 1, text.size(), f) == text.size() &&
           std::fclose(f) == 0;
}

// Median CPU milliseconds of logging the inputs into a fresh data folder.
bool MedianCpu(const std::string& folder, const std::vector<std::string>& inputs, int runs,
               double* cpuMs) {
    std::vector<double> cpu;
    for (int run = 0; run < runs; ++run) {
        std::filesystem::remove_all(folder + "/BRANTOS");
        double w = 0, c = 0;
        if (!RunLogger(folder, inputs, &w, &c)) return false;
        cpu.push_back(c);
    }
    *cpuMs = Median(cpu);
    return true;
}

}  // namespace

int main() {
    char pattern[] = "/tmp/talvor-log-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    std::string folder = pattern;
    std::string input = folder + "/day.csv";
    std::string text = DayOfScans();
    if (!WriteText(input, text)) return 1;
    std::FILE* ini = std::fopen((folder + "/TALVOR.INI").c_str(), "wb");
    if (ini == nullptr || std::fclose(ini) != 0) return 1;

    std::vector<double> wall, cpu;
    for (int run = 0; run < kRuns; ++run) {
        std::filesystem::remove_all(folder + "/BRANTOS");
        double w = 0, c = 0;
        if (!RunLogger(folder, {input}, &w, &c)) {
            std::fprintf(stderr, "log_bench: talvor-log failed\n");
            return 1;
        }
        wall.push_back(w);
        cpu.push_back(c);
    }
    std::uintmax_t logSize = std::filesystem::file_size(folder + "/BRANTOS/2026-12-07/VOK.LOG");
    std::printf("talvor-log, a day of 1 kHz scans (%.1f MB of text -> %ju-byte day log):\n",
                text.size() / 1e6, logSize);
    std::printf("  whole process: median %.0f ms wall, %.0f ms CPU (best %.0f ms wall; %d runs)\n",
                Median(wall), Median(cpu), *std::min_element(wall.begin(), wall.end()), kRuns);

    std::vector<std::string> daily;
    std::string all = folder + "/days.csv";
    std::FILE* one = std::fopen(all.c_str(), "wb");
    if (one == nullptr) return 1;
    for (int day = 1; day <= kDays; ++day) {
        std::string lines = DayOfScans(day);
        daily.push_back(folder + "/day" + std::to_string(day) + ".csv");
        if (!WriteText(daily.back(), lines) ||
            std::fwrite(lines.data(), 1, lines.size(), one) != lines.size()) {
            return 1;
        }
    }
    if (std::fclose(one) != 0) return 1;
    double inOne = 0, inDaily = 0;
    if (!MedianCpu(folder, {all}, kDaysRuns, &inOne) ||
        !MedianCpu(folder, daily, kDaysRuns, &inDaily)) {
        std::fprintf(stderr, "log_bench: talvor-log failed\n");
        return 1;
    }
    std::printf(
        "  %d days in one file: median %.0f ms CPU; in %d daily files: %.0f ms CPU "
        "(%.2fx; %d runs)\n",
        kDays, inOne, kDays, inDaily, inOne / inDaily, kDaysRuns);
    std::filesystem::remove_all(folder);
    return 0;
}
