// SPDX-License-Identifier: GPL-3.0-or-later
// The three font lists (FooterFontList, LabelFontList, TitleFontList), for render_surface.cpp.
#pragma once

// Builds the lists in the current context, loading the faces first where that is still to do.
void BuildFontLists();
// Deletes the lists from the current context; their bases are 0 after.
void DeleteFontLists();
