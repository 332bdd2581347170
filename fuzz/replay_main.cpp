// Runs one fuzz target over saved inputs, without libFuzzer. The sanitizer test build links each
// target's entry point with this driver, and CTest replays the committed corpus and every kept
// finding through it, so a regression shows in the unit-test run without a clang fuzz build.
//   <target> PATH...   files, or folders read recursively; inputs are cut to 64 KiB as the
//                      fuzzer's -max_len cuts them
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "imagefiles/detail/decode_limits.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

constexpr std::size_t kMaxInputBytes = 65536;

// Every regular file named or under a named folder, in a stable order.
std::vector<std::filesystem::path> inputsOf(int argc, char** argv) {
    std::vector<std::filesystem::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path(argv[i]);
        std::error_code error;
        if (std::filesystem::is_directory(path, error)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(path, error)) {
                if (entry.is_regular_file(error)) inputs.push_back(entry.path());
            }
        } else {
            inputs.push_back(path);
        }
        if (error) std::fprintf(stderr, "replay: %s: %s\n", argv[i], error.message().c_str());
    }
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

} // namespace

int main(int argc, char** argv) {
    // The cap the fuzz build runs under: inputs found there take the same paths here.
    quill::imagefiles::detail::setDecodeCap(std::size_t{64} << 20);
    const auto started = std::chrono::steady_clock::now();
    const std::vector<std::filesystem::path> inputs = inputsOf(argc, argv);
    if (inputs.empty()) {
        std::fprintf(stderr, "replay: no inputs\n");
        return 2;
    }
    std::size_t bytes = 0;
    for (const std::filesystem::path& path : inputs) {
        std::ifstream file(path, std::ios::binary);
        if (!file) {
            std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
            return 2;
        }
        std::vector<std::uint8_t> data(kMaxInputBytes);
        file.read(reinterpret_cast<char*>(data.data()), std::streamsize(data.size()));
        data.resize(std::size_t(file.gcount()));
        // Named before it runs, so that a sanitizer report follows the input that caused it.
        std::fprintf(stderr, "replay: %s\n", path.c_str());
        LLVMFuzzerTestOneInput(data.data(), data.size());
        bytes += data.size();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("replay: %zu inputs, %zu bytes, %.1f s\n", inputs.size(), bytes, seconds);
    return 0;
}
