// SPDX-License-Identifier: GPL-3.0-or-later
// Files and folders: reading, writing whole files safely, and the logger's appended day log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/outcome.h"

namespace talvor {

// True when a file or folder of that name exists (relative names against the working directory).
bool PathExists(const char* path);

// Every call here that can fail answers with an Outcome: the errno and its text, or EINVAL with
// "not a regular file" where a regular file was asked for. A descriptor it gives is -1 on failure.

// Opens a regular file for reading into *fd.
Outcome OpenForReading(const char* path, int* fd);
// Size of an open file in bytes into *size (0 when it cannot be told).
Outcome FileSizeOf(int fd, int64_t* size);
// Reads up to count bytes from the file's current position, retrying short reads until count
// bytes or the end of the file; *got is the number of bytes read, also when a read fails.
Outcome ReadFully(int fd, void* buffer, size_t count, size_t* got);
// The same for callers that take what arrived and need no reason: the number of bytes read.
size_t ReadUpTo(int fd, void* buffer, size_t count);
void CloseFile(int fd);

// Creates a new file beside finalPath (same folder) under an unpredictable hidden name, made
// exclusively and never through a link; its descriptor in *fd and its name in *temporaryPath.
Outcome CreateTemporaryBeside(const char* finalPath, int* fd, std::string* temporaryPath);
// Writes all bytes.
Outcome WriteAll(int fd, const void* data, size_t count);
// Flushes a file opened for writing to the disk and closes it (closed even when that fails).
Outcome CloseWritten(int fd);

// Renames a finished temporary file into place (a link under the final name is replaced, not
// followed) and flushes the folder; on failure the temporary is removed.
Outcome ReplaceFile(const char* temporaryPath, const char* finalPath);
void RemoveFile(const char* path);

// Writes a whole file under a temporary name beside it, flushes it and renames it into place,
// so that a reader never finds it half-written and a failed write leaves any earlier file
// whole; on failure, the failing step's.
Outcome WriteFileWhole(const char* path, const void* data, size_t count);

// Opens a folder itself (not a link to one) into *fd, to hold its lock with LockExclusively.
Outcome OpenFolder(const char* path, int* fd);

// Whether the effective user may create files in the folder.
Outcome FolderTakesNewFiles(const char* folder);

// What a name stands for, links followed.
struct FileIdentity {
    bool exists = false;    // something (maybe a link) is there under the name
    bool resolved = false;  // it leads to an object (not a link to nothing or a loop of links)
    bool regular = false;
    uint64_t device = 0;
    uint64_t inode = 0;
    int error = 0;  // why it is missing or unresolved
};
FileIdentity IdentifyFile(const char* path);

// ---- A file kept open and appended to (the logger's day log)
// -------------------------------------

// Opens an existing regular file for appending (never through a symbolic link) into *fd, or
// creates it when there is none (O_EXCL, so a file or link planted meanwhile is not taken over).
// *created says which.
Outcome OpenForAppending(const char* path, int* fd, bool* created);
// Cuts an open file back to size bytes.
Outcome TruncateOpenFile(int fd, int64_t size);
// Takes the file's exclusive advisory lock without waiting; the code is EWOULDBLOCK when another
// open of it holds the lock. It goes with the descriptor's close.
Outcome LockExclusively(int fd);
// Flushes a file's data to the disk.
Outcome SyncFileData(int fd);
// Flushes a folder's entries to the disk, so that a file made in it survives a power cut.
Outcome SyncFolder(const char* path);

}  // namespace talvor
