// Encoding speed and size: JPEG at 12 megapixels (compared with cjpeg by encode_vs_cjpeg.sh),
// the PNG compression level and filter trade-off, palette reduction and JPEG 2000.
//
// The test picture is a photograph from the shared test data, enlarged to the wanted size with
// a little noise added back, so that encoders see photographic detail rather than flat areas.
// `encode_bench --write-ppm=FILE` writes the 12-megapixel picture as a PPM for cjpeg and exits.
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "imagefiles/image_loader.h"
#include "imagefiles/image_saver.h"
#include "imagefiles/jp2_encoder.h"
#include "imagefiles/jpeg_encoder.h"
#include "imagefiles/png_encoder.h"
#include "imagefiles/quantizer.h"
#include "toolkit/image.h"

namespace {

using quill::toolkit::Image;
using quill::toolkit::PixelFormat;

// Bilinear enlargement plus mild noise.
Image photograph(int width, int height) {
    const Image source = quill::imagefiles::loadImageFile(
        QUILL_TESTDATA_DIR "/exif/nokia_n70_iptc.jpg", quill::imagefiles::FormatKind::Jpeg);
    Image image(width, height, PixelFormat::Bgr24);
    if (source.empty() || image.empty()) return {};
    std::mt19937 random(42);
    for (int y = 0; y < height; ++y) {
        const double sy = (y + 0.5) * source.height() / height - 0.5;
        const int y0 = std::max(0, int(sy));
        const int y1 = std::min(source.height() - 1, y0 + 1);
        const double fy = std::clamp(sy - y0, 0.0, 1.0);
        std::uint8_t* out = image.row(y);
        for (int x = 0; x < width; ++x) {
            const double sx = (x + 0.5) * source.width() / width - 0.5;
            const int x0 = std::max(0, int(sx));
            const int x1 = std::min(source.width() - 1, x0 + 1);
            const double fx = std::clamp(sx - x0, 0.0, 1.0);
            for (int c = 0; c < 3; ++c) {
                const double v =
                    (source.row(y0)[x0 * 3 + c] * (1 - fx) + source.row(y0)[x1 * 3 + c] * fx) *
                        (1 - fy) +
                    (source.row(y1)[x0 * 3 + c] * (1 - fx) + source.row(y1)[x1 * 3 + c] * fx) * fy;
                const int noise = int(random() % 7) - 3;
                out[x * 3 + c] = std::uint8_t(std::clamp(int(v + 0.5) + noise, 0, 255));
            }
        }
    }
    return image;
}

const Image& twelveMegapixels() {
    static const Image image = photograph(4000, 3000);
    return image;
}

const Image& threeMegapixels() {
    static const Image image = photograph(2000, 1500);
    return image;
}

void jpegEncode12MP(benchmark::State& state) {
    const Image& image = twelveMegapixels();
    std::vector<std::uint8_t> out;
    for (auto _ : state) {
        out.clear();
        if (!quill::imagefiles::encodeJpeg(image.view(), int(state.range(0)), out))
            state.SkipWithError("encode failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["bytes"] = double(out.size());
    state.counters["MP/s"] =
        benchmark::Counter(12.0, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(jpegEncode12MP)->Arg(8)->Arg(10)->Unit(benchmark::kMillisecond)->UseRealTime();

void jpegSaveFile12MP(benchmark::State& state) {
    const Image& image = twelveMegapixels();
    const std::string path = "/tmp/quill_encode_bench.jpg";
    for (auto _ : state) {
        if (!quill::imagefiles::saveImageFile(image, path, quill::imagefiles::Encoder::Jpeg,
                                              {.quality = 8}, 24))
            state.SkipWithError("save failed");
    }
    std::remove(path.c_str());
}
BENCHMARK(jpegSaveFile12MP)->Unit(benchmark::kMillisecond)->UseRealTime();

// Arguments: zlib level, filter (0 none, 1 adaptive, 2 Paeth).
void pngEncode3MP(benchmark::State& state) {
    const Image& image = threeMegapixels();
    quill::imagefiles::PngTuning tuning;
    tuning.zlibLevel = int(state.range(0));
    tuning.filters = state.range(1) == 0   ? quill::imagefiles::PngFilters::None
                     : state.range(1) == 1 ? quill::imagefiles::PngFilters::Adaptive
                                           : quill::imagefiles::PngFilters::Paeth;
    std::vector<std::uint8_t> out;
    for (auto _ : state) {
        out.clear();
        if (!quill::imagefiles::encodePng(image.view(), out, tuning))
            state.SkipWithError("encode failed");
    }
    state.counters["bytes"] = double(out.size());
}
BENCHMARK(pngEncode3MP)
    ->ArgsProduct({{1, 3, 6, 9}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void quantize256_12MP(benchmark::State& state) {
    const Image& image = twelveMegapixels();
    const auto dithering = state.range(0) ? quill::imagefiles::Dithering::FloydSteinberg
                                          : quill::imagefiles::Dithering::None;
    for (auto _ : state) {
        auto result = quill::imagefiles::quantizeImage(image.view(), 256, dithering);
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(quantize256_12MP)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void jp2Encode3MP(benchmark::State& state) {
    const Image& image = threeMegapixels();
    std::vector<std::uint8_t> out;
    for (auto _ : state) {
        out.clear();
        if (!quill::imagefiles::encodeJp2(image.view(), int(state.range(0)), out))
            state.SkipWithError("encode failed");
    }
    state.counters["bytes"] = double(out.size());
}
BENCHMARK(jp2Encode3MP)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

bool writePpm(const char* path) {
    const Image& image = twelveMegapixels();
    std::FILE* file = std::fopen(path, "wb");
    if (!file) return false;
    std::fprintf(file, "P6\n%d %d\n255\n", image.width(), image.height());
    std::vector<std::uint8_t> row(std::size_t(image.width()) * 3);
    for (int y = 0; y < image.height(); ++y) {
        const std::uint8_t* p = image.row(y);
        for (int x = 0; x < image.width(); ++x) {
            row[std::size_t(x) * 3] = p[x * 3 + 2];
            row[std::size_t(x) * 3 + 1] = p[x * 3 + 1];
            row[std::size_t(x) * 3 + 2] = p[x * 3];
        }
        std::fwrite(row.data(), 1, row.size(), file);
    }
    return std::fclose(file) == 0;
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--write-ppm=", 12) == 0) return writePpm(argv[i] + 12) ? 0 : 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
