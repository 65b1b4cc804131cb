// SPDX-License-Identifier: GPL-3.0-or-later
#include "site/site_folder.h"

#include <algorithm>
#include <cerrno>
#include <sstream>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/folder_files.h"
#include "report/report.h"

namespace talvor {

const char kManifestName[] = "talvor-site.manifest";
const char kTemporaryMark[] = ".talvor-tmp.";

namespace {

const char kManifestHeader[] =
    "# talvor-render site manifest: the files it wrote here, and the only ones it will replace.";

// A name inside the site: relative, without empty, "." or ".." parts, and without the control
// characters (NUL above all, which would end the name the system is given) that no name of the
// program's holds.
bool IsSiteName(const std::string& name) {
    if (name.empty() || name.front() == '/' || name.back() == '/') return false;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F) return false;
    }
    size_t start = 0;
    for (;;) {
        size_t slash = name.find('/', start);
        std::string part = name.substr(start, slash - start);
        if (part.empty() || part == "." || part == "..") return false;
        if (slash == std::string::npos) return true;
        start = slash + 1;
    }
}

// A descriptor closed when it goes.
struct HeldDescriptor {
    int fd = -1;
    HeldDescriptor() = default;
    HeldDescriptor(const HeldDescriptor&) = delete;
    HeldDescriptor& operator=(const HeldDescriptor&) = delete;
    ~HeldDescriptor() { Close(); }
    void Close() {
        CloseFile(fd);
        fd = -1;
    }
};

// Whether an open folder inside the site may hold the program's files: nobody but the running
// user may change what its names stand for.
Outcome TrustFolder(int fd, const std::string& path) {
    FolderEntry entry;
    if (Outcome looked = LookAtOpen(fd, &entry); !looked) {
        return FailedLike(looked, "cannot look at folder " + path + ": " + looked.reason);
    }
    if (!entry.ownedByUs) {
        return Failed(FailureKind::OwnedByAnotherUser, "folder " + path +
                                                           " belongs to another user (user id " +
                                                           std::to_string(entry.owner) + ")");
    }
    if (entry.othersMayWrite) {
        return Failed(FailureKind::WritableByOthers,
                      "folder " + path + " may be written by other users");
    }
    return Succeeded();
}

// Opens the folder that holds a relative name (or, for a name that ends in '/', that folder), one
// part at a time from the site's folder, each checked by TrustFolder; made where missing when
// make is set, else *missing says that one is not there. held is left empty for the site's own
// folder, which the site holds. *leaf is the name's last part.
Outcome OpenFolderOf(const SiteFolder& site, const std::string& name, bool make,
                     HeldDescriptor* held, std::string* leaf, bool* missing = nullptr) {
    if (missing != nullptr) *missing = false;
    held->Close();
    int at = site.folderFd;
    std::string path = site.path;
    size_t start = 0;
    for (size_t slash; (slash = name.find('/', start)) != std::string::npos; start = slash + 1) {
        std::string part = name.substr(start, slash - start);
        path += "/" + part;
        FolderEntry entry;
        Outcome looked = LookIn(at, part.c_str(), &entry);
        if (looked && entry.kind == EntryKind::Missing) {
            if (!make) {
                if (missing != nullptr) *missing = true;
                held->Close();
                return Succeeded();
            }
            Outcome made = MakeFolderIn(at, part.c_str());
            if (!made && made.error != EEXIST) {
                return FailedLike(made, "cannot make folder " + path + ": " + made.reason);
            }
            looked = LookIn(at, part.c_str(), &entry);
        }
        if (!looked) {
            return FailedLike(looked, "cannot look at " + path + ": " + looked.reason);
        }
        if (entry.kind != EntryKind::Folder) {
            return Failed(FailureKind::NotAFolder, path + " is not a folder");
        }
        HeldDescriptor next;
        if (Outcome opened = OpenFolderIn(at, part.c_str(), &next.fd); !opened) {
            return FailedLike(opened, "cannot open folder " + path + ": " + opened.reason);
        }
        if (Outcome trusted = TrustFolder(next.fd, path); !trusted) return trusted;
        held->Close();
        held->fd = next.fd;
        next.fd = -1;
        at = held->fd;
    }
    *leaf = name.substr(start);
    return Succeeded();
}

int FolderFd(const SiteFolder& site, const HeldDescriptor& held) {
    return held.fd >= 0 ? held.fd : site.folderFd;
}

void Step(const SiteFolder& site, SiteStep step, const std::string& name) {
    if (site.betweenSteps) site.betweenSteps(step, name);
}

// Writes a new file under leaf in folderFd through a temporary. noReplace: the name was free
// when looked at, and must still be.
Outcome WriteInFolder(const SiteFolder& site, int folderFd, const std::string& leaf,
                      const std::string& name, const std::string& bytes, bool noReplace) {
    TemporaryFile temporary;
    if (Outcome made = CreateTemporaryIn(folderFd, kTemporaryMark + leaf + ".", &temporary);
        !made) {
        return made;
    }
    if (Outcome written = WriteAll(temporary.fd, bytes.data(), bytes.size()); !written) {
        DiscardTemporary(&temporary);
        return written;
    }
    Step(site, SiteStep::TemporaryWritten, name);
    if (Outcome committed = CommitTemporary(&temporary, leaf.c_str(), noReplace); !committed) {
        return committed;
    }
    Step(site, SiteStep::Renamed, name);
    return Succeeded();
}

// Writes the manifest for the names given, flushed before it returns.
Outcome WriteManifest(SiteFolder* site, const std::set<std::string>& names) {
    std::string text = ManifestText(names);
    if (text == site->manifestText) return Succeeded();
    Outcome written = WriteInFolder(*site, site->folderFd, kManifestName, kManifestName, text,
                                    site->manifestText.empty());
    if (!written) {
        return FailedLike(written, site->path + "/" + kManifestName + ": " + written.reason);
    }
    site->manifestText = text;
    return Succeeded();
}

// The name that a temporary of the program's own stands for in the folder (a relative name
// with a trailing '/', or empty for the site's own), or empty when it is not one.
std::string TemporaryFor(const std::string& folder, const std::string& entry) {
    const size_t mark = sizeof kTemporaryMark - 1;
    const size_t tail = 1 + kTemporarySuffixLength;
    if (entry.size() <= mark + tail || entry.compare(0, mark, kTemporaryMark) != 0 ||
        entry[entry.size() - tail] != '.') {
        return "";
    }
    for (size_t i = entry.size() - kTemporarySuffixLength; i < entry.size(); ++i) {
        char c = entry[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) {
            return "";
        }
    }
    return folder + entry.substr(mark, entry.size() - mark - tail);
}

void RemoveTemporariesIn(const SiteFolder& site, int folderFd, const std::string& folder) {
    std::vector<std::string> entries;
    if (!ListFolder(folderFd, &entries)) return;
    for (const std::string& entry : entries) {
        std::string name = TemporaryFor(folder, entry);
        if (name.empty() || (site.owned.count(name) == 0 && name != kManifestName)) continue;
        FolderEntry there;
        // Only a file of the running user: in a site folder shared with others (mode 1777)
        // another user's file is never touched, whatever its name.
        if (LookIn(folderFd, entry.c_str(), &there) && there.kind == EntryKind::File &&
            there.ownedByUs) {
            RemoveFileIn(folderFd, entry.c_str());
        }
    }
}

}  // namespace

void ReportSiteProblem(const std::string& text) {
    Report(text);
}

std::string ManifestText(const std::set<std::string>& names) {
    std::string out = kManifestHeader;
    out += '\n';
    for (const std::string& name : names) {
        out += name;
        out += '\n';
    }
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
    CloseFile(folderFd);
}

Outcome OpenSiteFolder(const std::string& folder, SiteFolder* site, int lockWaitMs) {
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    HeldDescriptor opened;
    Outcome open = OpenNamedFolder(path.c_str(), &opened.fd);
    if (!open && open.error == ENOENT) {
        // Only the last part is made: a mistyped parent should fail, not grow a tree.
        Outcome made = MakeFolderIn(kWorkingFolder, path.c_str());
        if (!made && made.error != EEXIST) {
            return FailedLike(made, "cannot make it: " + made.reason);
        }
        open = OpenNamedFolder(path.c_str(), &opened.fd);
    }
    if (!open && open.error == ENOTDIR)
        return Failed(FailureKind::NotAFolder, "it is not a folder");
    if (!open) return FailedLike(open, "cannot open it: " + open.reason);

    bool locked = bool(LockExclusively(opened.fd));
    if (!locked && lockWaitMs > 0) {
        ReportSiteProblem(path + ": another run is writing this site; waiting for it");
    }
    for (int64_t start = MonotonicMs(); !locked && MonotonicMs() - start < lockWaitMs;) {
        SleepMs(200);
        locked = bool(LockExclusively(opened.fd));
    }
    if (!locked) return Failed(FailureKind::Locked, "another run is writing it");
    // Permissions do not tell everything (root passes them where a read-only file system still
    // refuses): a temporary is made as every write makes one, and removed again.
    TemporaryFile probe;
    if (Outcome made =
            CreateTemporaryIn(opened.fd, kTemporaryMark + std::string(kManifestName) + ".", &probe);
        !made) {
        return FailedLike(made, "cannot write in it: " + made.reason);
    }
    DiscardTemporary(&probe);

    std::set<std::string> owned;
    std::string text;
    FolderEntry manifest;
    if (Outcome looked = LookIn(opened.fd, kManifestName, &manifest); !looked) {
        return FailedLike(
            looked, std::string("cannot look at its ") + kManifestName + ": " + looked.reason);
    }
    if (manifest.kind != EntryKind::Missing) {
        const std::string notOurs =
            std::string("its ") + kManifestName + " is not one this program wrote";
        if (manifest.kind != EntryKind::File)
            return Failed(FailureKind::NotThisProgramsFile, notOurs + "; it is left as it is");
        if (!manifest.ownedByUs) {
            return Failed(FailureKind::OwnedByAnotherUser, notOurs + " (it belongs to user id " +
                                                               std::to_string(manifest.owner) +
                                                               "); it is left as it is");
        }
        HeldDescriptor file;
        bool longer = false;
        Outcome read = OpenFileIn(opened.fd, kManifestName, &file.fd);
        if (read) read = ReadPrefix(file.fd, kManifestMaxBytes, &text, &longer);
        if (!read) {
            return FailedLike(read,
                              std::string("cannot read its ") + kManifestName + ": " + read.reason);
        }
        if (longer) {
            return Failed(FailureKind::TooLarge, notOurs + " (it is larger than " +
                                                     std::to_string(kManifestMaxBytes >> 20) +
                                                     " MB); it is left as it is");
        }
        if (!ParseManifest(text, &owned))
            return Failed(FailureKind::NotThisProgramsFile, notOurs + "; it is left as it is");
    }
    CloseFile(site->folderFd);
    site->folderFd = opened.fd;
    opened.fd = -1;
    site->path = path;
    site->owned = std::move(owned);
    site->written.clear();
    site->manifestText = text;
    RemoveLeftoverTemporaries(*site);
    return Succeeded();
}

Outcome MayWrite(const SiteFolder& site, const std::string& name) {
    if (!IsSiteName(name)) return Failed(FailureKind::NotASiteName);
    HeldDescriptor folder;
    std::string leaf;
    bool missing = false;
    if (Outcome opened = OpenFolderOf(site, name, false, &folder, &leaf, &missing); !opened) {
        return opened;
    }
    if (missing) return Succeeded();
    FolderEntry there;
    if (Outcome looked = LookIn(FolderFd(site, folder), leaf.c_str(), &there); !looked) {
        return FailedLike(looked, "cannot look at it: " + looked.reason);
    }
    if (there.kind == EntryKind::Missing) return Succeeded();
    if (there.kind != EntryKind::File) {
        return Failed(FailureKind::NameTaken, "something other than a file stands there");
    }
    if (!there.ownedByUs) {
        return Failed(FailureKind::NameTaken, "a file of another user (user id " +
                                                  std::to_string(there.owner) + ") stands there");
    }
    if (site.owned.count(name) == 0 && site.written.count(name) == 0) {
        return Failed(FailureKind::NotThisProgramsFile,
                      "a file this program did not write stands there");
    }
    return Succeeded();
}

Outcome ClaimSiteNames(SiteFolder* site, const std::vector<std::string>& names) {
    std::set<std::string> claimed = site->owned;
    bool added = false;
    for (const std::string& name : names) {
        if (claimed.count(name) != 0) continue;
        if (Outcome allowed = MayWrite(*site, name); !allowed) {
            return FailedLike(allowed, site->path + "/" + name + ": " + allowed.reason);
        }
        claimed.insert(name);
        added = true;
    }
    if (!added) return Succeeded();
    if (Outcome saved = WriteManifest(site, claimed); !saved) return saved;
    site->owned = std::move(claimed);
    return Succeeded();
}

Outcome PutSiteFile(SiteFolder* site, const std::string& name, const std::string& bytes) {
    std::string path = site->path + "/" + name;
    // Said here, where the file is named; the caller learns why as well.
    auto refused = [](const Outcome& cause, const std::string& text) {
        ReportSiteProblem(text);
        return FailedLike(cause, text);
    };
    if (!IsSiteName(name)) {
        return refused(Failed(FailureKind::NotASiteName),
                       "cannot write " + path + ": not a name inside the site");
    }
    if (Outcome claimed = ClaimSiteNames(site, {name}); !claimed) {
        return refused(claimed, "cannot write " + claimed.reason);
    }
    HeldDescriptor folder;
    std::string leaf;
    if (Outcome opened = OpenFolderOf(*site, name, true, &folder, &leaf); !opened) {
        return refused(opened, "cannot write " + path + ": " + opened.reason);
    }
    Step(*site, SiteStep::FolderOpened, name);
    int at = FolderFd(*site, folder);
    FolderEntry there;
    Outcome looked = LookIn(at, leaf.c_str(), &there);
    if (looked && there.kind != EntryKind::Missing &&
        (there.kind != EntryKind::File || !there.ownedByUs)) {
        looked = Failed(FailureKind::NameTaken, there.kind != EntryKind::File
                                                    ? "something other than a file stands there"
                                                    : "a file of another user stands there");
    }
    if (!looked) return refused(looked, "cannot write " + path + ": " + looked.reason);
    if (there.kind == EntryKind::File && uint64_t(there.size) == bytes.size()) {
        HeldDescriptor file;
        std::string current;
        bool longer = false;
        if (OpenFileIn(at, leaf.c_str(), &file.fd) &&
            ReadPrefix(file.fd, bytes.size(), &current, &longer) && !longer && current == bytes) {
            site->written.insert(name);
            return Succeeded();
        }
    }
    if (Outcome written =
            WriteInFolder(*site, at, leaf, name, bytes, there.kind == EntryKind::Missing);
        !written) {
        return refused(written, "cannot write " + path + ": " + written.reason);
    }
    site->written.insert(name);
    return Succeeded();
}

Outcome PutSiteFile(SiteFolder* site, const std::string& name,
                    const std::vector<unsigned char>& bytes) {
    return PutSiteFile(site, name, std::string(bytes.begin(), bytes.end()));
}

Outcome RemoveSiteFile(SiteFolder* site, const std::string& name) {
    if (!IsSiteName(name) || site->owned.count(name) == 0) return Succeeded();
    HeldDescriptor folder;
    std::string leaf;
    bool missing = false;
    FolderEntry there;
    Outcome done = OpenFolderOf(*site, name, false, &folder, &leaf, &missing);
    if (done && !missing) done = LookIn(FolderFd(*site, folder), leaf.c_str(), &there);
    // Only what the program itself could have made there goes; anything else is not its own.
    if (done && !missing && there.kind == EntryKind::File && there.ownedByUs) {
        done = RemoveFileIn(FolderFd(*site, folder), leaf.c_str());
    }
    if (!done) {
        done = FailedLike(done, "cannot remove " + site->path + "/" + name + ": " + done.reason);
        ReportSiteProblem(done.reason);
        return done;
    }
    site->owned.erase(name);
    site->written.erase(name);
    return Succeeded();
}

Outcome SaveManifest(SiteFolder* site) {
    Outcome saved = WriteManifest(site, site->owned);
    if (!saved) {
        saved = FailedLike(saved, "cannot write " + saved.reason);
        ReportSiteProblem(saved.reason);
    }
    return saved;
}

namespace {

// A file of the site opened for reading, through the site's own folders.
Outcome OpenSiteFile(const SiteFolder& site, const std::string& name, HeldDescriptor* file) {
    if (!IsSiteName(name)) return Failed(FailureKind::NotASiteName);
    HeldDescriptor folder;
    std::string leaf;
    bool missing = false;
    if (Outcome opened = OpenFolderOf(site, name, false, &folder, &leaf, &missing); !opened) {
        return opened;
    }
    if (missing) return FailedWithErrno(ENOENT);
    return OpenFileIn(FolderFd(site, folder), leaf.c_str(), &file->fd);
}

}  // namespace

Outcome ReadSiteFile(const SiteFolder& site, const std::string& name, size_t limit,
                     std::string* bytes) {
    HeldDescriptor file;
    bool longer = false;
    Outcome read = OpenSiteFile(site, name, &file);
    if (read) read = ReadPrefix(file.fd, limit, bytes, &longer);
    if (read && longer) {
        return Failed(FailureKind::TooLarge, "larger than " + std::to_string(limit) + " bytes");
    }
    return read;
}

Outcome ReadSiteFileThrough(const SiteFolder& site, const std::string& name,
                            const std::string& marker, size_t limit, std::string* bytes) {
    bytes->clear();
    HeldDescriptor file;
    if (Outcome opened = OpenSiteFile(site, name, &file); !opened) return opened;
    // A page at a time; the marker is looked for from where it may begin in what is new.
    constexpr size_t kChunk = 4096;
    for (;;) {
        const size_t had = bytes->size();
        const size_t wanted = std::min(kChunk, limit + 1 - had);
        bytes->resize(had + wanted);
        size_t got = 0;
        Outcome read = ReadFully(file.fd, bytes->data() + had, wanted, &got);
        bytes->resize(had + got);
        if (!read) return read;
        const size_t from = had >= marker.size() ? had - marker.size() + 1 : 0;
        if (const size_t at = bytes->find(marker, from); at != std::string::npos) {
            bytes->resize(at + marker.size());
            return Succeeded();
        }
        if (bytes->size() > limit) {
            return Failed(FailureKind::TooLarge, "larger than " + std::to_string(limit) + " bytes");
        }
        if (got < wanted) return Succeeded();
    }
}

Outcome SiteFileExists(const SiteFolder& site, const std::string& name) {
    if (!IsSiteName(name)) return Failed(FailureKind::NotASiteName);
    HeldDescriptor folder;
    std::string leaf;
    bool missing = false;
    if (Outcome opened = OpenFolderOf(site, name, false, &folder, &leaf, &missing); !opened) {
        return opened;
    }
    if (missing) return FailedWithErrno(ENOENT);
    FolderEntry there;
    if (Outcome looked = LookIn(FolderFd(site, folder), leaf.c_str(), &there); !looked) {
        return looked;
    }
    if (there.kind == EntryKind::Missing) return FailedWithErrno(ENOENT);
    if (there.kind != EntryKind::File) return Failed(FailureKind::NotRegularFile);
    return Succeeded();
}

void RemoveLeftoverTemporaries(const SiteFolder& site) {
    std::set<std::string> folders = {""};
    for (const std::string& name : site.owned) {
        for (size_t slash = name.find('/'); slash != std::string::npos;
             slash = name.find('/', slash + 1)) {
            folders.insert(name.substr(0, slash + 1));
        }
    }
    for (const std::string& folder : folders) {
        if (folder.empty()) {
            RemoveTemporariesIn(site, site.folderFd, folder);
            continue;
        }
        HeldDescriptor held;
        std::string leaf;
        bool missing = false;
        // A folder that is not the program's to write is left alone here; the run refuses it
        // when it comes to write there.
        if (OpenFolderOf(site, folder, false, &held, &leaf, &missing) && !missing) {
            RemoveTemporariesIn(site, held.fd, folder);
        }
    }
}

}  // namespace talvor
