// SPDX-License-Identifier: GPL-3.0-or-later
#include "site/site_folder.h"

#include <cerrno>
#include <filesystem>
#include <sstream>

#include "platform/clock.h"
#include "platform/files.h"
#include "station/report.h"

namespace fs = std::filesystem;

const char kManifestName[] = "talvor-site.manifest";

namespace {

const char kManifestHeader[] =
    "# talvor-render site manifest: the files it wrote here, and the only ones it will replace.";

// A name inside the site: relative, without empty, "." or ".." parts.
bool IsSiteName(const std::string& name) {
    if (name.empty() || name.front() == '/' || name.back() == '/') return false;
    size_t start = 0;
    for (;;) {
        size_t slash = name.find('/', start);
        std::string part = name.substr(start, slash - start);
        if (part.empty() || part == "." || part == "..") return false;
        if (slash == std::string::npos) return true;
        start = slash + 1;
    }
}

}  // namespace

void ReportSiteProblem(const std::string& text) {
    Report(text);
}

bool ReadWholeFile(const std::string& path, std::string* bytes) {
    int fd = -1;
    if (!OpenForReading(path.c_str(), &fd)) return false;
    int64_t size = FileSizeOf(fd);
    bool read = false;
    if (size >= 0) {
        bytes->resize(size_t(size));
        read = ReadUpTo(fd, bytes->data(), bytes->size()) == bytes->size();
    }
    CloseFile(fd);
    return read;
}

std::string ManifestText(const std::set<std::string>& names) {
    std::string out = std::string(kManifestHeader) + "\n";
    for (const std::string& name : names) out += name + "\n";
    return out;
}

bool ParseManifest(const std::string& text, std::set<std::string>* names) {
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != kManifestHeader) return false;
    names->clear();
    while (std::getline(in, line)) {
        if (!IsSiteName(line)) return false;
        names->insert(line);
    }
    return true;
}

SiteFolder::~SiteFolder() {
    if (lockFd >= 0) CloseFile(lockFd);
}

Outcome OpenSiteFolder(const std::string& folder, SiteFolder* site, int lockWaitMs) {
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    std::error_code error;
    fs::file_status status = fs::status(path, error);
    if (!fs::exists(status)) {
        // Only the last part is made: a mistyped parent should fail, not grow a tree.
        if (!fs::create_directory(path, error) && error) {
            return FailedWith(error.value(), "cannot make it: " + error.message());
        }
    } else if (!fs::is_directory(status)) {
        return FailedWith(ENOTDIR, "it is not a folder");
    }
    if (Outcome allowed = FolderTakesNewFiles(path.c_str()); !allowed) {
        return FailedWith(allowed.code, "cannot write in it: " + allowed.reason);
    }
    std::string temporary;
    int fd = -1;
    Outcome made = CreateTemporaryBeside((path + "/" + kManifestName).c_str(), &fd, &temporary);
    if (!made) return FailedWith(made.code, "cannot write in it: " + made.reason);
    CloseFile(fd);
    RemoveFile(temporary.c_str());

    int lock = -1;
    if (Outcome opened = OpenFolder(path.c_str(), &lock); !opened) {
        return FailedWith(opened.code, "cannot open it: " + opened.reason);
    }
    bool locked = bool(LockExclusively(lock));
    if (!locked && lockWaitMs > 0) {
        ReportSiteProblem(path + ": another run is writing this site; waiting for it");
    }
    for (int64_t start = MonotonicMs(); !locked && MonotonicMs() - start < lockWaitMs;) {
        SleepMs(200);
        locked = bool(LockExclusively(lock));
    }
    if (!locked) {
        CloseFile(lock);
        return FailedWith(EWOULDBLOCK, "another run is writing it");
    }
    if (site->lockFd >= 0) CloseFile(site->lockFd);
    site->lockFd = lock;
    site->path = path;
    site->owned.clear();
    site->written.clear();
    std::string manifestPath = path + "/" + kManifestName;
    fs::file_status manifest = fs::symlink_status(manifestPath, error);
    if (fs::exists(manifest)) {
        std::string text;
        if (!fs::is_regular_file(manifest) || !ReadWholeFile(manifestPath, &text) ||
            !ParseManifest(text, &site->owned)) {
            return FailedWith(EINVAL, std::string("its ") + kManifestName +
                                          " is not one this program wrote; it is left as it is");
        }
    }
    return Succeeded();
}

Outcome MayWrite(const SiteFolder& site, const std::string& name) {
    if (!IsSiteName(name)) return FailedWith(EINVAL, "not a name inside the site");
    std::error_code error;
    std::string path = site.path;
    size_t start = 0;
    for (;;) {
        size_t slash = name.find('/', start);
        path += "/" + name.substr(start, slash - start);
        fs::file_status status = fs::symlink_status(path, error);
        if (slash == std::string::npos) {
            if (!fs::exists(status)) return Succeeded();
            if (!fs::is_regular_file(status)) {
                return FailedWith(EEXIST, "something other than a file stands there");
            }
            if (site.owned.count(name) == 0 && site.written.count(name) == 0) {
                return FailedWith(EEXIST, "a file this program did not write stands there");
            }
            return Succeeded();
        }
        if (fs::exists(status) && !fs::is_directory(status)) {
            return FailedWith(ENOTDIR, path + " is not a folder");
        }
        start = slash + 1;
    }
}

bool MakeSiteFolders(const SiteFolder& site, const std::string& name) {
    size_t slash = name.rfind('/');
    if (slash == std::string::npos) return true;
    std::string folder = site.path + "/" + name.substr(0, slash);
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) {
        ReportSiteProblem("cannot make folder " + folder + ": " + error.message());
        return false;
    }
    return true;
}

bool PutSiteFile(SiteFolder* site, const std::string& name, const std::string& bytes) {
    std::string path = site->path + "/" + name;
    if (Outcome allowed = MayWrite(*site, name); !allowed) {
        ReportSiteProblem("cannot write " + path + ": " + allowed.reason);
        return false;
    }
    std::string there;
    if (ReadWholeFile(path, &there) && there == bytes) {
        site->written.insert(name);
        return true;
    }
    if (!MakeSiteFolders(*site, name)) return false;
    if (Outcome written = WriteFileWhole(path.c_str(), bytes.data(), bytes.size()); !written) {
        ReportSiteProblem("cannot write " + path + ": " + written.reason);
        return false;
    }
    site->written.insert(name);
    return true;
}

bool PutSiteFile(SiteFolder* site, const std::string& name,
                 const std::vector<unsigned char>& bytes) {
    return PutSiteFile(site, name, std::string(bytes.begin(), bytes.end()));
}

bool SaveManifest(SiteFolder* site) {
    std::set<std::string> names = site->owned;
    names.insert(site->written.begin(), site->written.end());
    std::string text = ManifestText(names);
    std::string path = site->path + "/" + kManifestName;
    std::string there;
    if (ReadWholeFile(path, &there) && there == text) return true;
    if (Outcome written = WriteFileWhole(path.c_str(), text.data(), text.size()); !written) {
        ReportSiteProblem("cannot write " + path + ": " + written.reason);
        return false;
    }
    return true;
}
