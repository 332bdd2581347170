// Independent decodes for the image tests: ImageMagick for every format, and identify's view of
// a file; and the JPEG segments a file of another format was made from.
#pragma once

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"
#include "toolkit/image.h"

namespace quill::test {

inline bool haveImageMagick() {
    return haveTool("/usr/bin/convert") && haveTool("/usr/bin/identify");
}

/// Decodes many files, each a (path, frame) pair, into 32-bit images with one ImageMagick run (its
/// start-up dominates the cost of small files). `options` apply to every image. Entry i is empty
/// when ImageMagick cannot decode input i.
inline std::vector<toolkit::Image>
decodeManyWithConvert(const std::vector<std::pair<std::string, int>>& inputs,
                      const std::string& options = "") {
    std::vector<toolkit::Image> results(inputs.size());
    TempDir dir;
    std::string command = "/usr/bin/convert";
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        command += " -label " + std::to_string(i) + " " +
                   shellQuote(inputs[i].first + "[" + std::to_string(inputs[i].second) + "]");
    }
    command += " " + options +
               " -depth 8 -format '%l %w %h\\n' -write info:" + shellQuote(dir.file("sizes.txt")) +
               " +adjoin " + shellQuote("rgba:" + dir.path() + "out-%d.rgba") + " 2>/dev/null";
    if (!inputs.empty()) runCommand(command);
    const auto text = readBytes(dir.file("sizes.txt"));
    std::istringstream sizes(std::string(text.begin(), text.end()));
    std::size_t label = 0;
    int width = 0, height = 0;
    for (int index = 0; sizes >> label >> width >> height; ++index) {
        const auto bytes = readBytes(dir.file("out-" + std::to_string(index) + ".rgba"));
        if (label >= inputs.size() || bytes.size() != std::size_t(width) * std::size_t(height) * 4)
            continue;
        toolkit::Image image(width, height, toolkit::PixelFormat::Bgra32);
        for (int y = 0; y < height && !image.empty(); ++y)
            for (int x = 0; x < width; ++x) {
                const std::uint8_t* rgba = bytes.data() + (std::size_t(y) * width + x) * 4;
                std::uint8_t* p = image.row(y) + 4 * x;
                p[0] = rgba[2], p[1] = rgba[1], p[2] = rgba[0], p[3] = rgba[3];
            }
        results[label] = std::move(image);
    }
    return results;
}

/// The first frame of any file ImageMagick reads, as a 24- or 32-bit image; empty on failure.
inline toolkit::Image decodeWithImageMagick(const std::string& path, bool withAlpha) {
    toolkit::Image image = std::move(decodeManyWithConvert({{path, 0}})[0]);
    return withAlpha || image.empty() ? std::move(image) : image.toBgr24();
}

/// identify's answer for a format string (first frame).
inline std::string identify(const std::string& path, const std::string& format) {
    std::string output;
    runCommand("/usr/bin/identify -format " + shellQuote(format) + " " + shellQuote(path) +
                   "'[0]' 2>/dev/null",
               &output);
    return output;
}

/// The payload of the first APPn segment (`marker`) of a JPEG file that starts with `tag`, without
/// the tag; empty when there is none.
inline std::vector<std::uint8_t> jpegSegment(const std::vector<std::uint8_t>& jpeg, int marker,
                                             const std::string& tag) {
    std::size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF) {
        const std::size_t length = std::size_t(jpeg[at + 2]) << 8 | jpeg[at + 3];
        const std::uint8_t* body = jpeg.data() + at + 4;
        if (jpeg[at + 1] == marker && length >= tag.size() + 2 &&
            std::memcmp(body, tag.data(), tag.size()) == 0)
            return {body + tag.size(), jpeg.data() + at + 2 + length};
        at += 2 + length;
    }
    return {};
}

} // namespace quill::test
