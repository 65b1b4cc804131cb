// SPDX-License-Identifier: GPL-3.0-or-later
// Where the scans come from: a recorded file, plain or compressed with gzip alike, or standard
// input as a receiver writes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/outcome.h"

namespace talvor {

struct ScanInput;
// Opens the file of that name ("-": standard input) into *input (nullptr when it cannot be).
Outcome OpenScanInput(const std::string& name, ScanInput** input);
// Reads on: *got is the count of bytes read, 0 at the end; once a stop signal has come, the kind
// Stopped (*got 0); -1 when the input cannot be read on (damaged or cut-off compressed data among
// others).
Outcome ReadScanInput(ScanInput* input, void* buffer, size_t count, long* got);
// Moves a recorded file to offset bytes from its start (of its contents, when compressed), for
// the reads after it; a compressed file is unpacked again up to there.
Outcome SeekScanInput(ScanInput* input, int64_t offset);
void CloseScanInput(ScanInput* input);

}  // namespace talvor
