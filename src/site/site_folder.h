// SPDX-License-Identifier: GPL-3.0-or-later
// The folder a site is written into, and the manifest that tells the files this program wrote
// there from everything else. A file is only ever written where nothing stands yet or where the
// manifest says this program put it; nothing is ever deleted. Every file is written under a
// temporary name and renamed into place, and a file whose bytes would not change is left alone,
// so that a publishing tool sees only what an update really changed.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "platform/outcome.h"

// Two runs writing one site at once would each write a manifest without the other's files, which
// the next run would then refuse to replace: the second waits for the first.
constexpr int kSiteLockWaitMs = 10 * 60 * 1000;

// The manifest's name inside the site.
extern const char kManifestName[];

struct SiteFolder {
    std::string path;               // without a trailing '/'
    std::set<std::string> owned;    // relative names in the manifest when the run began
    std::set<std::string> written;  // relative names this run wrote (or found unchanged)
    int lockFd = -1;                // the folder, locked while this is open

    SiteFolder() = default;
    ~SiteFolder();
    SiteFolder(const SiteFolder&) = delete;
    SiteFolder& operator=(const SiteFolder&) = delete;
};

// Opens folder for a site: makes it when missing (its parent must exist), takes its lock (another
// run writing the same site is waited for, up to kSiteLockWaitMs), reads its manifest. Fails
// when the name is not a folder, cannot be written, stays locked, or its manifest cannot be read.
Outcome OpenSiteFolder(const std::string& folder, SiteFolder* site,
                       int lockWaitMs = kSiteLockWaitMs);

// The manifest's text for a set of names, and back; false for a text that is not a manifest.
std::string ManifestText(const std::set<std::string>& names);
bool ParseManifest(const std::string& text, std::set<std::string>* names);

// Whether the run may write the relative name: nothing stands there (and every folder on the
// way is a real folder, not a link), or a regular file that the manifest lists.
Outcome MayWrite(const SiteFolder& site, const std::string& name);

// Writes bytes under the relative name (making its folders), unless the file already holds
// exactly these bytes; records the name. False, after a message, when refused or not written.
bool PutSiteFile(SiteFolder* site, const std::string& name, const std::string& bytes);
bool PutSiteFile(SiteFolder* site, const std::string& name,
                 const std::vector<unsigned char>& bytes);

// Makes the folders of a relative name; false, after a message, when one cannot be made.
bool MakeSiteFolders(const SiteFolder& site, const std::string& name);

// Writes the manifest: the names it listed and the names written since. False after a message.
bool SaveManifest(SiteFolder* site);

// A whole small file's bytes; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string* bytes);

// The message for a site that cannot be written, through the program's reporter.
void ReportSiteProblem(const std::string& text);
