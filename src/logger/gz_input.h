// Recorded scans compressed with gzip, read through zlib.
#pragma once

#include <cstddef>
#include <string>

struct GzInput;
// Opens a regular file; nullptr with the reason when it cannot be.
GzInput* OpenGzInput(const std::string& path, std::string* reason);
// The count of bytes read, 0 at the end, -1 on damaged data (with the reason).
long ReadGzInput(GzInput* input, void* buffer, size_t count, std::string* reason);
void CloseGzInput(GzInput* input);
