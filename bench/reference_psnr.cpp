// Quality guard of the resize benchmark: for each pair SOURCE OUTPUT, decodes the JPEG source at
// full resolution, reduces it to the output's size with an exact Mitchell-Netravali filter
// (B = C = 1/3) in double precision, decodes the output (PNG, so that no encoder loss hides the
// resampler's) and prints the PSNR over the colour channels; the last line gives the minimum.
// Written apart from the product's resampler and decoders (libjpeg and libpng directly, no fixed
// point, no intermediate rounding) so that it can judge them.
//   reference_psnr SOURCE.jpg OUTPUT.png [SOURCE.jpg OUTPUT.png ...]
#include "exact_mitchell.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include <jpeglib.h>
#include <png.h>

namespace {

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb; // 3 bytes a pixel, top row first
};

bool decode(const char* path, Picture& picture) {
    FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err); // a broken file ends the benchmark: acceptable here
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    picture.width = int(cinfo.output_width);
    picture.height = int(cinfo.output_height);
    picture.rgb.resize(std::size_t(picture.width) * std::size_t(picture.height) * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = picture.rgb.data() + std::size_t(cinfo.output_scanline) * picture.width * 3;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
    return true;
}

bool decodePng(const char* path, Picture& picture) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path)) return false;
    image.format = PNG_FORMAT_RGB;
    picture.width = int(image.width);
    picture.height = int(image.height);
    picture.rgb.resize(PNG_IMAGE_SIZE(image));
    return png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr) != 0;
}

/// For each destination index, the source indices and normalised weights of a reduction from
/// `src` to `dst` samples (pixel centres aligned, filter widened by the reduction factor,
/// weights past the edges left out and the rest renormalised).
struct Taps {
    std::vector<int> first;
    std::vector<std::vector<double>> weights;
};

Taps taps(int src, int dst) {
    Taps t;
    for (const auto& row : quill::test::exactTaps(src, dst)) {
        t.first.push_back(row.front().first);
        std::vector<double> weights;
        for (const auto& tap : row)
            weights.push_back(tap.second);
        t.weights.push_back(std::move(weights));
    }
    return t;
}

/// The exact reduction, kept in double precision until the PSNR.
std::vector<double> reduce(const Picture& in, int width, int height) {
    const Taps across = taps(in.width, width), down = taps(in.height, height);
    std::vector<double> rows(std::size_t(width) * in.height * 3);
    for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                double v = 0;
                const auto& w = across.weights[std::size_t(x)];
                for (std::size_t k = 0; k < w.size(); ++k)
                    v += w[k] * in.rgb[(std::size_t(y) * in.width + across.first[x] + k) * 3 + c];
                rows[(std::size_t(y) * width + x) * 3 + c] = v;
            }
    std::vector<double> out(std::size_t(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        const auto& w = down.weights[std::size_t(y)];
        for (std::size_t k = 0; k < w.size(); ++k) {
            const double* src = &rows[std::size_t(down.first[y] + int(k)) * width * 3];
            double* dst = &out[std::size_t(y) * width * 3];
            for (int i = 0; i < width * 3; ++i)
                dst[i] += w[k] * src[i];
        }
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc % 2 == 0) {
        std::fprintf(stderr, "usage: %s SOURCE OUTPUT [SOURCE OUTPUT ...]\n", argv[0]);
        return 2;
    }
    double minimum = INFINITY;
    for (int i = 1; i + 1 < argc; i += 2) {
        Picture source, output;
        if (!decode(argv[i], source) || !decodePng(argv[i + 1], output)) {
            std::fprintf(stderr, "cannot read %s or %s\n", argv[i], argv[i + 1]);
            return 1;
        }
        const std::vector<double> exact = reduce(source, output.width, output.height);
        double squared = 0;
        for (std::size_t k = 0; k < exact.size(); ++k) {
            const double d = std::clamp(exact[k], 0.0, 255.0) - output.rgb[k];
            squared += d * d;
        }
        const double mse = squared / double(exact.size());
        const double psnr = mse > 0 ? 10 * std::log10(255.0 * 255.0 / mse) : 99.0;
        std::printf("%s: %.2f dB\n", argv[i + 1], psnr);
        minimum = std::min(minimum, psnr);
    }
    std::printf("minimum %.2f dB\n", minimum);
    return 0;
}
