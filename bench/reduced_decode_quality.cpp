// Quality and speed of resizing a JPEG from a decode reduced in the library's DCT against the
// same resize from the full decode. For each photograph, cut to sides that are no multiple of 8,
// each reduction 1/2, 1/4, 1/8 and each ratio of the reduced side to the resize's result:
// the PSNR of both results against an exact Mitchell-Netravali reduction of the full decode
// (double precision), and the time of decode + resize for both. One line per case:
//   reduction, ratio, full dB, reduced dB, difference, full ms, reduced ms.
// The ratio the product uses is the one from which every difference stays within 1 dB.
// Then, per result width, the reduction the product chooses (dctReductionMargin) against the
// one a margin of 1.5 chose: reduction, PSNR and time of each.
//   reduced_decode_quality PHOTO.jpg [PHOTO.jpg ...]
#include "exact_mitchell.h"
#include "imagefiles/image_loader.h"
#include "imagefiles/jpeg_encoder.h"
#include "pipeline/edit_chain.h"
#include "pipeline/resize.h"
#include "toolkit/image.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace quill;
using toolkit::Image;
using toolkit::PixelFormat;

using test::exactTaps;

/// The exact reduction of a 24-bit image, in double precision.
std::vector<double> exactReduce(const Image& in, int width, int height) {
    const auto across = exactTaps(in.width(), width), down = exactTaps(in.height(), height);
    std::vector<double> rows(std::size_t(width) * std::size_t(in.height()) * 3);
    for (int y = 0; y < in.height(); ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                double v = 0;
                for (const auto& [j, w] : across[std::size_t(x)])
                    v += w * in.row(y)[3 * j + c];
                rows[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3 + std::size_t(c)] =
                    v;
            }
    std::vector<double> out(std::size_t(width) * std::size_t(height) * 3);
    for (int y = 0; y < height; ++y)
        for (const auto& [j, w] : down[std::size_t(y)])
            for (std::size_t i = 0; i < std::size_t(width) * 3; ++i)
                out[std::size_t(y) * std::size_t(width) * 3 + i] +=
                    w * rows[std::size_t(j) * std::size_t(width) * 3 + i];
    return out;
}

double psnr(const std::vector<double>& exact, const Image& image) {
    if (image.format() != PixelFormat::Bgr24) return -1;
    double squared = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width() * 3; ++x) {
            const double d =
                std::clamp(exact[std::size_t(y) * std::size_t(image.width()) * 3 + std::size_t(x)],
                           0.0, 255.0) -
                image.row(y)[x];
            squared += d * d;
        }
    const double mse = squared / double(exact.size());
    return mse > 0 ? 10 * std::log10(255.0 * 255.0 / mse) : 99.0;
}

struct Result {
    Image image;
    double ms = 0;
};

/// Decode (reduced when `reduction` > 1) and resize to `targetWidth` wide, as a batch does.
Result decodeAndResize(const std::string& path, int width, int height, int reduction,
                       int targetWidth) {
    pipeline::EditPlan plan;
    plan.scale = pipeline::ScaleRequest{.axis = pipeline::ScaleAxis::WidthOnly,
                                        .targetX = float(targetWidth)};
    const pipeline::EditTools tools(plan);
    Result best;
    for (int repeat = 0; repeat < 3; ++repeat) {
        const auto start = std::chrono::steady_clock::now();
        Image image =
            reduction > 1
                ? imagefiles::loadImageFileReduced(path, imagefiles::FormatKind::Jpeg, reduction)
                : imagefiles::loadImageFile(path, imagefiles::FormatKind::Jpeg);
        std::optional<pipeline::ReducedFrom> from;
        if (reduction > 1) from = pipeline::ReducedFrom{width, height, reduction};
        (void)pipeline::applyEditChain(image, plan, tools, "", {}, from);
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        if (repeat == 0 || ms < best.ms) best.ms = ms;
        best.image = std::move(image);
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PHOTO.jpg [PHOTO.jpg ...]\n", argv[0]);
        return 2;
    }
    const double ratios[] = {1.5, 2.0, 3.0, 4.0, 5.0, 6.0, 8.0, 10.0, 12.0, 16.0};
    for (int a = 1; a < argc; ++a) {
        const Image photo = imagefiles::loadImageFile(argv[a], imagefiles::FormatKind::Jpeg);
        if (photo.empty()) {
            std::fprintf(stderr, "cannot read %s\n", argv[a]);
            return 1;
        }
        // Sides no multiple of 8, written at the encoder's best quality.
        int width = photo.width() - 5 - (photo.width() - 5) % 8 + 7 - 8;
        int height = photo.height() - 3 - (photo.height() - 3) % 8 + 5 - 8;
        if (std::getenv("QUILL_ALIGNED")) { // sides cut to whole blocks, for comparison
            width -= width % 8;
            height -= height % 8;
        }
        Image part(width, height, PixelFormat::Bgr24);
        for (int y = 0; y < height; ++y)
            std::memcpy(part.row(y), photo.row(y + 3) + 3 * 5, std::size_t(width) * 3);
        std::vector<std::uint8_t> bytes;
        if (!imagefiles::encodeJpeg(part.view(), 10, bytes)) return 1;
        const std::string path = "reduced_decode_quality.jpg";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        const Image full = imagefiles::loadImageFile(path, imagefiles::FormatKind::Jpeg);

        std::printf("%s cut to %d x %d\n", argv[a], width, height);
        std::printf("reduction  ratio  full dB  reduced dB  difference  full ms  reduced ms\n");
        for (const int reduction : {2, 4, 8}) {
            if (std::getenv("QUILL_CHOICES_ONLY")) break;
            const int reducedWidth = (width + reduction - 1) / reduction;
            for (const double ratio : ratios) {
                const int target = int(reducedWidth / ratio);
                if (target < 16) continue;
                Result viaFull = decodeAndResize(path, width, height, 1, target);
                Result viaReduced = decodeAndResize(path, width, height, reduction, target);
                const std::vector<double> exact =
                    exactReduce(full, viaFull.image.width(), viaFull.image.height());
                const double fullDb = psnr(exact, viaFull.image);
                const double reducedDb = viaReduced.image.width() == viaFull.image.width() &&
                                                 viaReduced.image.height() == viaFull.image.height()
                                             ? psnr(exact, viaReduced.image)
                                             : -1;
                std::printf("1/%d        %4.1f   %6.2f   %8.2f   %9.2f  %7.1f  %10.1f\n", reduction,
                            ratio, fullDb, reducedDb, reducedDb - fullDb, viaFull.ms,
                            viaReduced.ms);
                std::fflush(stdout);
            }
        }
        std::printf("result width  old 1/r  dB     ms     new 1/r  dB     ms\n");
        for (const int divisor : {2, 3, 4, 6, 8, 12, 16, 24, 32, 48, 64, 96}) {
            const int target = width / divisor;
            const pipeline::ScaleRequest request{.axis = pipeline::ScaleAxis::WidthOnly,
                                                 .targetX = float(target)};
            const auto size = pipeline::measureScale(request, width, height);
            int before = 1; // the strongest reduction that kept 1.5 times the result
            for (int r = 8; r > 1 && before == 1; r /= 2)
                if ((width + r - 1) / r >= 1.5 * size->width &&
                    (height + r - 1) / r >= 1.5 * size->height)
                    before = r;
            const int now = pipeline::largestDctReduction(width, height, request);
            Result oldWay = decodeAndResize(path, width, height, before, target);
            Result newWay = decodeAndResize(path, width, height, now, target);
            const std::vector<double> exact = exactReduce(full, size->width, size->height);
            std::printf("%5d         1/%d   %6.2f %6.1f   1/%d   %6.2f %6.1f\n", size->width,
                        before, psnr(exact, oldWay.image), oldWay.ms, now,
                        psnr(exact, newWay.image), newWay.ms);
            std::fflush(stdout);
        }
        std::remove(path.c_str());
    }
    return 0;
}
