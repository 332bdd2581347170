// Growth of the list and text work with the size of the input: removing filtered records,
// adding path arguments, walking nested folders and expanding long rename patterns. Each case
// runs at two sizes about ten times apart; linear work shows about ten times the time.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "imagefiles/image_list.h"
#include "settings/placeholders.h"
#include "toolkit/platform/platform.h"

namespace {

namespace fs = std::filesystem;
using quill::imagefiles::ImageList;
using quill::imagefiles::ImageRecord;

fs::path scratch(const std::string& name) {
    const fs::path dir = fs::temp_directory_path() / ("quill_bounds_bench_" + name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// A list of 2n records of which n (every other one) are removed in one pass, as the filter
// does with excluded images.
void removeFiltered(benchmark::State& state) {
    const auto removed = std::size_t(state.range(0));
    for (auto _ : state) {
        ImageList list;
        for (std::size_t i = 0; i < 2 * removed; ++i) {
            ImageRecord record;
            record.sourcePath = "/photos/img" + std::to_string(i) + ".jpg";
            list.append(std::move(record));
        }
        std::vector<std::uint8_t> marks(list.size(), 0);
        for (std::size_t i = 0; i < marks.size(); i += 2)
            marks[i] = 1;
        const auto start = std::chrono::steady_clock::now();
        list.eraseMarked(marks);
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        benchmark::DoNotOptimize(list.size());
    }
}
BENCHMARK(removeFiltered)->Arg(20000)->Arg(45000)->UseManualTime()->Unit(benchmark::kMillisecond);

// n path arguments naming n existing files, each given twice (the second is a duplicate).
void addPathArguments(benchmark::State& state) {
    const auto count = std::size_t(state.range(0));
    const fs::path dir = scratch("paths");
    quill::imagefiles::PathList paths;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string path = (dir / ("p" + std::to_string(i) + ".png")).string();
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f) std::fclose(f);
        paths.push_back(path);
        paths.push_back(path);
    }
    for (auto _ : state) {
        ImageList list;
        quill::imagefiles::addPaths(paths, list, {});
        if (list.size() != count) state.SkipWithError("wrong count");
    }
    fs::remove_all(dir);
}
BENCHMARK(addPathArguments)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// A chain of n nested folders with one image in each. Paths are limited to 4096 bytes, so the
// names are one letter; the counter reports how many levels the walk reached.
void walkNestedFolders(benchmark::State& state) {
    const auto depth = int(state.range(0));
    const fs::path dir = scratch("nested");
    const fs::path previous = fs::current_path();
    fs::current_path(dir);
    int made = 0;
    for (; made < depth; ++made) {
        std::error_code error;
        if (!fs::create_directory("d", error) || error) break;
        std::FILE* f = std::fopen("d/i.png", "wb");
        if (f) std::fclose(f);
        fs::current_path("d", error);
        if (error) break;
    }
    fs::current_path(previous);
    std::size_t found = 0;
    for (auto _ : state) {
        ImageList list;
        quill::imagefiles::addPaths({dir.string()}, list, {.includeSubdirectories = true});
        found = list.size();
    }
    state.counters["levels"] = double(found);
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}
BENCHMARK(walkNestedFolders)->Arg(300)->Arg(3000)->Unit(benchmark::kMillisecond);

// A rename pattern of n bytes made of image tokens and text, expanded for one image.
void expandLongPattern(benchmark::State& state) {
    const auto bytes = std::size_t(state.range(0));
    std::string pattern;
    while (pattern.size() < bytes)
        pattern += "%FN%_%IW%x%IH%_%DY%-";
    pattern.resize(bytes);
    const auto values = quill::settings::samplePlaceholderValues();
    for (auto _ : state)
        benchmark::DoNotOptimize(quill::settings::expandNamePattern(pattern, values, false));
}
BENCHMARK(expandLongPattern)->Arg(4 << 10)->Arg(4 << 20)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
