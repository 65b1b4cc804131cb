// SPDX-License-Identifier: GPL-3.0-or-later
// Text for the archive's pages: every string from the station passes through here on its way
// into HTML or a script, so that escaping is done in one place.
#pragma once

#include <string>
#include <vector>

#include "platform/outcome.h"

namespace talvor {

// The text as HTML character data or an attribute value: & < > " ' replaced by references. The
// station's 8-bit text (Latin-1 where it is not UTF-8) comes out as UTF-8.
std::string EscapeHtml(const std::string& text);

// The text as XML 1.0 character data or an attribute value: as EscapeHtml, and every character
// that XML 1.0 does not allow in a document (the control characters but tab and line ends,
// U+FFFE, U+FFFF) replaced by U+FFFD, so that a feed reader never rejects the document.
std::string EscapeXml(const std::string& text);

// A JavaScript (and JSON) string literal, quotes included. Besides the usual escapes, < > & and
// the line separators are written as \u escapes, so that the literal can never end a script
// element or be read as markup wherever it is put.
std::string JsString(const std::string& text);

// The text as UTF-8: kept as it is when it is valid UTF-8, else read as Latin-1 (the day log's
// and the configuration's 8-bit text).
std::string AsUtf8(const std::string& text);

// Bytes deflated with Huffman codes only, into a zlib stream that the browser's
// DecompressionStream unpacks. The pages' levels are mostly noise: Huffman coding alone packs
// them as well as a search for repeats does, in a fraction of the time.
Outcome HuffmanDeflate(const unsigned char* bytes, size_t count, std::vector<unsigned char>* out);

// Standard base64 with padding.
std::string Base64(const unsigned char* bytes, size_t count);

// Bytes as text for a script's string literal, a sixteenth shorter than base64: each four bytes
// (big-endian) as five digits of base 85 in Z85's alphabet (ZeroMQ RFC 32), which holds no quote,
// backslash or space. A last group of n < 4 bytes is padded with zero bytes and written as its
// first n + 1 digits, as Ascii85 does; the reader pads it with the highest digit.
std::string Base85(const unsigned char* bytes, size_t count);

}  // namespace talvor
