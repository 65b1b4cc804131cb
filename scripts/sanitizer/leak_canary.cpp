// SPDX-License-Identifier: GPL-3.0-or-later
// A program with one known leak, run by scripts/sanitize.sh under the very options and
// suppressions the tests run under: the leak check is only worth its green if it still reports
// this leak, and nothing else. Like the OpenGL driver, it keeps a pointer in the thread-local
// storage of a library it opened itself, the storage that intercept_tls_get_addr=0 stops the
// runtime from tracking: a block held only there must still count as reachable.
//
// Built twice from this file: with LEAK_CANARY_LIBRARY as the library, without as the program,
// which takes the library's path as its argument.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

#ifdef LEAK_CANARY_LIBRARY

extern "C" void** LeakCanarySlot() {
    static thread_local void* slot = nullptr;
    return &slot;
}

#else

namespace {

// Sizes that nothing else in the process allocates, so the report names them unmistakably.
constexpr size_t kLostBytes = 1717;
constexpr size_t kHeldBytes = 2929;

// volatile: the compiler must store and then forget the pointer, as a leaking program does.
void* volatile lost = nullptr;

}  // namespace

int main(int argc, char** argv) {
    void* library = argc > 1 ? dlopen(argv[1], RTLD_NOW | RTLD_LOCAL) : nullptr;
    if (library == nullptr) {
        std::fprintf(stderr, "leak canary: %s\n", argc > 1 ? dlerror() : "no library named");
        return 2;
    }
    auto slot = reinterpret_cast<void** (*)()>(dlsym(library, "LeakCanarySlot"));
    if (slot == nullptr) {
        std::fprintf(stderr, "leak canary: %s\n", dlerror());
        return 2;
    }
    *slot() = std::malloc(kHeldBytes);
    lost = std::malloc(kLostBytes);
    lost = nullptr;
    return 0;
}

#endif
