// Reference decodes for the loader tests: ImageMagick for every format, djpeg for JPEG.
#pragma once

#include <cctype>
#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace quill::test {

inline std::string readText(const std::string& path) {
    const auto bytes = readBytes(path);
    return std::string(bytes.begin(), bytes.end());
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

/// Frame `frame` of a file as ImageMagick decodes it; nullopt when it cannot. `options` go
/// between the input and the output (e.g. "-auto-orient").
inline std::optional<ReferenceImage> decodeWithConvert(const std::string& path, int frame = 0,
                                                       const std::string& options = "") {
    std::string output;
    const std::string source = shellQuote(path + "[" + std::to_string(frame) + "]");
    const int status = runCommand("/usr/bin/convert " + source + " " + options +
                                      " -depth 8 -format '%w %h\\n' -write info:- rgba:- "
                                      "2>/dev/null",
                                  &output);
    const auto newline = output.find('\n');
    if (status != 0 || newline == std::string::npos) return std::nullopt;
    ReferenceImage ref;
    std::istringstream(output.substr(0, newline)) >> ref.width >> ref.height;
    ref.rgba = output.substr(newline + 1);
    if (ref.width <= 0 || ref.height <= 0 ||
        ref.rgba.size() != std::size_t(ref.width) * std::size_t(ref.height) * 4) {
        return std::nullopt;
    }
    return ref;
}

/// One input of a batch decode: a file and the frame wanted.
struct ConvertInput {
    std::string path;
    int frame = 0;
};

/// Decodes many files with one ImageMagick run (its start-up dominates the cost of small files).
/// `options` apply to every image. Entry i is nullopt when ImageMagick cannot decode input i.
inline std::vector<std::optional<ReferenceImage>> decodeManyWithConvert(
    const std::vector<ConvertInput>& inputs, const std::string& options = "") {
    std::vector<std::optional<ReferenceImage>> results(inputs.size());
    if (inputs.empty()) return results;
    TempDir dir;
    std::string command = "/usr/bin/convert";
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        command += " -label " + std::to_string(i) + " " +
                   shellQuote(inputs[i].path + "[" + std::to_string(inputs[i].frame) + "]");
    }
    command += " " + options + " -depth 8 -format '%l %w %h\\n' -write info:" +
               shellQuote(dir.file("sizes.txt")) + " +adjoin " +
               shellQuote("rgba:" + dir.path() + "out-%d.rgba") + " 2>/dev/null";
    runCommand(command);
    std::istringstream sizes(readText(dir.file("sizes.txt")));
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

/// A JPEG as libjpeg-turbo's own djpeg decodes it (PPM or PGM output); nullopt when it cannot.
inline std::optional<ReferenceImage> decodeWithDjpeg(const std::string& path) {
    std::string out;
    // Exit status 2 means warnings (corrupt data it decoded anyway): the output still counts.
    const int status = runCommand("/usr/bin/djpeg -pnm " + shellQuote(path) + " 2>/dev/null", &out);
    if (status != 0 && status != 2) return std::nullopt;
    // Header: "P5" or "P6", width, height, maxval, one whitespace byte.
    std::size_t pos = 0;
    std::string fields[4];
    for (auto& field : fields) {
        while (pos < out.size() && std::isspace(static_cast<unsigned char>(out[pos]))) ++pos;
        while (pos < out.size() && !std::isspace(static_cast<unsigned char>(out[pos]))) {
            field += out[pos++];
        }
    }
    ++pos;
    if (fields[0] != "P5" && fields[0] != "P6") return std::nullopt;
    ReferenceImage ref;
    ref.width = std::stoi(fields[1]);
    ref.height = std::stoi(fields[2]);
    const std::size_t channels = fields[0] == "P6" ? 3 : 1;
    const std::size_t count = std::size_t(ref.width) * std::size_t(ref.height);
    if (out.size() < pos + count * channels) return std::nullopt;
    ref.rgba.resize(count * 4);
    for (std::size_t i = 0; i < count; ++i) {
        const char* s = out.data() + pos + i * channels;
        ref.rgba[4 * i] = s[0];
        ref.rgba[4 * i + 1] = s[channels == 3 ? 1 : 0];
        ref.rgba[4 * i + 2] = s[channels == 3 ? 2 : 0];
        ref.rgba[4 * i + 3] = char(255);
    }
    return ref;
}

} // namespace quill::test
