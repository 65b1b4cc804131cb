// SPDX-License-Identifier: GPL-3.0-or-later
#include "site/site_text.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace talvor {

namespace {

// Length of the UTF-8 sequence that starts at text[at], or 0 when none valid starts there.
size_t Utf8SequenceAt(const std::string& text, size_t at) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(at);
    if (lead < 0x80) return 1;
    size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                    : lead >= 0xE0 && lead <= 0xEF ? 3
                    : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                   : 0;
    if (length == 0 || at + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(at + k) & 0xC0) != 0x80) return 0;
    }
    // Overlong three- and four-byte forms, surrogates and code points above U+10FFFF.
    unsigned char second = byte(at + 1);
    if (lead == 0xE0 && second < 0xA0) return 0;
    if (lead == 0xED && second > 0x9F) return 0;
    if (lead == 0xF0 && second < 0x90) return 0;
    if (lead == 0xF4 && second > 0x8F) return 0;
    return length;
}

bool IsUtf8(const std::string& text) {
    for (size_t at = 0; at < text.size();) {
        size_t length = Utf8SequenceAt(text, at);
        if (length == 0) return false;
        at += length;
    }
    return true;
}

}  // namespace

std::string AsUtf8(const std::string& text) {
    if (IsUtf8(text)) return text;
    std::string out;
    out.reserve(text.size() * 2);
    for (unsigned char c : text) {
        if (c < 0x80) {
            out += char(c);
        } else {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string EscapeHtml(const std::string& text) {
    std::string out;
    for (char c : AsUtf8(text)) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string EscapeXml(const std::string& text) {
    static const char kReplacement[] = "\xEF\xBF\xBD";
    std::string escaped = EscapeHtml(text), out;
    for (size_t at = 0; at < escaped.size(); ++at) {
        unsigned char c = static_cast<unsigned char>(escaped[at]);
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            out += kReplacement;
        } else if (c == 0xEF && at + 2 < escaped.size() && escaped[at + 1] == char(0xBF) &&
                   (escaped[at + 2] == char(0xBE) || escaped[at + 2] == char(0xBF))) {
            out += kReplacement;  // U+FFFE, U+FFFF
            at += 2;
        } else {
            out += char(c);
        }
    }
    return out;
}

std::string JsString(const std::string& text) {
    std::string utf8 = AsUtf8(text);
    std::string out = "\"";
    char escape[8];
    for (size_t at = 0; at < utf8.size(); ++at) {
        unsigned char c = static_cast<unsigned char>(utf8[at]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c == '<' || c == '>' || c == '&') {
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else if (c == 0xE2 && at + 2 < utf8.size() && utf8[at + 1] == char(0x80) &&
                   (utf8[at + 2] == char(0xA8) || utf8[at + 2] == char(0xA9))) {
            // U+2028 and U+2029 end a line inside older script parsers' strings.
            out += utf8[at + 2] == char(0xA8) ? "\\u2028" : "\\u2029";
            at += 2;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

std::string Base64(const unsigned char* bytes, size_t count) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((count + 2) / 3 * 4);
    size_t at = 0;
    for (; at + 3 <= count; at += 3) {
        unsigned v = unsigned(bytes[at]) << 16 | unsigned(bytes[at + 1]) << 8 | bytes[at + 2];
        out += kDigits[v >> 18];
        out += kDigits[(v >> 12) & 63];
        out += kDigits[(v >> 6) & 63];
        out += kDigits[v & 63];
    }
    if (at < count) {
        unsigned v = unsigned(bytes[at]) << 16;
        if (at + 1 < count) v |= unsigned(bytes[at + 1]) << 8;
        out += kDigits[v >> 18];
        out += kDigits[(v >> 12) & 63];
        out += at + 1 < count ? kDigits[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string Base85(const unsigned char* bytes, size_t count) {
    static const char kDigits[] =
        "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ.-:+=^!/*?&<>()[]{}@%$#";
    // Whole groups of four bytes written in place, five digits each, and the last, shorter
    // group as its first digits: a day's levels are some million bytes, and appending digit by
    // digit took twice as long.
    const size_t whole = count / 4, rest = count % 4;
    std::string out(whole * 5 + (rest > 0 ? rest + 1 : 0), '\0');
    char* digits = out.data();
    auto put = [&](uint32_t value, size_t used) {
        char group[5];
        for (int i = 4; i >= 0; --i, value /= 85) group[i] = kDigits[value % 85];
        std::memcpy(digits, group, used);
        digits += used;
    };
    for (size_t g = 0; g < whole; ++g) {
        const unsigned char* b = bytes + g * 4;
        put(uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3], 5);
    }
    if (rest > 0) {
        uint32_t value = 0;
        for (size_t i = 0; i < 4; ++i) value = value << 8 | (i < rest ? bytes[whole * 4 + i] : 0u);
        put(value, rest + 1);
    }
    return out;
}

Outcome HuffmanDeflate(const unsigned char* bytes, size_t count, std::vector<unsigned char>* out) {
    z_stream stream{};
    if (int started = deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15, 9, Z_HUFFMAN_ONLY);
        started != Z_OK) {
        return Failed(started == Z_MEM_ERROR ? FailureKind::OutOfMemory : FailureKind::Compressor,
                      std::string("zlib: ") + zError(started));
    }
    out->resize(deflateBound(&stream, uLong(count)));
    stream.next_in = const_cast<Bytef*>(bytes);
    stream.avail_in = uInt(count);
    stream.next_out = out->data();
    stream.avail_out = uInt(out->size());
    int result = deflate(&stream, Z_FINISH);
    out->resize(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END) {
        // Z_OK here would be an output too small, which deflateBound rules out.
        if (result == Z_OK) result = Z_BUF_ERROR;
        return Failed(FailureKind::Compressor, std::string("zlib: ") + zError(result));
    }
    return Succeeded();
}

}  // namespace talvor
