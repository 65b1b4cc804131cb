// SPDX-License-Identifier: GPL-3.0-or-later
// A fuzz target as a plain program: it feeds every file of the folders (or files) it is given to
// the target once, so that the ordinary build compiles each target and the tests replay its
// seeds. The fuzzing itself needs clang's libFuzzer and runs from scripts/fuzz.sh.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

namespace fs = std::filesystem;

bool Replay(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.eof() && in.fail()) {
        std::fprintf(stderr, "replay: cannot read %s\n", file.c_str());
        return false;
    }
    // Like libFuzzer, never hand the target a null pointer, not even for an empty input.
    static const uint8_t kNoBytes = 0;
    const uint8_t* data =
        bytes.empty() ? &kNoBytes : reinterpret_cast<const uint8_t*>(bytes.data());
    LLVMFuzzerTestOneInput(data, bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FOLDER|FILE...\n", argv[0]);
        return 2;
    }
    std::vector<fs::path> files;
    std::error_code error;
    for (int i = 1; i < argc; ++i) {
        if (fs::is_directory(argv[i], error)) {
            for (const fs::directory_entry& entry : fs::directory_iterator(argv[i], error))
                if (entry.is_regular_file()) files.push_back(entry.path());
        } else {
            files.emplace_back(argv[i]);
        }
        if (error) {
            std::fprintf(stderr, "replay: cannot list %s: %s\n", argv[i], error.message().c_str());
            return 1;
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "replay: no input found\n");
        return 1;
    }
    if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
    for (const fs::path& file : files)
        if (!Replay(file)) return 1;
    std::printf("replay: %zu inputs\n", files.size());
    return 0;
}
