// SPDX-License-Identifier: GPL-3.0-or-later
// Shared by the POSIX files of this folder only.
#pragma once

// Opens without blocking (a FIFO would otherwise wait for a peer), keeps only regular files
// (EINVAL for anything else), then makes the descriptor blocking again; -1 with errno set.
int OpenRegularFile(const char* path, int flags, int mode);
