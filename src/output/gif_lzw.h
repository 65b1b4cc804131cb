// SPDX-License-Identifier: GPL-3.0-or-later
// The LZW code stream of a GIF image.
//
// Codes are packed least significant bit first. The first code is a clear code; codes start
// minCodeSize + 1 bits wide and grow by one bit once the next code to be given out needs it, up
// to 12 bits; the table starts afresh, after a clear code, when code 4095 would be given out;
// the end-of-information code closes the stream, whose last byte is padded with zero bits:
//
//   clear | codes ... | [clear | codes ...] ... | end | padding
//
// This is the stream that giflib's EGifPutLine makes for the same pixels, bit for bit, found
// with a table indexed by (code, pixel) instead of giflib's hash.
#pragma once

#include <cstddef>
#include <vector>

// The smallest and largest first code width less one that a GIF allows for 2..256 colours.
constexpr int kMinLzwCodeSize = 2;
constexpr int kMaxLzwCodeSize = 8;

// Compresses count palette indices (the image's rows, top row first, one after another) into
// codeStream, replacing what it held. Only the low minCodeSize bits of an index count, as with
// giflib. minCodeSize is 2..8 (the GIF's code size byte); no indices give a stream of no
// pixels. Throws std::bad_alloc when memory is short.
void CompressLzw(const unsigned char* indices, size_t count, int minCodeSize,
                 std::vector<unsigned char>* codeStream);
