// SPDX-License-Identifier: GPL-3.0-or-later
// The package and the installed files: what the .deb holds, that its maintainer scripts make and
// clean up the station as promised, that the installed programs run from a station folder (also
// without SDL, and under the units' hardening), that the units pass systemd's own check and the
// man pages render cleanly. The .deb is made once by the package_build fixture (dpkg-buildpackage,
// scripts/package.sh); each test extracts it into a temporary root with dpkg-deb -x. Nothing is
// ever installed on the machine.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <future>
#include <set>
#include <string>
#include <vector>

#include "calendar/calendar.h"
#include "gtest/gtest.h"
#include "platform/clock.h"
#include "test_support.h"

using namespace talvor;

namespace fs = std::filesystem;

namespace {

const std::string kStationDir = "/var/lib/talvor";
const char* const kUnits[] = {"talvor.service", "talvor.timer", "talvor-yesterday.service",
                              "talvor-yesterday.timer", "talvor-log.service"};
const char* const kManPages[] = {"man1/talvor.1.gz",     "man1/talvor-render.1.gz",
                                 "man1/talvor-log.1.gz", "man1/talvor-gen-daylog.1.gz",
                                 "man5/talvor.ini.5.gz", "man5/talvor-daylog.5.gz"};
// Where bookworm's debhelper and systemd look for a package's units.
const std::string kUnitDir = "/lib/systemd/system/";

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

std::string PackagePath() {
    for (const auto& entry : fs::directory_iterator(TALVOR_PACKAGE_DIR)) {
        std::string name = entry.path().filename().string();
        if (name.rfind("talvor_", 0) == 0 && entry.path().extension() == ".deb") {
            return entry.path().string();
        }
    }
    return "";
}

int CountLines(const std::string& text) {
    int lines = 0;
    for (char c : text) lines += c == '\n';
    return lines;
}

// Width and height from a GIF's logical screen descriptor.
bool GifSize(const std::string& path, int* width, int* height) {
    std::string bytes = ReadFileBytes(path);
    if (bytes.size() < 10 || bytes.compare(0, 3, "GIF") != 0) return false;
    auto byte = [&](size_t i) { return int(static_cast<unsigned char>(bytes[i])); };
    *width = byte(6) | byte(7) << 8;
    *height = byte(8) | byte(9) << 8;
    return true;
}

class PackageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        package_ = PackagePath();
        ASSERT_FALSE(package_.empty()) << "no .deb in " TALVOR_PACKAGE_DIR;
        CommandResult extract =
            RunCommand("dpkg-deb -x " + Quoted(package_) + " " + Quoted(dir_ / "root"));
        ASSERT_EQ(extract.exitCode, 0) << extract.output;
    }

    std::string Root(const std::string& path) const { return dir_.path() + "/root" + path; }

    // A station folder as the package's tmpfiles entry lays it out, with links to the extracted
    // programs instead of the installed ones.
    std::string MakeStation(const std::string& name, const std::string& programLink) {
        std::string station = dir_ / name;
        MakeDirs(station);
        fs::create_symlink(Root("/usr/bin/talvor"), station + "/" + programLink);
        fs::create_symlink(Root("/usr/bin/talvor-render"), station + "/talvor-render");
        fs::create_symlink(Root("/usr/bin/talvor-log"), station + "/talvor-log");
        return station;
    }

    std::string package_;
    TempDir dir_{"talvor-package"};
};

TEST_F(PackageTest, HoldsExactlyTheProgramsPagesUnitsAndExample) {
    CommandResult list = RunCommand("dpkg-deb -c " + Quoted(package_));
    ASSERT_EQ(list.exitCode, 0) << list.output;
    std::set<std::string> files;
    for (size_t at = 0; at < list.output.size();) {
        size_t end = list.output.find('\n', at);
        if (end == std::string::npos) end = list.output.size();
        std::string line = list.output.substr(at, end - at);
        at = end + 1;
        if (line.empty() || line[0] == 'd') continue;
        EXPECT_NE(line.find(" root/root "), std::string::npos) << line;
        std::string path = line.substr(line.find("./"));
        files.insert(path);
        bool program = path.rfind("./usr/bin/", 0) == 0;
        EXPECT_EQ(line.substr(0, 10), program ? "-rwxr-xr-x" : "-rw-r--r--") << line;
    }
    std::set<std::string> want = {
        "./usr/bin/talvor",
        "./usr/bin/talvor-render",
        "./usr/bin/talvor-log",
        "./usr/bin/talvor-gen-daylog",
        "./usr/lib/sysusers.d/talvor.conf",
        "./usr/lib/tmpfiles.d/talvor.conf",
        "./usr/share/doc/talvor/README.md.gz",
        "./usr/share/doc/talvor/changelog.Debian.gz",
        "./usr/share/doc/talvor/copyright",
        "./usr/share/doc/talvor/examples/TALVOR.INI",
        "./usr/share/lintian/overrides/talvor",
    };
    for (const char* unit : kUnits) want.insert("." + kUnitDir + unit);
    // The website's pages, as the source tree has them.
    for (const auto& entry : fs::recursive_directory_iterator(TALVOR_SOURCE_DIR "/web")) {
        if (!entry.is_regular_file()) continue;
        want.insert("./usr/share/talvor/web/" +
                    entry.path().lexically_relative(TALVOR_SOURCE_DIR "/web").string());
    }
    for (const char* page : kManPages) want.insert(std::string("./usr/share/man/") + page);
    // The website's scripts and style, as the source tree holds them.
    for (const auto& entry : std::filesystem::directory_iterator(TALVOR_SOURCE_DIR "/web")) {
        want.insert("./usr/share/talvor/web/" + entry.path().filename().string());
    }
    EXPECT_EQ(files, want);

    // The libraries the programs link come from dpkg-shlibdeps; what is only loaded at run time
    // is named by hand. SDL is only recommended: it is loaded where a display is named.
    CommandResult depends = RunCommand("dpkg-deb -f " + Quoted(package_) + " Depends");
    ASSERT_EQ(depends.exitCode, 0);
    for (const char* name :
         {"libc6 (", "libgif7 (", "libfreetype6 (", "libfontconfig1 (", "libpng16-16 (", "libgl1",
          "libegl1", "libegl-mesa0", "libgl1-mesa-dri", "fonts-dejavu-core", "tzdata",
          "systemd | systemd-standalone-sysusers", "systemd | systemd-standalone-tmpfiles"}) {
        EXPECT_NE(depends.output.find(name), std::string::npos) << name << " in " << depends.output;
    }
    EXPECT_EQ(depends.output.find("libsdl2"), std::string::npos) << depends.output;
    CommandResult fields =
        RunCommand("dpkg-deb -f " + Quoted(package_) + " Package Version Recommends Suggests");
    EXPECT_NE(fields.output.find("Package: talvor\n"), std::string::npos) << fields.output;
    EXPECT_NE(fields.output.find("Recommends: libsdl2-2.0-0"), std::string::npos) << fields.output;
    // The receiver tool is only suggested: the logger reads scan files without it.
    EXPECT_NE(fields.output.find("Suggests: rtl-sdr\n"), std::string::npos) << fields.output;
    EXPECT_EQ(depends.output.find("rtl-sdr"), std::string::npos) << depends.output;

    // The maintainer scripts are valid shell.
    std::string control = dir_ / "control";
    ASSERT_EQ(RunCommand("dpkg-deb -e " + Quoted(package_) + " " + Quoted(control)).exitCode, 0);
    for (const auto& entry : fs::directory_iterator(control)) {
        std::string name = entry.path().filename();
        if (name.find('.') != std::string::npos ||
            !(name.ends_with("inst") || name.ends_with("rm")))
            continue;
        SCOPED_TRACE(name);
        CommandResult syntax = RunCommand("sh -n " + Quoted(entry.path()));
        EXPECT_EQ(syntax.exitCode, 0) << syntax.output;
    }
    std::string tmpfiles = ReadFileBytes(Root("/usr/lib/tmpfiles.d/talvor.conf"));
    EXPECT_NE(tmpfiles.find("L " + kStationDir + "/talvor - - - - /usr/bin/talvor\n"),
              std::string::npos)
        << tmpfiles;
    EXPECT_NE(tmpfiles.find("d " + kStationDir + " 0755 talvor talvor"), std::string::npos);
    EXPECT_NE(tmpfiles.find("L " + kStationDir + "/talvor-log - - - - /usr/bin/talvor-log\n"),
              std::string::npos)
        << tmpfiles;
}

TEST_F(PackageTest, InstalledProgramsRunFromAStationFolder) {
    const UtcTime today = GetUtcTime();
    struct Station {
        std::string link;
        std::string picture;
        std::string folder;
        std::unique_ptr<TempDir> work;
        std::future<CommandResult> run;
    };
    Station stations[] = {{"talvor", "VOKLOG " + FormatDate(today) + ".GIF", "", nullptr, {}},
                          {"talvorZ", "z.gif", "", nullptr, {}}};
    for (Station& s : stations) {
        s.folder = MakeStation("station-" + s.link, s.link);
        s.work = std::make_unique<TempDir>("talvor-package-work");
        // The packaged example, as a user copies it: LF line ends.
        fs::copy_file(Root("/usr/share/doc/talvor/examples/TALVOR.INI"), s.folder + "/TALVOR.INI");
        CommandResult made = RunCommand(Quoted(TALVOR_GEN) + " " + Quoted(s.folder + "/BRANTOS") +
                                        " " + FormatDate(today));
        ASSERT_EQ(made.exitCode, 0) << made.output;
    }
    for (Station& s : stations) {
        std::string command =
            "env -u DISPLAY -u WAYLAND_DISPLAY " + Quoted(s.folder + "/" + s.link);
        std::string work = s.work->path();
        s.run =
            std::async(std::launch::async, [command, work] { return RunCommand(command, work); });
    }
    for (Station& s : stations) {
        SCOPED_TRACE(s.link);
        CommandResult result = s.run.get();
        EXPECT_EQ(result.exitCode, 0) << result.output;
        // Everything lands in the station folder, nothing beside the installed program.
        int width = 0, height = 0;
        ASSERT_TRUE(GifSize(s.folder + "/" + s.picture, &width, &height)) << result.output;
        EXPECT_EQ(width, 1920);
        EXPECT_EQ(height, 1500);
        EXPECT_EQ(CountLines(ReadFileBytes(*s.work / "Z.TXT")), 96);
        for (const auto& entry : fs::directory_iterator(Root("/usr/bin"))) {
            EXPECT_NE(entry.path().extension(), ".GIF") << entry.path();
            EXPECT_NE(entry.path().filename(), "z.gif");
        }
    }

    // talvor-render through the station's link reads that station's LF configuration.
    CommandResult shown =
        RunCommand("env -u DISPLAY -u WAYLAND_DISPLAY " +
                   Quoted(stations[0].folder + "/talvor-render") + " --show-config");
    ASSERT_EQ(shown.exitCode, 0) << shown.output;
    for (const std::string& line : {"configuration: " + stations[0].folder + "/TALVOR.INI (read)",
                                    std::string("footer text:   Medium wave at my place"),
                                    std::string("colour mode:   1 (colour palette)"),
                                    "data folder:   " + stations[0].folder + "/BRANTOS (exists)",
                                    "day logs:      1 day: " + FormatDate(today)}) {
        EXPECT_NE(shown.output.find(line + "\n"), std::string::npos) << line << "\n"
                                                                     << shown.output;
    }

    // talvor-log through the station's link writes into that station's data folder (a day in
    // the past: live, a line far ahead of the clock is skipped).
    CommandResult logged =
        RunCommand("printf '2020-01-02, 00:01:00, 519500, 521500, 1000, 1, -60, -30\\n' | " +
                   Quoted(stations[0].folder + "/talvor-log") + " --utc");
    EXPECT_EQ(logged.exitCode, 0) << logged.output;
    EXPECT_EQ(ReadFileBytes(stations[0].folder + "/BRANTOS/2020-01-02/VOK.LOG").size(), 2u * 4890);
}

// The user, the folder and its links come from the package's sysusers and tmpfiles entries, which
// its postinst applies whether systemd runs or not; removal takes only the links that still lead
// to the installed programs. Both are applied to the extracted root, not the machine.
TEST_F(PackageTest, EntriesMakeTheStationAndRemovalTakesOnlyItsLinks) {
    if (geteuid() != 0)
        GTEST_SKIP() << "skipped: the station folder is given to its user (root only)";
    std::string root = dir_ / "root";
    std::string station = root + kStationDir;
    MakeDirs(root + "/etc");
    WriteFileBytes(root + "/etc/passwd", "root:x:0:0:root:/root:/bin/sh\n");
    WriteFileBytes(root + "/etc/group", "root:x:0:\n");
    CommandResult users = RunCommand("systemd-sysusers --root " + Quoted(root) + " talvor.conf");
    ASSERT_EQ(users.exitCode, 0) << users.output;
    CommandResult folder =
        RunCommand("systemd-tmpfiles --root " + Quoted(root) + " --create talvor.conf");
    ASSERT_EQ(folder.exitCode, 0) << folder.output;
    std::string passwd = ReadFileBytes(root + "/etc/passwd");
    EXPECT_NE(passwd.find("\ntalvor:x:"), std::string::npos) << passwd;
    EXPECT_NE(passwd.find(":" + kStationDir + ":/usr/sbin/nologin\n"), std::string::npos) << passwd;
    struct stat folderStat {};
    ASSERT_EQ(stat(station.c_str(), &folderStat), 0);
    EXPECT_NE(folderStat.st_uid, 0u);
    EXPECT_EQ(folderStat.st_mode & 07777, 0755u);
    for (const char* name : {"talvor", "talvor-render", "talvor-log"}) {
        EXPECT_EQ(fs::read_symlink(station + "/" + name), std::string("/usr/bin/") + name);
    }

    // What the station holds at removal, and what each maintainer script call leaves of it.
    WriteFileBytes(station + "/TALVOR.INI", "[CUSTOM]\n");
    MakeDirs(station + "/BRANTOS/2030-01-02");
    WriteFileBytes(station + "/BRANTOS/2030-01-02/VOK.LOG", "");
    fs::remove(station + "/talvor-render");
    fs::copy_file(Root("/usr/bin/talvor-render"), station + "/talvor-render");  // a copy
    fs::create_symlink("/usr/bin/talvor", station + "/talvorZ");                // the admin's own
    fs::remove(station + "/talvor-log");
    fs::create_symlink("/usr/local/bin/talvor-log", station + "/talvor-log");  // pointed elsewhere
    std::string control = dir_ / "control";
    ASSERT_EQ(RunCommand("dpkg-deb -e " + Quoted(package_) + " " + Quoted(control)).exitCode, 0);
    struct Case {
        const char* action;
        std::set<std::string> left;
    };
    const std::set<std::string> kept = {"BRANTOS", "TALVOR.INI", "talvor-log", "talvor-render",
                                        "talvorZ"};
    std::set<std::string> all = kept;
    all.insert("talvor");
    const Case cases[] = {{"upgrade", all}, {"remove", kept}, {"remove", kept}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.action);
        CommandResult run = RunCommand("DPKG_ROOT=" + Quoted(root) + " sh " +
                                       Quoted(control + "/postrm") + " " + c.action + " 2>&1");
        EXPECT_EQ(run.exitCode, 0) << run.output;
        std::set<std::string> left;
        for (const auto& entry : fs::directory_iterator(station))
            left.insert(entry.path().filename());
        EXPECT_EQ(left, c.left);
    }
    EXPECT_EQ(fs::read_symlink(station + "/talvor-log"), "/usr/local/bin/talvor-log");
    EXPECT_TRUE(FileExists(station + "/BRANTOS/2030-01-02/VOK.LOG"));
}

// libSDL is only recommended: with a display named but the library missing, both drawing programs
// still draw and save, at the headless size. The library is hidden in a mount namespace of the
// run's own (an empty file over it), so the machine's stays as it is.
TEST_F(PackageTest, ProgramsDrawAndSaveWithoutSdl) {
    CommandResult found =
        RunCommand("ldconfig -p | sed -n 's/.*libSDL2-2.0.so.0 .*=> //p' | head -n 1");
    std::string library = found.output.substr(0, found.output.find('\n'));
    std::string hide;
    if (!library.empty()) {
        if (RunCommand("unshare -m true 2>&1").exitCode != 0) {
            GTEST_SKIP() << "skipped: no mount namespace here to hide " << library << " in";
        }
        WriteFileBytes(dir_ / "empty", "");
        hide = "mount --bind " + Quoted(dir_ / "empty") + " " + Quoted(library) + " && test ! -s " +
               Quoted(library) + " && ";
    }
    const UtcTime today = GetUtcTime();
    struct Program {
        const char* name;
        std::string arguments;
        std::string picture;
    };
    const Program programs[] = {
        {"talvor", "", "VOKLOG " + FormatDate(today) + ".GIF"},
        {"talvor-render", "--date " + FormatDate(today) + " -o out.gif", "out.gif"},
    };
    for (const Program& program : programs) {
        SCOPED_TRACE(program.name);
        std::string station = MakeStation(std::string("station-nosdl-") + program.name, "talvor");
        ASSERT_EQ(RunCommand(Quoted(TALVOR_GEN) + " " + Quoted(station + "/BRANTOS")).exitCode, 0);
        std::string run = hide + "cd " + Quoted(station) + " && DISPLAY=:97 WAYLAND_DISPLAY= ./" +
                          program.name + " " + program.arguments;
        CommandResult result = RunCommand(library.empty() ? "sh -c " + Quoted(run)
                                                          : "unshare -m sh -c " + Quoted(run));
        EXPECT_EQ(result.exitCode, 0) << result.output;
        int width = 0, height = 0;
        ASSERT_TRUE(GifSize(station + "/" + program.picture, &width, &height)) << result.output;
        EXPECT_EQ(width, 1920);
        EXPECT_EQ(height, 1500);
    }
}

// The drawing units' hardening leaves the software renderer able to compile and draw: each
// unit's command runs under systemd-run with the unit's own [Service] settings, in a station
// folder of its own whose links lead to the extracted programs. Needs systemd as the service
// manager; elsewhere the test says so and is skipped.
TEST_F(PackageTest, DrawingUnitsDrawUnderTheirHardening) {
    if (!FileExists("/run/systemd/system") || geteuid() != 0) {
        GTEST_SKIP() << "skipped: systemd is not the service manager here (or not root), so the "
                        "units' hardening cannot be applied to a run";
    }
    const UtcTime today = GetUtcTime();
    const UtcTime yesterday = StartOfDay(DayOf(today) - std::chrono::days(1));
    struct Unit {
        const char* name;
        std::string date;
        std::string picture;
    };
    const Unit units[] = {
        {"talvor.service", FormatDate(today), "VOKLOG " + FormatDate(today) + ".GIF"},
        {"talvor-yesterday.service", FormatDate(yesterday),
         "VOKLOG " + FormatDate(yesterday) + ".GIF"}};
    // Neither /tmp (PrivateTmp) nor a home (ProtectHome): the station sits in the build folder,
    // open to the unprivileged user the run has.
    std::string base = std::string(TALVOR_BINARY_DIR) + "/hardened-" + std::to_string(getpid());
    struct Cleanup {
        std::string path;
        ~Cleanup() { fs::remove_all(path); }
    } cleanup{base};
    for (const Unit& unit : units) {
        SCOPED_TRACE(unit.name);
        std::string station = base + "/" + unit.name;
        MakeDirs(station);
        for (const char* program : {"talvor", "talvor-render"}) {
            fs::copy_file(Root(std::string("/usr/bin/") + program),
                          station + "/" + program + ".bin");
            fs::create_symlink(station + "/" + program + ".bin", station + "/" + program);
        }
        ASSERT_EQ(
            RunCommand(Quoted(TALVOR_GEN) + " " + Quoted(station + "/BRANTOS") + " " + unit.date)
                .exitCode,
            0);
        RunCommand("chown -R nobody " + Quoted(base) + " && chmod 0755 " + Quoted(base));
        std::string text = ReadFileBytes(Root(kUnitDir + unit.name));
        std::string properties, command;
        std::string cache = "talvor-test-" + std::to_string(getpid());
        for (size_t at = text.find("[Service]\n") + 10; at < text.size();) {
            size_t end = text.find('\n', at);
            std::string line = text.substr(at, end - at);
            at = end + 1;
            if (line.empty() || line[0] == '#' || line[0] == '[') continue;
            for (size_t p = 0; (p = line.find(kStationDir, p)) != std::string::npos;) {
                line.replace(p, kStationDir.size(), station);
                p += station.size();
            }
            std::string key = line.substr(0, line.find('='));
            std::string value = line.substr(line.find('=') + 1);
            if (key == "ExecStart") {
                command = value;
            } else if (key == "User") {
                properties += " -p User=nobody";
            } else if (key == "Group") {
                properties += " -p Group=nogroup";
            } else if (key == "CacheDirectory") {
                properties += " -p CacheDirectory=" + cache;
            } else if (key == "Environment") {
                properties += " -p " + Quoted("Environment=XDG_CACHE_HOME=/var/cache/" + cache);
            } else if (key != "Type" && key != "TimeoutStartSec") {
                properties += " -p " + Quoted(line);
            }
        }
        // The unit file's $$ and %% are systemd's escapes of $ and %: the command as the unit runs
        // it.
        for (const auto& [escaped, plain] : {std::pair{"$$", "$"}, std::pair{"%%", "%"}}) {
            for (size_t p = 0; (p = command.find(escaped, p)) != std::string::npos; ++p) {
                command.replace(p, 2, plain);
            }
        }
        if (command.rfind("/bin/sh -c '", 0) == 0)
            command = command.substr(12, command.size() - 13);
        std::string run = "systemd-run --quiet --wait --pipe --collect -p TimeoutStartSec=120" +
                          std::string(" -p Type=oneshot") + properties + " /bin/sh -c " +
                          Quoted(command) + " 2>&1";
        CommandResult result = RunCommand(run);
        RunCommand("rm -rf " + Quoted("/var/cache/" + cache) + " " +
                   Quoted("/var/cache/private/" + cache));
        EXPECT_EQ(result.exitCode, 0) << run << "\n" << result.output;
        int width = 0, height = 0;
        ASSERT_TRUE(GifSize(station + "/" + unit.picture, &width, &height)) << result.output;
        EXPECT_EQ(height, 1500);
    }
}

TEST_F(PackageTest, UnitsPassSystemdAnalyzeVerify) {
    // systemd-analyze verify also checks that each command exists: the units are checked with
    // the station folder moved to one whose links lead to the extracted programs.
    std::string station = MakeStation("station", "talvor");
    std::string units = dir_ / "units";
    MakeDirs(units);
    for (const char* unit : kUnits) {
        std::string text = ReadFileBytes(Root(kUnitDir + unit));
        for (size_t at = 0; (at = text.find(kStationDir, at)) != std::string::npos;) {
            text.replace(at, kStationDir.size(), station);
            at += station.size();
        }
        WriteFileBytes(units + "/" + unit, text);
    }
    // Documentation= pages are looked up too, in the package's own man folder.
    std::string verify = "MANPATH=" + Quoted(Root("/usr/share/man")) + " systemd-analyze verify";
    for (const char* unit : kUnits) verify += std::string(" ./") + unit;
    CommandResult result = RunCommand(verify + " 2>&1", units);
    std::printf("systemd-analyze verify: exit %d, output:\n%s", result.exitCode,
                result.output.c_str());
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, "");

    // The check can fail: a misspelt key is reported.
    WriteFileBytes(units + "/broken.timer",
                   "[Unit]\nDescription=x\n[Timer]\nOnCalender=daily\nUnit=talvor.service\n");
    CommandResult broken = RunCommand("systemd-analyze verify ./broken.timer 2>&1", units);
    EXPECT_NE(broken.output.find("OnCalender"), std::string::npos) << broken.output;

    // What the units promise: an unprivileged run in the station folder before midnight UTC,
    // and the redraw of yesterday after it.
    std::string service = ReadFileBytes(Root(kUnitDir + "talvor.service"));
    EXPECT_NE(service.find("\nUser=talvor\n"), std::string::npos);
    EXPECT_NE(service.find("\nWorkingDirectory=" + kStationDir + "\n"), std::string::npos);
    EXPECT_NE(service.find("\nExecStart=" + kStationDir + "/talvor\n"), std::string::npos);
    std::string logger = ReadFileBytes(Root(kUnitDir + "talvor-log.service"));
    EXPECT_NE(logger.find("\nUser=talvor\n"), std::string::npos);
    EXPECT_NE(logger.find("\nRestart=always\n"), std::string::npos);
    EXPECT_NE(logger.find("rtl_power -D -f 520k:1710k:1k -i 60 - | exec " + kStationDir +
                          "/talvor-log'\n"),
              std::string::npos)
        << logger;
    std::string yesterday = ReadFileBytes(Root(kUnitDir + "talvor-yesterday.service"));
    EXPECT_NE(yesterday.find("\nUser=talvor\n"), std::string::npos);
    EXPECT_NE(yesterday.find(kStationDir + "/talvor-render --date"), std::string::npos);
    EXPECT_NE(
        ReadFileBytes(Root(kUnitDir + "talvor.timer")).find("\nOnCalendar=*-*-* 23:58:00 UTC\n"),
        std::string::npos);
    EXPECT_NE(ReadFileBytes(Root(kUnitDir + "talvor-yesterday.timer"))
                  .find("\nOnCalendar=*-*-* 00:05:00 UTC\n"),
              std::string::npos);
}

TEST_F(PackageTest, ManPagesRenderWithoutWarnings) {
    struct Page {
        const char* file;
        std::vector<std::string> mentions;
    };
    const Page pages[] = {
        {"man1/talvor.1.gz", {"EXIT STATUS", "1920 x 1500", "talvorZ", "TALVOR: "}},
        {"man1/talvor-render.1.gz", {"--show-config", "--from", "EXIT STATUS"}},
        {"man1/talvor-log.1.gz", {"--timezone", "--offset", "SIGTERM", "EXIT STATUS"}},
        {"man5/talvor.ini.5.gz",
         {"QTH=", "VOKTEXT=", "VOKSENS=", "VOKCOLOR=", "OVERSEAS=", "SET", "[CUSTOM]", "KELDAN",
          "LF"}},
        {"man1/talvor-gen-daylog.1.gz", {"--csv", "--minutes", "VOK.LOG", "EXIT STATUS"}},
        {"man5/talvor-daylog.5.gz", {"4890", "minute", "marker kind", "time text", "levels"}},
    };
    for (const Page& page : pages) {
        SCOPED_TRACE(page.file);
        std::string path = Root("/usr/share/man/") + page.file;
        std::string errors = dir_ / "man-errors";
        CommandResult shown = RunCommand("(MANWIDTH=80 man --warnings -l " + Quoted(path) + " 2>" +
                                         Quoted(errors) + ")");
        EXPECT_EQ(shown.exitCode, 0);
        EXPECT_EQ(ReadFileBytes(errors), "");
        EXPECT_NE(shown.output.find("NAME"), std::string::npos);
        for (const std::string& word : page.mentions) {
            EXPECT_NE(shown.output.find(word), std::string::npos) << word;
        }
    }
    // The check can fail: a page with an unknown macro is warned about.
    WriteFileBytes(dir_ / "bad.1", ".TH BAD 1\n.SH NAME\nbad \\- page\n.NOSUCHMACRO\n");
    CommandResult bad = RunCommand("(MANWIDTH=80 man --warnings -l " + Quoted(dir_ / "bad.1") +
                                   " 2>&1 >/dev/null)");
    EXPECT_NE(bad.output.find("NOSUCHMACRO"), std::string::npos) << bad.output;
}

// cmake --install puts everything under the prefix it is given, and the station's links name
// the programs there.
TEST(Install, CmakeInstallFollowsThePrefix) {
    TempDir dir("talvor-install");
    std::string prefix = dir / "opt/talvor";
    CommandResult install = RunCommand(Quoted(TALVOR_CMAKE) + " --install " +
                                       Quoted(TALVOR_BINARY_DIR) + " --prefix " + Quoted(prefix));
    ASSERT_EQ(install.exitCode, 0) << install.output;
    for (const char* file :
         {"bin/talvor", "bin/talvor-render", "share/man/man1/talvor.1.gz",
          "share/man/man5/talvor.ini.5.gz", "share/doc/talvor/examples/TALVOR.INI",
          "lib/systemd/system/talvor.service", "lib/systemd/system/talvor-yesterday.timer",
          "lib/systemd/system/talvor-log.service", "lib/sysusers.d/talvor.conf",
          "lib/tmpfiles.d/talvor.conf"}) {
        EXPECT_TRUE(FileExists(prefix + "/" + file)) << file;
    }
    std::string tmpfiles = ReadFileBytes(prefix + "/lib/tmpfiles.d/talvor.conf");
    EXPECT_NE(tmpfiles.find(" - - - - " + prefix + "/bin/talvor\n"), std::string::npos) << tmpfiles;
    EXPECT_TRUE(access((prefix + "/bin/talvor").c_str(), X_OK) == 0);
}

}  // namespace
