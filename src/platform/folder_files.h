// SPDX-License-Identifier: GPL-3.0-or-later
// Files under an opened folder. Every name is taken relative to a folder's descriptor and never
// through a symbolic link, so that someone who can write into a folder cannot send a write
// elsewhere by swapping a name for a link between the check of a name and the write through it.
// Names here are single path parts ("chart.png", not "a/chart.png"). Every call that can fail
// answers with an Outcome, the system's errno and text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/outcome.h"

namespace talvor {

// Opens the folder that a path names, following a link at its end as command-line tools do
// with the folders they are given; *fd is -1 on failure.
Outcome OpenNamedFolder(const char* path, int* fd);
// Makes a folder (mode 0755 less the umask); relative paths against folderFd, which may be
// kWorkingFolder. The code is EEXIST when something already stands there.
Outcome MakeFolderIn(int folderFd, const char* name);
// Opens a folder inside folderFd; a link, even to a folder, is refused (ELOOP or ENOTDIR).
Outcome OpenFolderIn(int folderFd, const char* name, int* fd);
constexpr int kWorkingFolder = -100;  // AT_FDCWD: names relative to the working directory

// What stands under a name, the link itself where it is one.
enum class EntryKind { Missing, File, Folder, Link, Other };
struct FolderEntry {
    EntryKind kind = EntryKind::Missing;
    bool ownedByUs = false;       // its owner is the effective user
    uint32_t owner = 0;           // its owner's user id
    bool othersMayWrite = false;  // users other than its owner and group may write it
    int64_t size = 0;
};
// The entry under name in folderFd; a name with nothing there is Missing, not a failure.
Outcome LookIn(int folderFd, const char* name, FolderEntry* entry);
// The same for an open file or folder itself.
Outcome LookAtOpen(int fd, FolderEntry* entry);

// Opens a regular file inside folderFd for reading, never through a link.
Outcome OpenFileIn(int folderFd, const char* name, int* fd);
// Reads from an open file up to limit bytes, whatever size the file claims (a sparse file may
// claim terabytes); *longer says whether more follows. Read errors are failures.
Outcome ReadPrefix(int fd, size_t limit, std::string* bytes, bool* longer);
// A file named by path (links followed) read up to limit bytes: fails with EFBIG and "larger
// than N bytes" when it holds more.
Outcome ReadSmallFile(const char* path, size_t limit, std::string* bytes);

// Names in an open folder, "." and ".." left out, in no particular order.
Outcome ListFolder(int folderFd, std::vector<std::string>* names);
// Removes a file (not a folder) inside folderFd.
Outcome RemoveFileIn(int folderFd, const char* name);

// A new file being written under a temporary name inside a folder: made exclusively (O_EXCL,
// never through a link), named prefix followed by ten random letters and digits.
struct TemporaryFile {
    int folderFd = -1;
    int fd = -1;
    std::string name;
    int slot = -1;  // its place in the list that a stop signal clears
};
constexpr size_t kTemporarySuffixLength = 10;
Outcome CreateTemporaryIn(int folderFd, const std::string& prefix, TemporaryFile* file);
// Flushes the written file, closes it and renames it to finalName in the same folder, then
// flushes the folder. noReplace: fails with EEXIST rather than replace a file that appeared under
// finalName meanwhile. On failure the temporary is removed.
Outcome CommitTemporary(TemporaryFile* file, const char* finalName, bool noReplace);
// Closes and removes an unfinished temporary.
void DiscardTemporary(TemporaryFile* file);

// From now on SIGTERM, SIGINT and SIGHUP first remove the temporaries being written, say so on
// standard error, and then end the process as the signal would have.
void RemoveTemporariesOnStopSignals();

}  // namespace talvor
