#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

// Runs a fuzz target over every file of its corpus without libFuzzer, so a
// plain build's tests catch a regression the fuzzer once found. A target
// whose corpus is missing or empty fails: nothing would reach it.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(argv[i], error))
            if (entry.is_regular_file()) files.push_back(entry.path());
        if (error) {
            std::fprintf(stderr, "cannot read %s\n", argv[i]);
            return 1;
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "no corpus files\n");
        return 1;
    }
    std::sort(files.begin(), files.end());
    for (const std::filesystem::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                      std::istreambuf_iterator<char>()};
        std::fprintf(stderr, "%s\n", file.string().c_str());
        // A copy of exactly the file's size, so an overread shows under ASan.
        std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
        const std::uint8_t* first = data.empty() ? nullptr : data.data();
        LLVMFuzzerTestOneInput(first, data.size());
    }
    std::printf("%zu corpus files replayed\n", files.size());
    return 0;
}
