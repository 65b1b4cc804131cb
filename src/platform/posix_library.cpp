// SPDX-License-Identifier: GPL-3.0-or-later
#include <dlfcn.h>

#include "platform/library.h"

namespace talvor {

void* LoadLibrary(const char* fileName) {
    return dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
}

void* LibraryFunction(void* library, const char* name) {
    return dlsym(library, name);
}

}  // namespace talvor
