// Benchmarks of the image operations on a 12-megapixel photograph: resize, tone, rotation,
// trim and canvas.
//
// The picture is the PPM named by QUILL_BENCH_IMAGE when set (bench/resize_vs_imagemagick.sh
// passes the same file to ImageMagick), otherwise a sample photograph decoded with libjpeg and
// enlarged to 4000 x 3000.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "imagefiles/image_loader.h"
#include "pipeline/canvas.h"
#include "pipeline/crop_trim.h"
#include "pipeline/detail/resize_kernel.h"
#include "pipeline/resize.h"
#include "pipeline/rotate.h"
#include "pipeline/tone.h"
#include "toolkit/image.h"

namespace {

using quill::toolkit::Image;
using quill::toolkit::PixelFormat;
namespace pl = quill::pipeline;

Image readPpm(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int w = 0, h = 0, maxval = 0;
    in >> magic >> w >> h >> maxval;
    in.get();
    if (!in || magic != "P6" || maxval != 255) return {};
    Image image(w, h, PixelFormat::Bgr24);
    if (image.empty()) return {};
    std::string row(std::size_t(w) * 3, '\0');
    for (int y = 0; y < h; ++y) {
        if (!in.read(row.data(), std::streamsize(row.size()))) return {};
        std::uint8_t* d = image.row(y);
        for (int x = 0; x < w; ++x) {
            d[x * 3 + 0] = std::uint8_t(row[std::size_t(x) * 3 + 2]);
            d[x * 3 + 1] = std::uint8_t(row[std::size_t(x) * 3 + 1]);
            d[x * 3 + 2] = std::uint8_t(row[std::size_t(x) * 3 + 0]);
        }
    }
    return image;
}

const Image& photo() {
    static const Image image = [] {
        if (const char* path = std::getenv("QUILL_BENCH_IMAGE")) {
            Image loaded = readPpm(path);
            if (!loaded.empty()) return loaded;
            std::fprintf(stderr, "cannot read %s\n", path);
            std::exit(1);
        }
        Image decoded = quill::imagefiles::loadImageFile(
            QUILL_TESTDATA_DIR "/exif/fullsize/jolla.jpg", quill::imagefiles::FormatKind::Jpeg);
        if (decoded.empty() || !pl::resizeImageSmooth(decoded, 4000, 3000)) {
            std::fprintf(stderr, "cannot prepare the benchmark photograph\n");
            std::exit(1);
        }
        return decoded;
    }();
    return image;
}

const Image& photo32() {
    static const Image image = photo().toBgra32();
    return image;
}

void setBytes(benchmark::State& state, const Image& image) {
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(image.sizeInBytes()));
    state.counters["megapixels"] = double(image.width()) * image.height() / 1e6;
}

void resizeTo(benchmark::State& state, const Image& source, int w, int h) {
    for (auto _ : state) {
        state.PauseTiming();
        Image image = source.clone();
        state.ResumeTiming();
        if (!pl::resizeImageSmooth(image, w, h)) state.SkipWithError("resize failed");
        benchmark::DoNotOptimize(image.data());
    }
    setBytes(state, source);
}

void BM_Resize24To1024x768(benchmark::State& state) {
    resizeTo(state, photo(), 1024, 768);
}
void BM_Resize32To1024x768(benchmark::State& state) {
    resizeTo(state, photo32(), 1024, 768);
}
void BM_Resize24Half(benchmark::State& state) {
    resizeTo(state, photo(), 2000, 1500);
}

/// The resampler's kernels side by side: 0 plain C++, 1 SSE2, 2 AVX2; 24- and 32-bit.
void BM_ResizeKernel(benchmark::State& state) {
    const auto kernel = pl::detail::ResizeKernel(state.range(0));
    const Image& source = state.range(1) ? photo32() : photo();
    for (auto _ : state) {
        state.PauseTiming();
        Image image = source.clone();
        state.ResumeTiming();
        if (!pl::detail::resizeImageSmoothWith(image, 1024, 768, kernel))
            state.SkipWithError("resize failed");
        benchmark::DoNotOptimize(image.data());
    }
    setBytes(state, source);
}

void BM_Tone(benchmark::State& state, pl::ToneKind kind, double value, bool alpha) {
    Image image = alpha ? photo32().clone() : photo().clone();
    const pl::ToneAdjustment adjustment(kind, value);
    for (auto _ : state)
        if (!adjustment.apply(image)) state.SkipWithError("tone failed");
    setBytes(state, image);
}

/// The adjust preset's four steps (brightness, saturation, contrast, gamma): one after the
/// other (0) or as one chain in one pass (1).
void BM_ToneSteps(benchmark::State& state) {
    Image image = photo().clone();
    const std::vector<pl::ToneAdjustment> tones{pl::ToneAdjustment(pl::ToneKind::Brightness, 0.1),
                                                pl::ToneAdjustment(pl::ToneKind::Saturation, 1.2),
                                                pl::ToneAdjustment(pl::ToneKind::Contrast, 0.1),
                                                pl::ToneAdjustment(pl::ToneKind::Gamma, 1.2)};
    const pl::ToneChain chain(tones, nullptr);
    for (auto _ : state) {
        if (state.range(0)) {
            if (!chain.apply(image)) state.SkipWithError("tone failed");
        } else {
            for (const auto& tone : tones)
                if (!tone.apply(image)) state.SkipWithError("tone failed");
        }
    }
    setBytes(state, image);
}

void BM_Offsets(benchmark::State& state) {
    Image image = photo().clone();
    const pl::ChannelOffsets offsets(20, -10, 5);
    for (auto _ : state)
        if (!offsets.apply(image)) state.SkipWithError("offsets failed");
    setBytes(state, image);
}

void BM_Rotate(benchmark::State& state) {
    const auto mode = pl::RotateMode(state.range(0));
    const Image& source = state.range(1) ? photo32() : photo();
    for (auto _ : state) {
        Image rotated = pl::rotateImage(source, mode);
        benchmark::DoNotOptimize(rotated.data());
    }
    setBytes(state, source);
}

void BM_AutoTrimPhoto(benchmark::State& state) {
    pl::TrimOptions options;
    options.colorTolerance = 0.10;
    options.outlierShare = 0.05;
    for (auto _ : state) {
        Image trimmed = pl::autoTrim(photo(), options);
        benchmark::DoNotOptimize(trimmed.data());
    }
    setBytes(state, photo());
}

/// The worst case for the trim: a uniform image, where every side scans every line.
void BM_AutoTrimUniform(benchmark::State& state) {
    Image uniform(4000, 3000, PixelFormat::Bgr24);
    std::memset(uniform.data(), 0xEE, uniform.sizeInBytes());
    pl::TrimOptions options;
    options.colorTolerance = 0.10;
    options.outlierShare = 0.05;
    for (auto _ : state) {
        Image trimmed = pl::autoTrim(uniform, options);
        benchmark::DoNotOptimize(trimmed.data());
    }
    setBytes(state, uniform);
}

void BM_Canvas(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        Image image = photo().clone();
        state.ResumeTiming();
        const pl::CanvasRequest request{
            .width = 4400, .height = 3400, .mode = pl::CanvasMode(state.range(0))};
        if (!pl::extendCanvas(image, request)) state.SkipWithError("canvas failed");
        benchmark::DoNotOptimize(image.data());
    }
    setBytes(state, photo());
}

/// Baseline: allocating and filling a fresh 12-megapixel result image, which every operation
/// that returns a new image pays (the kernel's page faults; costly on some virtual machines).
void BM_FreshImage(benchmark::State& state) {
    for (auto _ : state) {
        Image image(4000, 3000, PixelFormat::Bgr24);
        std::memset(image.data(), 1, image.sizeInBytes());
        benchmark::DoNotOptimize(image.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * 4000 * 3000 * 3);
}

BENCHMARK(BM_FreshImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Resize24To1024x768)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Resize32To1024x768)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Resize24Half)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ResizeKernel)->ArgsProduct({{0, 1, 2}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Tone, Brightness24, pl::ToneKind::Brightness, 0.2, false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Tone, Saturation24, pl::ToneKind::Saturation, 1.3, false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Tone, Contrast24, pl::ToneKind::Contrast, 0.2, false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Tone, Gamma24, pl::ToneKind::Gamma, 1.4, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Tone, Brightness32, pl::ToneKind::Brightness, 0.2, true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Tone, Saturation32, pl::ToneKind::Saturation, 1.3, true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Offsets)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ToneSteps)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
// Modes: 1 quarter turn clockwise, 2 half turn, 3 mirror, 5 transpose; 24- and 32-bit.
BENCHMARK(BM_Rotate)->ArgsProduct({{1, 2, 3, 5}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AutoTrimPhoto)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AutoTrimUniform)->Unit(benchmark::kMillisecond);
// Modes: 0 colour, 1 transparent (32-bit result), 2 edge extension.
BENCHMARK(BM_Canvas)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
