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
// This is the stream that giflib's EGifPutLine makes for the same pixels, bit for bit, in less
// time: the string each code was last extended to is looked at before the table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace talvor {

// The smallest and largest first code width less one that a GIF allows for 2..256 colours.
constexpr int kMinLzwCodeSize = 2;
constexpr int kMaxLzwCodeSize = 8;

// Compresses palette indices, given in any number of pieces (the image's rows, top row first),
// into codeStream, replacing what it held. Only the low minCodeSize bits of an index count, as
// with giflib. minCodeSize is 2..8 (the GIF's code size byte). The encoder holds some 80 KB;
// it and the stream throw std::bad_alloc when memory is short.
class LzwEncoder {
  public:
    LzwEncoder(int minCodeSize, std::vector<unsigned char>* codeStream, size_t expectedPixels);
    void Add(const unsigned char* indices, size_t count);
    // The last string's code and the end code; no indices at all give a stream of no pixels.
    void Finish();

  private:
    uint32_t Find(uint32_t key, size_t* slot) const;
    void Extend(uint32_t code, size_t slot, uint32_t key);
    void Put(uint32_t code);
    void Restart();

    int minCodeSize_;
    uint32_t clearCode_;
    uint32_t pixelMask_;
    // The added strings, open addressing: (prefix << 8 | pixel) << 12 | code, kEmpty where none.
    std::vector<uint32_t> table_;
    // The string each code was last extended to: its pixel in the high half, its code in the low.
    std::vector<uint32_t> recent_;
    std::vector<unsigned char>* out_;
    size_t used_ = 0;
    uint64_t bits_ = 0;  // codes not yet written out, the first in the lowest bits
    int held_ = 0;
    uint32_t nextCode_ = 0;
    int width_ = 0;
    uint32_t widthLimit_ = 0;
    uint32_t code_ = 0;  // the string being extended
    bool started_ = false;
};

// The indices in one piece.
void CompressLzw(const unsigned char* indices, size_t count, int minCodeSize,
                 std::vector<unsigned char>* codeStream);

}  // namespace talvor
