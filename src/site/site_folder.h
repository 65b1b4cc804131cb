// SPDX-License-Identifier: GPL-3.0-or-later
// The folder a site is written into, and the manifest that tells the files this program wrote
// there from everything else. A file is only ever written where nothing stands yet or where the
// manifest says this program put it; nothing is ever deleted but the program's own temporaries
// and files of its own that a site no longer has.
//
// A name enters the manifest, flushed to the disk, before its file (or its folder, or its
// temporary) is made, so that whatever a run that was killed or failed left behind is still the
// program's own, and the next run completes it. Every file is written under a temporary name and
// renamed into place, and a file whose bytes would not change is left alone, so that a publishing
// tool sees only what an update really changed.
//
// Everything is made relative to the site folder's descriptor, one folder at a time, never
// through a link: a folder inside the site must be a real folder of the user running the program
// that no other user may write into, so nobody else can swap a name for a link between a check
// and a write, and nothing outside the site is ever written.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/outcome.h"

namespace talvor {

// Two runs writing one site at once would each claim files the other is writing: the second
// waits for the first.
constexpr int kSiteLockWaitMs = 10 * 60 * 1000;

// The manifest's name inside the site, and the most it is read of: some 90 KB a year of days.
extern const char kManifestName[];
constexpr size_t kManifestMaxBytes = size_t{16} << 20;

// The temporaries' names: this mark, the name they become, a dot and ten random characters.
extern const char kTemporaryMark[];

// The steps of a write, for a test to stop or disturb a run between them.
enum class SiteStep { FolderOpened, TemporaryWritten, Renamed };

struct SiteFolder {
    std::string path;               // as given, without a trailing '/'
    int folderFd = -1;              // the site's folder, locked while this is open
    std::set<std::string> owned;    // relative names in the manifest: written, or about to be
    std::set<std::string> written;  // relative names this run wrote (or found unchanged)
    std::string manifestText;       // the manifest as it stands on the disk
    std::function<void(SiteStep step, const std::string& name)> betweenSteps;

    SiteFolder() = default;
    ~SiteFolder();
    SiteFolder(const SiteFolder&) = delete;
    SiteFolder& operator=(const SiteFolder&) = delete;
};

// Opens folder for a site: follows a link that names it, makes it when missing (its parent must
// exist), takes its lock (another run writing the same site is waited for, up to lockWaitMs),
// reads its manifest and removes the temporaries an interrupted run left. Fails when the name
// is not a folder, cannot be written, stays locked, or its manifest is not this program's.
Outcome OpenSiteFolder(const std::string& folder, SiteFolder* site,
                       int lockWaitMs = kSiteLockWaitMs);

// The manifest's text for a set of names, and back; false for a text that is not a manifest.
std::string ManifestText(const std::set<std::string>& names);
bool ParseManifest(const std::string& text, std::set<std::string>* names);

// Whether the run may write the relative name: nothing stands there, or a regular file of the
// running user that the manifest lists; and every folder on the way that stands is a real
// folder of the running user that others may not write.
Outcome MayWrite(const SiteFolder& site, const std::string& name);

// Lists the names in the manifest, flushed to the disk, where each may be written (MayWrite);
// any refusal or failure, its file named, and nothing listed. Claimed by the process that holds
// the site's lock before any worker process starts, so that a worker finds its names claimed and
// never writes the manifest itself.
Outcome ClaimSiteNames(SiteFolder* site, const std::vector<std::string>& names);

// Writes bytes under the relative name (claiming it, making its folders), unless the file already
// holds exactly these bytes; records the name. When refused or not written, the reason, said
// through the reporter too, with no temporary left.
Outcome PutSiteFile(SiteFolder* site, const std::string& name, const std::string& bytes);
Outcome PutSiteFile(SiteFolder* site, const std::string& name,
                    const std::vector<unsigned char>& bytes);

// Removes a file of the program's own that a site no longer has: only a name in the manifest,
// and only where a regular file of the running user stands (anything else there is left as it
// is); the name leaves the manifest's names when it is gone. Nothing there is no failure. When
// the file stays, why, said through the reporter too.
Outcome RemoveSiteFile(SiteFolder* site, const std::string& name);

// Writes the manifest when its names changed; when not, the reason, said through the reporter
// too.
Outcome SaveManifest(SiteFolder* site);

// A file of the site, up to limit bytes; fails when it is missing, not a file or longer.
Outcome ReadSiteFile(const SiteFolder& site, const std::string& name, size_t limit,
                     std::string* bytes);
// Reads the site's file up to the end of the first marker in it, and no further: a file whose
// later part is another reader's (a day's kept peaks after its carriers) is read only as far as
// this one needs. Without the marker, the whole file, and too large past limit bytes.
Outcome ReadSiteFileThrough(const SiteFolder& site, const std::string& name,
                            const std::string& marker, size_t limit, std::string* bytes);
// Whether a regular file stands under the relative name: succeeds when one does, else says why
// not (ENOENT when nothing stands there, NotRegularFile for something else, or why it cannot be
// looked at).
Outcome SiteFileExists(const SiteFolder& site, const std::string& name);

// Removes the temporaries of the program's own names that a run stopped by SIGKILL, a crash or a
// power cut left in the site's folders (a stop signal removes them itself).
void RemoveLeftoverTemporaries(const SiteFolder& site);

// The message for a site that cannot be written, through the program's reporter.
void ReportSiteProblem(const std::string& text);

}  // namespace talvor
