// Independent decodes for the image tests: ImageMagick for every format, djpeg for JPEG, identify's
// view of a file, and picture-difference measures.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"
#include "toolkit/image.h"

namespace quill::test {

inline bool haveImageMagick() {
    return haveTool("/usr/bin/convert") && haveTool("/usr/bin/identify");
}

/// Pixels of a reference decode, four bytes a pixel (red, green, blue, alpha).
struct ReferenceImage {
    int width = 0;
    int height = 0;
    std::string rgba;

    [[nodiscard]] const std::uint8_t* pixel(int x, int y) const {
        return reinterpret_cast<const std::uint8_t*>(rgba.data()) +
               (std::size_t(y) * std::size_t(width) + std::size_t(x)) * 4;
    }
};

/// One input of a batch decode: a file and the frame wanted.
struct ConvertInput {
    std::string path;
    int frame = 0;
};

/// Decodes many files with one ImageMagick run (its start-up dominates the cost of small files).
/// `options` apply to every image. Entry i is nullopt when ImageMagick cannot decode input i.
inline std::vector<std::optional<ReferenceImage>>
decodeManyWithConvert(const std::vector<ConvertInput>& inputs, const std::string& options = "") {
    std::vector<std::optional<ReferenceImage>> results(inputs.size());
    if (inputs.empty()) return results;
    TempDir dir;
    std::string command = "/usr/bin/convert";
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        command += " -label " + std::to_string(i) + " " +
                   shellQuote(inputs[i].path + "[" + std::to_string(inputs[i].frame) + "]");
    }
    command += " " + options +
               " -depth 8 -format '%l %w %h\\n' -write info:" + shellQuote(dir.file("sizes.txt")) +
               " +adjoin " + shellQuote("rgba:" + dir.path() + "out-%d.rgba") + " 2>/dev/null";
    runCommand(command);
    const auto text = readBytes(dir.file("sizes.txt"));
    std::istringstream sizes(std::string(text.begin(), text.end()));
    std::size_t label = 0;
    int width = 0, height = 0;
    for (int index = 0; sizes >> label >> width >> height; ++index) {
        if (label >= inputs.size() || width <= 0 || height <= 0) continue;
        const auto bytes = readBytes(dir.file("out-" + std::to_string(index) + ".rgba"));
        if (bytes.size() != std::size_t(width) * std::size_t(height) * 4) continue;
        results[label] = ReferenceImage{width, height, std::string(bytes.begin(), bytes.end())};
    }
    return results;
}

/// A JPEG as libjpeg-turbo's own djpeg decodes it; nullopt when it cannot.
inline std::optional<ReferenceImage> decodeWithDjpeg(const std::string& path) {
    TempDir dir;
    // Exit status 2 means warnings (corrupt data it decoded anyway): the output still counts.
    const std::string out = dir.file("out.pnm");
    const int status = runCommand("/usr/bin/djpeg -pnm -outfile " + shellQuote(out) + " " +
                                  shellQuote(path) + " 2>/dev/null");
    if (status != 0 && status != 2) return std::nullopt;
    return decodeManyWithConvert({{out}})[0];
}

/// Decodes the first frame of any file ImageMagick reads into a 24- or 32-bit image; empty on
/// failure.
inline toolkit::Image decodeWithImageMagick(const std::string& path, bool withAlpha) {
    const auto ref = decodeManyWithConvert({{path}})[0];
    if (!ref) return {};
    toolkit::Image image(ref->width, ref->height, toolkit::PixelFormat::Bgra32);
    for (int y = 0; y < ref->height; ++y)
        for (int x = 0; x < ref->width; ++x) {
            const std::uint8_t* r = ref->pixel(x, y);
            std::uint8_t* p = image.row(y) + 4 * x;
            p[0] = r[2], p[1] = r[1], p[2] = r[0], p[3] = r[3];
        }
    if (withAlpha) return image;
    return image.toBgr24();
}

/// identify's answer for a format string (first frame).
inline std::string identify(const std::string& path, const std::string& format) {
    std::string output;
    runCommand("/usr/bin/identify -format " + shellQuote(format) + " " + shellQuote(path) +
                   "'[0]' 2>/dev/null",
               &output);
    return output;
}

/// Peak signal-to-noise ratio over the colour channels (or all channels with `includeAlpha`).
inline double psnr(const toolkit::Image& a, const toolkit::Image& b, bool includeAlpha = false) {
    if (a.width() != b.width() || a.height() != b.height()) return 0;
    double sum = 0;
    std::size_t count = 0;
    const int channels = includeAlpha ? 4 : 3;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const std::uint8_t* p = a.row(y) + x * a.bytesPerPixel();
            const std::uint8_t* q = b.row(y) + x * b.bytesPerPixel();
            for (int c = 0; c < channels; ++c) {
                const double d = double(p[c]) - double(q[c]);
                sum += d * d;
                ++count;
            }
        }
    }
    if (sum == 0) return 99;
    return 10 * std::log10(255.0 * 255.0 / (sum / double(count)));
}

/// A decoded photograph from the shared test data (24-bit).
inline toolkit::Image photograph(const std::string& relative) {
    return decodeWithImageMagick(testdata(relative), false);
}

} // namespace quill::test
