// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/gif_lzw.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr int kMaxCodeBits = 12;
// giflib starts the table afresh when the next code would be 4095, so that no code needs more
// than 12 bits; doing the same keeps the pictures' bytes as they were.
constexpr uint32_t kTableLimit = (1u << kMaxCodeBits) - 1;
constexpr uint32_t kNoRecent = 0xFFFFFFFFu;

// The string table and the code writer. A string is known by the code of its prefix and its last
// pixel: next_[(prefix << minCodeSize) | pixel] is its code, 0 while it has none (code 0 is a
// single pixel, never an added string). That is 2 MB for 256 colours, of which a chart touches
// scattered lines, so each code also keeps the string it was last extended to in recent_ (the
// pixel in the high half, the code in the low): most pixels of a chart are found there, in a
// table that stays in the processor's nearest cache.
class StringTable {
  public:
    StringTable(int minCodeSize, std::vector<unsigned char>* out, size_t expectedBytes)
        : minCodeSize_(minCodeSize),
          clearCode_(1u << minCodeSize),
          next_(size_t(kTableLimit + 1) << minCodeSize, 0),
          slotOf_(kTableLimit + 1, 0),
          recent_(kTableLimit + 1, kNoRecent),
          out_(out) {
        out_->clear();
        out_->resize(std::max<size_t>(expectedBytes, 64));
        Restart();
        Put(clearCode_);
    }

    const uint16_t* next() const { return next_.data(); }
    uint32_t* recent() { return recent_.data(); }

    // The string code + pixel is new: code goes out, and the string gets the next free code, or
    // the table starts afresh when none is left. Out of line: the pixel loop stays small.
    __attribute__((noinline)) void Extend(uint32_t code, size_t slot, uint32_t pixel) {
        Put(code);
        if (nextCode_ >= kTableLimit) {
            Put(clearCode_);
            // Only the entries this table filled, not all 2 MB.
            for (uint32_t c = clearCode_ + 2; c < nextCode_; ++c) next_[slotOf_[c]] = 0;
            std::fill(recent_.begin(), recent_.end(), kNoRecent);
            Restart();
            return;
        }
        next_[slot] = static_cast<uint16_t>(nextCode_);
        recent_[code] = pixel << 16 | nextCode_;
        slotOf_[nextCode_++] = uint32_t(slot);
    }

    // The end code and the bits still held, the last byte padded with zeros; the output cut to
    // what was written.
    void Finish() {
        Put(clearCode_ + 1);
        out_->resize(used_ + 8);
        for (; held_ > 0; held_ -= 8, bits_ >>= 8) {
            (*out_)[used_++] = static_cast<unsigned char>(bits_);
        }
        out_->resize(used_);
    }

    // A code at the width in force, least significant bit first. The width grows after it once
    // the next code to be given out no longer fits: a decoder, a code behind, grows its own there.
    void Put(uint32_t code) {
        bits_ |= uint64_t(code) << held_;
        held_ += width_;
        if (held_ >= 32) {
            if (used_ + 4 > out_->size()) out_->resize(out_->size() * 2);
            unsigned char* p = out_->data() + used_;
            for (int k = 0; k < 4; ++k) p[k] = static_cast<unsigned char>(bits_ >> (8 * k));
            used_ += 4;
            bits_ >>= 32;
            held_ -= 32;
        }
        if (nextCode_ >= widthLimit_) widthLimit_ = 1u << ++width_;
    }

  private:
    void Restart() {
        nextCode_ = clearCode_ + 2;
        width_ = minCodeSize_ + 1;
        widthLimit_ = 1u << width_;
    }

    int minCodeSize_;
    uint32_t clearCode_;
    std::vector<uint16_t> next_;
    std::vector<uint32_t> slotOf_;  // where each added code sits in next_
    std::vector<uint32_t> recent_;
    std::vector<unsigned char>* out_;
    size_t used_ = 0;
    uint64_t bits_ = 0;  // codes not yet written out, the first in the lowest bits
    int held_ = 0;
    uint32_t nextCode_ = 0;
    int width_ = 0;
    uint32_t widthLimit_ = 0;
};

}  // namespace

void CompressLzw(const unsigned char* indices, size_t count, int minCodeSize,
                 std::vector<unsigned char>* codeStream) {
    minCodeSize = std::clamp(minCodeSize, kMinLzwCodeSize, kMaxLzwCodeSize);
    const uint32_t pixelMask = (1u << minCodeSize) - 1;
    // Charts compress to about a fifth of a byte a pixel; the output grows when it must.
    StringTable table(minCodeSize, codeStream, count / 4);
    if (count == 0) {
        table.Finish();
        return;
    }
    const uint16_t* next = table.next();
    uint32_t* recent = table.recent();
    uint32_t code = indices[0] & pixelMask;
    for (size_t i = 1; i < count; ++i) {
        uint32_t pixel = indices[i] & pixelMask;
        uint32_t last = recent[code];
        if (last >> 16 == pixel) {
            code = last & 0xFFFF;
            continue;
        }
        size_t slot = size_t(code) << minCodeSize | pixel;
        if (uint32_t found = next[slot]; found != 0) {
            recent[code] = pixel << 16 | found;
            code = found;
            continue;
        }
        table.Extend(code, slot, pixel);
        code = pixel;
    }
    table.Put(code);
    table.Finish();
}
