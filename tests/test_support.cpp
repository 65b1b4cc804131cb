// SPDX-License-Identifier: GPL-3.0-or-later
#include "test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <gif_lib.h>
#include <grp.h>
#include <png.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "daylog/day_log.h"
#include "report/report.h"

using namespace talvor;

namespace fs = std::filesystem;

TempDir::TempDir(const char* tag) {
    std::string pattern = std::string("/tmp/") + tag + "-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    char* made = mkdtemp(buffer.data());
    path_ = made ? made : "";
}

TempDir::~TempDir() {
    if (path_.empty()) return;
    std::error_code ec;
    // Tests may leave folders without write or search permission behind.
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(path_, ec);
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool FileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

void MakeDirs(const std::string& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
}

struct ReportedLines::Lines {
    std::mutex mutex;
    std::string text;
};

ReportedLines::ReportedLines() : lines_(new Lines) {
    SetReportHandler([lines = lines_](const std::string& line) {
        std::lock_guard<std::mutex> lock(lines->mutex);
        lines->text += line + "\n";
    });
}

ReportedLines::~ReportedLines() {
    SetReportHandler(nullptr);
    delete lines_;
}

std::string ReportedLines::text() const {
    std::lock_guard<std::mutex> lock(lines_->mutex);
    return lines_->text;
}

int RunInChild(const std::function<int()>& fn, int timeoutMs) {
    pid_t pid = fork();
    if (pid == 0) _exit(fn());
    if (pid < 0) return -2;
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -3;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

int InChildWithoutRootRights(const std::function<int()>& check, int timeoutMs) {
    return RunInChild(
        [&check] {
            constexpr uid_t kNobody = 65534;
            if (geteuid() == 0 &&
                (setgroups(0, nullptr) != 0 || setresgid(kNobody, kNobody, kNobody) != 0 ||
                 setresuid(kNobody, kNobody, kNobody) != 0)) {
                return 125;
            }
            return check();
        },
        timeoutMs);
}

int InPrivateFolders(const std::vector<std::string>& folders, const std::function<int()>& fn,
                     int timeoutMs) {
    return RunInChild(
        [&] {
            if (unshare(CLONE_NEWNS | CLONE_NEWNET) != 0 ||
                mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
                return 125;
            }
            for (const std::string& folder : folders) {
                MakeDirs(folder);
                if (mount("tmpfs", folder.c_str(), "tmpfs", 0, "mode=1777") != 0) return 125;
            }
            return fn();
        },
        timeoutMs);
}

int SilentDisplayServer(int number) {
    int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "/tmp/.X11-unix/X%d", number);
    if (listener < 0 ||
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 8) != 0) {
        if (listener >= 0) close(listener);
        return -1;
    }
    return listener;
}

std::vector<unsigned char> BlankRecord() {
    return std::vector<unsigned char>(kDayLogRecordSize, 0);
}

std::vector<unsigned char> MakeRecords(int count, int32_t (*level)(int, int), const char* date) {
    std::vector<unsigned char> bytes(size_t(count) * kDayLogRecordSize, 0);
    for (int k = 0; k < count; ++k) {
        DayLogRecord* r = bytes.data() + size_t(k) * kDayLogRecordSize;
        SetMinute(r, k % 60);
        char text[32];
        std::snprintf(text, sizeof text, "%s %02d:%02d", date, k / 60, k % 60);
        SetTimeText(r, text);
        for (int f = 520; f <= 1700; ++f) SetLevel(r, f, level(k, f));
    }
    return bytes;
}

int32_t Ramp(int k, int f) {
    return (k * 7 + f * 3) % 256;
}

XvfbServer::XvfbServer(int width, int height) {
    // Xvfb chooses a free display number itself and reports it once it accepts connections:
    // choosing one here raced with servers that other tests were starting at the same moment
    // (both took the same number, and the loser then talked to the winner's screen).
    int report[2];
    if (pipe(report) != 0) return;
    std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    pid_t pid = fork();
    if (pid == 0) {
        close(report[0]);
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        dup2(devnull, 2);
        std::string fd = std::to_string(report[1]);
        // -noreset: a server whose last client leaves starts over, and refuses connections
        // for that moment; a test that queries it twice in a row would then see no display.
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(),
               "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(report[1]);
    std::string number;
    if (pid > 0) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        struct pollfd wait = {report[0], POLLIN, 0};
        while (std::chrono::steady_clock::now() < deadline) {
            if (poll(&wait, 1, 100) <= 0) continue;
            char c;
            if (read(report[0], &c, 1) != 1 || c == '\n') break;
            number += c;
        }
    }
    close(report[0]);
    if (pid > 0 && !number.empty()) {
        pid_ = pid;
        display_ = ":" + number;
        return;
    }
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
}

XvfbServer::~XvfbServer() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

CommandResult RunCommand(const std::string& command, const std::string& workingDir) {
    CommandResult result;
    std::string full = command + " 2>&1";
    if (!workingDir.empty()) full = "cd '" + workingDir + "' && " + full;
    auto start = std::chrono::steady_clock::now();
    FILE* pipe = popen(full.c_str(), "r");
    if (!pipe) return result;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
    int status = pclose(pipe);
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

bool ReadGif(const std::string& path, Picture* picture) {
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
    if (gif == nullptr) return false;
    bool ok = DGifSlurp(gif) == GIF_OK && gif->ImageCount >= 1;
    if (ok) {
        const SavedImage& image = gif->SavedImages[0];
        const ColorMapObject* map =
            image.ImageDesc.ColorMap != nullptr ? image.ImageDesc.ColorMap : gif->SColorMap;
        ok = map != nullptr && image.ImageDesc.Left == 0 && image.ImageDesc.Top == 0;
        if (ok) {
            picture->width = image.ImageDesc.Width;
            picture->height = image.ImageDesc.Height;
            size_t count = size_t(picture->width) * size_t(picture->height);
            picture->rgb.resize(count * 3);
            for (size_t i = 0; i < count && ok; ++i) {
                int index = image.RasterBits[i];
                ok = index < map->ColorCount;
                if (!ok) break;
                picture->rgb[i * 3] = map->Colors[index].Red;
                picture->rgb[i * 3 + 1] = map->Colors[index].Green;
                picture->rgb[i * 3 + 2] = map->Colors[index].Blue;
            }
        }
    }
    DGifCloseFile(gif, &error);
    return ok;
}

bool ReadPng(const std::string& path, Picture* picture) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    // The writer promises plain 8-bit RGB, without alpha.
    bool rgb = image.format == PNG_FORMAT_RGB;
    image.format = PNG_FORMAT_RGB;
    picture->width = int(image.width);
    picture->height = int(image.height);
    picture->rgb.resize(PNG_IMAGE_SIZE(image));
    bool ok = png_image_finish_read(&image, nullptr, picture->rgb.data(), 0, nullptr) != 0;
    return ok && rgb;
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return names;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}
