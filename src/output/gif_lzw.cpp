// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/gif_lzw.h"

#include <algorithm>

namespace talvor {

namespace {

constexpr int kMaxCodeBits = 12;
// giflib starts the table afresh when the next code would be 4095, so that no code needs more
// than 12 bits; doing the same keeps the pictures' bytes as they were.
constexpr uint32_t kTableLimit = (1u << kMaxCodeBits) - 1;
// At most 4,094 strings in 16,384 places: a quarter full, so a search seldom looks twice, and
// 64 KB, which stays in the processor's caches where a table of every code and pixel (2 MB) would
// not.
constexpr int kTableBits = 14;
// No string has this: its prefix would be code 4095, which is never given out.
constexpr uint32_t kEmpty = 0xFFFFFFFFu;
constexpr uint32_t kNoRecent = 0xFFFFFFFFu;

}  // namespace

LzwEncoder::LzwEncoder(int minCodeSize, std::vector<unsigned char>* codeStream,
                       size_t expectedPixels)
    : minCodeSize_(std::clamp(minCodeSize, kMinLzwCodeSize, kMaxLzwCodeSize)),
      clearCode_(1u << minCodeSize_),
      pixelMask_(clearCode_ - 1),
      table_(size_t(1) << kTableBits, kEmpty),
      recent_(kTableLimit + 1, kNoRecent),
      out_(codeStream) {
    // Charts compress to about a fifth of a byte a pixel; the output grows when it must.
    out_->clear();
    out_->resize(std::max<size_t>(expectedPixels / 4, 64));
    Restart();
    Put(clearCode_);
}

void LzwEncoder::Add(const unsigned char* indices, size_t count) {
    if (count == 0) return;
    size_t i = 0;
    if (!started_) {
        code_ = indices[i++] & pixelMask_;
        started_ = true;
    }
    uint32_t code = code_;
    uint32_t* recent = recent_.data();
    for (; i < count; ++i) {
        uint32_t pixel = indices[i] & pixelMask_;
        // Three of four pixels of a chart continue a string the way it was last continued.
        uint32_t last = recent[code];
        if (last >> 16 == pixel) {
            code = last & 0xFFFF;
            continue;
        }
        uint32_t key = code << 8 | pixel;
        size_t slot = 0;
        if (uint32_t found = Find(key, &slot); found != kEmpty) {
            recent[code] = pixel << 16 | found;
            code = found;
            continue;
        }
        Extend(code, slot, key);
        code = pixel;
    }
    code_ = code;
}

void LzwEncoder::Finish() {
    if (started_) Put(code_);
    Put(clearCode_ + 1);
    out_->resize(used_ + 8);
    for (; held_ > 0; held_ -= 8, bits_ >>= 8) {
        (*out_)[used_++] = static_cast<unsigned char>(bits_);
    }
    out_->resize(used_);
}

// The code of the string key, or kEmpty with *slot where it would go.
inline uint32_t LzwEncoder::Find(uint32_t key, size_t* slot) const {
    size_t mask = table_.size() - 1;
    for (size_t at = (key * 0x9E3779B1u) >> (32 - kTableBits);; at = (at + 1) & mask) {
        uint32_t entry = table_[at];
        if (entry == kEmpty) {
            *slot = at;
            return kEmpty;
        }
        if (entry >> 12 == key) return entry & 0xFFF;
    }
}

// The string key (code + a pixel) is new: code goes out, and the string gets the next free code,
// or the table starts afresh when none is left. Out of line: the pixel loop stays small.
__attribute__((noinline)) void LzwEncoder::Extend(uint32_t code, size_t slot, uint32_t key) {
    Put(code);
    if (nextCode_ >= kTableLimit) {
        Put(clearCode_);
        std::fill(table_.begin(), table_.end(), kEmpty);
        std::fill(recent_.begin(), recent_.end(), kNoRecent);
        Restart();
        return;
    }
    table_[slot] = key << 12 | nextCode_;
    recent_[code] = (key & 0xFF) << 16 | nextCode_;
    ++nextCode_;
}

// A code at the width in force, least significant bit first. The width grows after it once the
// next code to be given out no longer fits: a decoder, a code behind, grows its own there.
void LzwEncoder::Put(uint32_t code) {
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

void LzwEncoder::Restart() {
    nextCode_ = clearCode_ + 2;
    width_ = minCodeSize_ + 1;
    widthLimit_ = 1u << width_;
}

void CompressLzw(const unsigned char* indices, size_t count, int minCodeSize,
                 std::vector<unsigned char>* codeStream) {
    LzwEncoder encoder(minCodeSize, codeStream, count);
    encoder.Add(indices, count);
    encoder.Finish();
}

}  // namespace talvor
