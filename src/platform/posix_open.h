// SPDX-License-Identifier: GPL-3.0-or-later
// Shared by the POSIX files of this folder only.
#pragma once

#include "platform/outcome.h"

namespace talvor {

// Opens without blocking (a FIFO would otherwise wait for a peer), keeps only regular files
// (EINVAL, "not a regular file", for anything else), then makes the descriptor blocking again.
// *fd is -1 on failure.
Outcome OpenRegularFile(const char* path, int flags, int mode, int* fd);
// The same with path relative to an open folder (or AT_FDCWD).
Outcome OpenRegularFileAt(int folderFd, const char* path, int flags, int mode, int* fd);

}  // namespace talvor
