// Decoding and image-list benchmarks: a 12-megapixel JPEG through the loader, and walking a
// folder of 10,000 files into the image list.
//   decode_bench [benchmark flags]
//   decode_bench --time-decode=FILE [--rounds=N]   prints the median milliseconds of N loads
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <unistd.h>
#include <vector>

#include "imagefiles/image_list.h"
#include "imagefiles/image_loader.h"
#include "toolkit/platform/platform.h"

namespace {

using quill::imagefiles::ImageList;
using quill::imagefiles::ListOptions;

std::string g_jpeg = std::string(QUILL_TESTDATA_DIR) + "/exif/fullsize/jolla.jpg";

void loadJpeg(benchmark::State& state) {
    for (auto _ : state) {
        quill::toolkit::Image image =
            quill::imagefiles::loadImageFile(g_jpeg, quill::imagefiles::FormatKind::None);
        if (image.empty()) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(image.data());
    }
}
BENCHMARK(loadJpeg)->Unit(benchmark::kMillisecond)->UseRealTime();

// A folder of 10,000 small files, made once per process.
const std::string& tenThousandFiles() {
    static const std::string dir = [] {
        std::string d = quill::platform::tempDirectory() + "quill_walk_bench_" +
                        std::to_string(::getpid()) + "/";
        (void)quill::platform::createDirectories(d);
        const std::uint8_t byte = 0;
        for (int i = 0; i < 10000; ++i) {
            (void)quill::platform::writeFileAtomically(d + "image" + std::to_string(i) + ".jpg",
                                                       std::span<const std::uint8_t>(&byte, 1));
        }
        std::atexit([] { (void)quill::platform::removeDirectoryTree(dir); });
        return d;
    }();
    return dir;
}

void walkTenThousand(benchmark::State& state) {
    const std::string& dir = tenThousandFiles();
    for (auto _ : state) {
        ImageList list;
        quill::imagefiles::addPaths({dir}, list, ListOptions{});
        if (list.size() != 10000) state.SkipWithError("wrong count");
    }
}
BENCHMARK(walkTenThousand)->Unit(benchmark::kMillisecond)->UseRealTime();

int timeDecode(const std::string& path, int rounds) {
    std::vector<double> ms;
    for (int i = 0; i < rounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        quill::toolkit::Image image =
            quill::imagefiles::loadImageFile(path, quill::imagefiles::FormatKind::None);
        const auto end = std::chrono::steady_clock::now();
        if (image.empty()) return 1;
        ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%.1f\n", ms[ms.size() / 2]);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::string decodePath;
    int rounds = 7;
    std::vector<char*> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--time-decode=", 0) == 0)
            decodePath = arg.substr(14);
        else if (arg.rfind("--rounds=", 0) == 0)
            rounds = std::max(1, std::atoi(arg.c_str() + 9));
        else if (arg.rfind("--jpeg=", 0) == 0)
            g_jpeg = arg.substr(7);
        else
            rest.push_back(argv[i]);
    }
    if (!decodePath.empty()) return timeDecode(decodePath, rounds);
    int count = int(rest.size());
    benchmark::Initialize(&count, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
