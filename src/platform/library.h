// SPDX-License-Identifier: GPL-3.0-or-later
// Libraries loaded at run time, so that a machine without one still runs to its normal end.
#pragma once

namespace talvor {

// Loads the shared library of that file name (never unloaded); nullptr when it is missing.
void* LoadLibrary(const char* fileName);
// The address of a function the library exports, or nullptr.
void* LibraryFunction(void* library, const char* name);

// Sets *call to the library's function of that name, or nullptr.
template <typename Call>
void ResolveFunction(void* library, const char* name, Call* call) {
    *call = reinterpret_cast<Call>(LibraryFunction(library, name));
}

}  // namespace talvor
