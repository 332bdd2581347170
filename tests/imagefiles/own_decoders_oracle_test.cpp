// The own GIF, ICO/CUR, PCX and PNM decoders against ImageMagick on third-party samples, and
// their behaviour on corrupt and truncated copies of those samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "imagefiles/gif_decoder.h"
#include "imagefiles/ico_decoder.h"
#include "imagefiles/pcx_decoder.h"
#include "imagefiles/pnm_decoder.h"
#include "test_support.h"

namespace quill::imagefiles {
namespace {

using Decoder = std::function<toolkit::Image(std::span<const std::uint8_t>)>;

const std::map<std::string, Decoder>& decoders() {
    static const std::map<std::string, Decoder> table = {
        {"gif", decodeGif}, {"ico", decodeIco}, {"pcx", decodePcx}, {"pnm", decodePnm}};
    return table;
}

std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.is_regular_file()) files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string fileName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

// The frame ImageMagick is asked for: icons list every directory entry as a frame, and the
// decoder takes the one with the most bytes (the earliest on a tie).
int frameIndexFor(const std::string& folder, const std::vector<std::uint8_t>& bytes) {
    if (folder != "ico" || bytes.size() < 6) return 0;
    const int count = bytes[4] | (bytes[5] << 8);
    int best = 0;
    std::uint32_t bestSize = 0;
    for (int i = 0; i < count && 6 + 16 * std::size_t(i) + 16 <= bytes.size(); ++i) {
        const std::uint8_t* e = bytes.data() + 6 + 16 * i + 8;
        const std::uint32_t size = e[0] | (e[1] << 8) | (e[2] << 16) | (std::uint32_t(e[3]) << 24);
        if (i == 0 || size > bestSize) {
            best = i;
            bestSize = size;
        }
    }
    return best;
}

struct Reference {
    int width = 0;
    int height = 0;
    std::string rgba;
};

struct Sample {
    std::string key; // folder/name
    std::string path;
    int frame = 0;
};

// Decodes every sample with ImageMagick, eight processes at a time, into `dir`; the results are
// read by `readReference`.
void runImageMagick(const std::vector<Sample>& samples, const test::TempDir& dir) {
    std::string script;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const std::string source =
            test::shellQuote(samples[i].path + "[" + std::to_string(samples[i].frame) + "]");
        const std::string out = dir.file(std::to_string(i));
        script += "/usr/bin/convert " + source +
                  " -depth 8 -format '%w %h' -write info:" + test::shellQuote(out + ".txt") +
                  " rgba:" + test::shellQuote(out + ".rgba") + " 2>/dev/null &\n";
        if (i % 8 == 7) script += "wait\n"; // at most 8 processes at a time
    }
    script += "wait\n";
    test::writeText(dir.file("run.sh"), script);
    test::runCommand("sh " + test::shellQuote(dir.file("run.sh")));
}

std::optional<Reference> readReference(const test::TempDir& dir, std::size_t index) {
    const std::string base = dir.file(std::to_string(index));
    if (!std::filesystem::exists(base + ".txt") || !std::filesystem::exists(base + ".rgba")) {
        return std::nullopt;
    }
    const auto size = test::readBytes(base + ".txt");
    Reference ref;
    std::istringstream(std::string(size.begin(), size.end())) >> ref.width >> ref.height;
    const auto pixels = test::readBytes(base + ".rgba");
    ref.rgba.assign(pixels.begin(), pixels.end());
    if (ref.rgba.size() != std::size_t(ref.width) * std::size_t(ref.height) * 4)
        return std::nullopt;
    return ref;
}

// Samples where our decoders deliberately differ from ImageMagick.
enum class Difference {
    None,
    NoImage,     // a variant the decoder refuses
    Inverted,    // 1-bit PCX: ImageMagick shows bit 1 black; we follow the format's bit 1 white
                 // (and a header palette that says so), as the files' own writers intended
    RoundedDown, // samples above 8 bits are scaled with integer division: within 1 level
    UnitTested,  // a deliberate rule checked by the decoder's own tests, not compared here
};

const std::map<std::string, Difference>& knownDifferences() {
    static const std::map<std::string, Difference> table = {
        {"gif/max-codes.gif", Difference::NoImage},  // minimum code size 11
        {"gif/no_palette.gif", Difference::NoImage}, // no colour table at all
        {"pnm/courB08.pbm", Difference::NoImage},    // a PNG file named .pbm
        {"pcx/CGA_FSD.pcx", Difference::NoImage},    // 2 bits per pixel
        {"pcx/ICONDOC.pcx", Difference::NoImage},    // 3 planes of 1 bit
        {"pcx/mono.pcx", Difference::Inverted},      // a printer chart: "100%" must be black
        {"pcx/pil184.pcx", Difference::Inverted},    // a signature: black ink on white
        {"pcx/mono-16x2.pcx", Difference::Inverted},
        {"pnm/hopper_16bit.pgm", Difference::RoundedDown},
        {"pnm/16_bit_binary.pgm", Difference::RoundedDown},
        {"pnm/p2_maxval4095.pnm", Difference::RoundedDown},
        {"pnm/raw-16bit.ppm", Difference::RoundedDown},
        {"gif/transparent-same-colour.gif", Difference::UnitTested},
        {"gif/transparent-local-table.gif", Difference::UnitTested},
        {"gif/transparent-trailing-comment.gif", Difference::UnitTested},
        {"gif/truncated-no-end-code.gif", Difference::UnitTested},
        {"gif/code-beyond-table.gif", Difference::UnitTested},
    };
    return table;
}

// Animations: their first frame is shown without the transparency ImageMagick gives it.
bool isAnimation(const std::string& key) {
    return key == "gif/chi.gif" || key == "gif/iss634.gif" || key == "gif/missing_background.gif" ||
           key == "gif/mixed-disposal.gif";
}

struct Tally {
    int files = 0;
    int identical = 0;
    int documented = 0;
};

TEST(OwnDecodersOracle, MatchImageMagickOnEverySample) {
    if (!test::haveTool("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick is not installed";
    std::vector<Sample> samples;
    for (const auto& [folder, decode] : decoders()) {
        std::vector<std::string> paths = filesIn(test::testdata(folder));
        for (auto& path : filesIn(test::fixture(folder)))
            paths.push_back(path);
        for (const auto& path : paths) {
            samples.push_back({folder + "/" + fileName(path), path,
                               frameIndexFor(folder, test::readBytes(path))});
        }
    }
    const test::TempDir dir;
    runImageMagick(samples, dir);

    Tally tally;
    for (std::size_t index = 0; index < samples.size(); ++index) {
        {
            const std::string& key = samples[index].key;
            const std::string folder = key.substr(0, key.find('/'));
            SCOPED_TRACE(key);
            ++tally.files;
            const toolkit::Image ours = decoders().at(folder)(test::readBytes(samples[index].path));
            const auto ref = readReference(dir, index);
            const auto known = knownDifferences().find(key);
            const Difference difference =
                known == knownDifferences().end() ? Difference::None : known->second;

            if (difference == Difference::NoImage) {
                EXPECT_TRUE(ours.empty());
                ++tally.documented;
                continue;
            }
            if (difference == Difference::UnitTested) {
                ++tally.documented;
                continue;
            }
            ASSERT_TRUE(ref.has_value()) << "ImageMagick cannot decode it";
            ASSERT_FALSE(ours.empty());
            ASSERT_EQ(ours.width(), ref->width);
            ASSERT_EQ(ours.height(), ref->height);

            // Still GIFs with a transparent colour give it alpha 0; animations stay opaque.
            const bool gif = folder == "gif";
            const bool icon = folder == "ico";
            const int tolerance = difference == Difference::RoundedDown ? 1 : 0;
            int mismatches = 0;
            int transparentDropped = 0;
            std::string firstMismatch;
            for (int y = 0; y < ours.height(); ++y) {
                const std::uint8_t* p = ours.row(y);
                for (int x = 0; x < ours.width(); ++x, p += ours.bytesPerPixel()) {
                    const auto* r = reinterpret_cast<const std::uint8_t*>(
                        ref->rgba.data() + 4 * (std::size_t(y) * ref->width + x));
                    const int alpha = ours.hasAlpha() ? p[3] : 255;
                    bool ok = true;
                    if (difference == Difference::Inverted) {
                        ok = p[0] == 255 - r[2] && p[1] == 255 - r[1] && p[2] == 255 - r[0];
                    } else if (r[3] == 0) {
                        // Masked icon pixels are black (or palette entry 0) unless the entry
                        // carries alpha; transparent GIF pixels keep their colour.
                        if (gif && alpha == 255) ++transparentDropped;
                        if (icon && ours.hasAlpha()) ok = alpha == 0;
                        if (gif && alpha == 0) ok = true;
                    } else {
                        ok = std::abs(p[2] - r[0]) <= tolerance &&
                             std::abs(p[1] - r[1]) <= tolerance &&
                             std::abs(p[0] - r[2]) <= tolerance && alpha == r[3];
                    }
                    if (!ok && mismatches++ == 0) {
                        firstMismatch = "at " + std::to_string(x) + "," + std::to_string(y);
                    }
                }
            }
            EXPECT_EQ(mismatches, 0) << "first " << firstMismatch;
            if (mismatches == 0) {
                (difference == Difference::None ? tally.identical : tally.documented) += 1;
            }
            if (!isAnimation(key)) {
                EXPECT_EQ(transparentDropped, 0);
            }
        }
    }
    std::printf("own decoders vs ImageMagick: %d files, %d identical, %d documented differences\n",
                tally.files, tally.identical, tally.documented);
}

// Cut points for truncated copies: inside the headers, inside the tables, and through the data.
std::vector<std::size_t> cutPoints(std::size_t size) {
    std::vector<std::size_t> cuts = {0, 1, 2, 6, 7, 13, 14, 20, 40, 60, 128, 300, 800};
    for (int eighth = 1; eighth < 8; ++eighth)
        cuts.push_back(size * std::size_t(eighth) / 8);
    cuts.push_back(size - 1);
    std::erase_if(cuts, [&](std::size_t cut) { return cut >= size; });
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    return cuts;
}

TEST(OwnDecodersRobustness, TruncatedCopiesGiveNoImageOrAPartialOne) {
    for (const auto& [folder, decode] : decoders()) {
        for (const auto& path : filesIn(test::testdata(folder))) {
            SCOPED_TRACE(folder + "/" + fileName(path));
            const auto bytes = test::readBytes(path);
            const toolkit::Image full = decode(bytes);
            for (const std::size_t cut : cutPoints(bytes.size())) {
                const std::vector<std::uint8_t> part(bytes.begin(), bytes.begin() + cut);
                const toolkit::Image image = decode(part);
                if (image.empty()) continue;
                // A partial image keeps the size that the file's header declares.
                ASSERT_FALSE(full.empty()) << "cut at " << cut;
                EXPECT_EQ(image.width(), full.width()) << "cut at " << cut;
                EXPECT_EQ(image.height(), full.height()) << "cut at " << cut;
            }
        }
    }
}

TEST(OwnDecodersRobustness, CorruptFilesAndOtherFormatsNeverCrashAnyDecoder) {
    std::vector<std::string> inputs = filesIn(test::testdata("corrupt"));
    for (const char* folder : {"gif", "ico", "pcx", "pnm"}) {
        for (auto& path : filesIn(test::fixture(folder)))
            inputs.push_back(path);
    }
    for (const auto& path : inputs) {
        SCOPED_TRACE(path);
        const auto bytes = test::readBytes(path);
        for (const auto& [folder, decode] : decoders()) {
            const toolkit::Image image = decode(bytes);
            if (image) {
                EXPECT_GT(image.width() * std::size_t(image.height()), 0u);
            }
        }
    }
}

} // namespace
} // namespace quill::imagefiles
