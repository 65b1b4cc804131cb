// SPDX-License-Identifier: GPL-3.0-or-later
// The bitmap-font display lists the chart writes its texts with: faces found through fontconfig,
// rendered by FreeType, one glBitmap list per glyph.
#include "render/font_lists.h"

#include <GL/gl.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace talvor {

struct LoadedFace {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
};

struct LoadedFaces {
    LoadedFace title;
    LoadedFace system;
    bool titleTried = false;
    bool systemTried = false;
};

namespace {

// Every list reserves a full byte's worth of names, not only the footer's: the chart calls the
// lists with arbitrary 8-bit text (time texts come straight from the day log), and a code from
// 128 to 255 must land on an empty name of the same list rather than on another font's glyphs.
constexpr int kListNames = 256;
constexpr int kFirstGlyph = 32;
constexpr int kGlyphCount = 96;  // codes 32..127

constexpr int kSystemFontLinePixels = 16;
constexpr int kTitleFontLinePixels = 80;

std::string MatchFontFile(FcConfig* config, const char* pattern, int* faceIndex) {
    std::string file;
    *faceIndex = 0;
    if (config == nullptr) return file;
    FcPattern* request = FcNameParse(reinterpret_cast<const FcChar8*>(pattern));
    if (request != nullptr) {
        FcConfigSubstitute(config, request, FcMatchPattern);
        FcDefaultSubstitute(request);
        FcResult result = FcResultNoMatch;
        FcPattern* match = FcFontMatch(config, request, &result);
        if (match != nullptr) {
            FcChar8* path = nullptr;
            if (FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path) {
                file = reinterpret_cast<const char*>(path);
            }
            int index = 0;
            if (FcPatternGetInteger(match, FC_INDEX, 0, &index) == FcResultMatch) {
                *faceIndex = index;
            }
            FcPatternDestroy(match);
        }
        FcPatternDestroy(request);
    }
    return file;
}

void ReleaseFace(LoadedFace* loaded) {
    if (loaded->face != nullptr) FT_Done_Face(loaded->face);
    if (loaded->library != nullptr) FT_Done_FreeType(loaded->library);
    *loaded = LoadedFace{};
}

// The size is chosen so that ascender to descender spans linePixels, the way a Windows font
// height counts its cell.
bool SizeFace(FT_Face face, int linePixels) {
    if (FT_IS_SCALABLE(face) && face->units_per_EM > 0) {
        int span = face->ascender - face->descender;
        if (span <= 0) span = face->units_per_EM;
        long emPixels = long(linePixels) * face->units_per_EM / span;
        if (emPixels < 1) emPixels = 1;
        return FT_Set_Pixel_Sizes(face, 0, FT_UInt(emPixels)) == 0;
    }
    if (face->num_fixed_sizes > 0) return FT_Select_Size(face, 0) == 0;
    return false;
}

// Tries each fontconfig pattern in turn; the first face that loads and sizes is kept.
bool LoadFace(FcConfig* config, std::initializer_list<const char*> patterns, int linePixels,
              LoadedFace* out) {
    ReleaseFace(out);
    if (FT_Init_FreeType(&out->library) != 0) {
        out->library = nullptr;
        return false;
    }
    for (const char* pattern : patterns) {
        int index = 0;
        std::string file = MatchFontFile(config, pattern, &index);
        if (file.empty()) continue;
        FT_Face face = nullptr;
        if (FT_New_Face(out->library, file.c_str(), index, &face) != 0) continue;
        if (SizeFace(face, linePixels)) {
            out->face = face;
            return true;
        }
        FT_Done_Face(face);
    }
    ReleaseFace(out);
    return false;
}

// One list per glyph: the 1-bit glyph with glBitmap, whose move is the glyph's advance, as the
// platform's font-to-list call records it.
void BuildGlyphLists(FT_Face face, GLuint base) {
    if (base == 0) return;
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    glPixelStorei(GL_UNPACK_LSB_FIRST, GL_FALSE);
    std::vector<GLubyte> rows;
    for (int i = 0; i < kGlyphCount; ++i) {
        glNewList(base + i, GL_COMPILE);
        if (face != nullptr &&
            FT_Load_Char(face, FT_ULong(kFirstGlyph + i),
                         FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME) == 0) {
            FT_GlyphSlot slot = face->glyph;
            const FT_Bitmap& bitmap = slot->bitmap;
            int width = int(bitmap.width);
            int height = int(bitmap.rows);
            int bytesPerRow = (width + 7) / 8;
            GLfloat advance = GLfloat(slot->advance.x) / 64.0f;
            bool mono = bitmap.pixel_mode == FT_PIXEL_MODE_MONO && bitmap.buffer != nullptr;
            if (mono && width > 0 && height > 0) {
                // FreeType gives the top row first, glBitmap wants the bottom row first.
                int pitch = bitmap.pitch < 0 ? -bitmap.pitch : bitmap.pitch;
                rows.assign(size_t(bytesPerRow) * height, 0);
                for (int y = 0; y < height; ++y) {
                    const unsigned char* source =
                        bitmap.pitch < 0 ? bitmap.buffer + size_t(height - 1 - y) * pitch
                                         : bitmap.buffer + size_t(y) * pitch;
                    std::memcpy(&rows[size_t(height - 1 - y) * bytesPerRow], source,
                                size_t(bytesPerRow));
                }
                glBitmap(width, height, GLfloat(-slot->bitmap_left),
                         GLfloat(height - slot->bitmap_top), advance, 0.0f, rows.data());
            } else {
                glBitmap(0, 0, 0.0f, 0.0f, advance, 0.0f, nullptr);
            }
        }
        glEndList();
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
}

// Both faces with one reading of fontconfig's configuration, which costs tens of milliseconds;
// the configuration goes again once they are loaded.
void LoadFaces(LoadedFaces* faces) {
    if (faces->systemTried && faces->titleTried) return;
    FcConfig* config = FcInitLoadConfigAndFonts();
    if (!faces->systemTried) {
        faces->systemTried = true;
        LoadFace(config, {"DejaVu Sans:bold", "sans:bold", "sans"}, kSystemFontLinePixels,
                 &faces->system);
    }
    if (!faces->titleTried) {
        faces->titleTried = true;
        LoadFace(config, {"Arial Black:bold", "sans:black", "sans:heavy", "sans:bold", "sans"},
                 kTitleFontLinePixels, &faces->title);
    }
    if (config != nullptr) FcConfigDestroy(config);
}

}  // namespace

FontFaces::FontFaces() : faces(std::make_unique<LoadedFaces>()) {}

FontFaces::~FontFaces() {
    ReleaseFace(&faces->title);
    ReleaseFace(&faces->system);
}

void BuildFontLists(FontFaces* faces, FontLists* lists) {
    LoadFaces(faces->faces.get());

    lists->FooterFontList = glGenLists(kListNames);
    BuildGlyphLists(faces->faces->system.face, lists->FooterFontList);
    lists->LabelFontList = glGenLists(kListNames);
    BuildGlyphLists(faces->faces->system.face, lists->LabelFontList);
    lists->TitleFontList = glGenLists(kListNames);
    BuildGlyphLists(faces->faces->title.face, lists->TitleFontList);
}

void DeleteFontLists(FontLists* lists) {
    for (unsigned* base : {&lists->FooterFontList, &lists->LabelFontList, &lists->TitleFontList}) {
        if (*base != 0) glDeleteLists(*base, kListNames);
        *base = 0;
    }
}

bool LoadTitleFont(FontFaces* faces) {
    // The stock face is found here too, so that the surface's thread only turns glyphs into lists.
    faces->faces->titleTried = false;
    LoadFaces(faces->faces.get());
    return faces->faces->title.face != nullptr;
}

}  // namespace talvor
