// SPDX-License-Identifier: GPL-3.0-or-later
// The fonts the chart writes its texts with: the faces, found once a run, and the three font
// lists (FooterFontList, LabelFontList, TitleFontList) built from them in a surface's context.
#pragma once

#include <memory>

namespace talvor {

// The stock face and the large heavy title face, as fontconfig finds them and FreeType loads
// them; each is looked for once, on first need.
struct LoadedFaces;  // font_lists.cpp
struct FontFaces {
    std::unique_ptr<LoadedFaces> faces;
    FontFaces();
    ~FontFaces();
    FontFaces(const FontFaces&) = delete;
    FontFaces& operator=(const FontFaces&) = delete;
};

// Finds and loads the large bold title face (and the stock face with it); called on the main
// thread at start-up. False when no face could be loaded (the title list then draws nothing).
bool LoadTitleFont(FontFaces* faces);

// Display-list bases of the fonts; 0 while a list is not built. Texts are drawn with
// glListBase(base - 32) and one list call per character code.
// Every list reserves 256 names, so that codes 128..255 call empty names of the same list.
struct FontLists {
    unsigned FooterFontList = 0;  // glyphs for 32..127, the stock bold sans face
    unsigned LabelFontList = 0;   // glyphs for 32..127, the same face
    unsigned TitleFontList = 0;   // glyphs for 32..127, the large heavy face
};

// Builds the lists in the current context, loading the faces first where that is still to do.
void BuildFontLists(FontFaces* faces, FontLists* lists);
// Deletes the lists from the current context; their bases are 0 after.
void DeleteFontLists(FontLists* lists);

}  // namespace talvor
