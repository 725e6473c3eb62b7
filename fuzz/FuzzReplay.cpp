// Runs a fuzz target's entry point without libFuzzer, once per input: every
// file named, and every file of every folder named (in name order), then
// the empty input. The test suite builds each target with it and replays the
// target's seeds, so the targets keep building and their seeds keep passing
// between fuzzing runs. Exits 1 when a path cannot be read or no file was found.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size);

namespace {

bool replay(std::filesystem::path const& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<uint8_t const*>(bytes.data()), bytes.size());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        if (fs::is_directory(argv[i], error)) {
            std::vector<fs::path> inside;
            for (auto const& entry : fs::directory_iterator(argv[i], error))
                if (entry.is_regular_file()) inside.push_back(entry.path());
            std::sort(inside.begin(), inside.end());
            files.insert(files.end(), inside.begin(), inside.end());
        } else {
            files.push_back(argv[i]);
        }
    }
    for (auto const& file : files)
        if (!replay(file)) {
            std::fprintf(stderr, "replay: %s cannot be read\n", file.c_str());
            return 1;
        }
    LLVMFuzzerTestOneInput(reinterpret_cast<uint8_t const*>(""), 0);
    std::printf("replay: %zu inputs and the empty one\n", files.size());
    return files.empty() ? 1 : 0;
}
