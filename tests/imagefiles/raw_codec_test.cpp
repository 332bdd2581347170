// The camera RAW decoder on DNG files of known colour patches (made by tools/make_test_dng.py):
// the developed colours, the camera's white balance, the flip, the half-size path, agreement with
// LibRaw's own dcraw_emu, the metadata blocks, and refusal of broken or oversized files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "imagefiles/pnm_decoder.h"
#include "imagefiles/raw_codec.h"
#include "test_support.h"

namespace quill::imagefiles {
namespace {

using Bytes = std::vector<std::uint8_t>;
using toolkit::Image;
using toolkit::PixelFormat;

Bytes rawFixture(const std::string& name) {
    return test::readBytes(test::fixture("raw/" + name));
}

struct Rgb {
    int r, g, b;
};

Rgb pixelAt(const Image& image, int x, int y) {
    const std::uint8_t* p = image.row(y) + std::size_t(x) * 3;
    return {p[2], p[1], p[0]};
}

/// The centre of patch (column, row) of the 3 x 2 grid in a 128 x 96 picture as stored.
Rgb patch(const Image& image, int column, int row) {
    return pixelAt(image, image.width() * (2 * column + 1) / 6, image.height() * (2 * row + 1) / 4);
}

bool neutral(Rgb c, int tolerance) {
    return std::abs(c.r - c.g) <= tolerance && std::abs(c.b - c.g) <= tolerance;
}

std::string show(Rgb c) {
    return "(" + std::to_string(c.r) + ", " + std::to_string(c.g) + ", " + std::to_string(c.b) +
           ")";
}

/// `image` turned a quarter turn clockwise.
Image turnedClockwise(const Image& image) {
    Image out(image.height(), image.width(), PixelFormat::Bgr24);
    for (int y = 0; y < out.height(); ++y)
        for (int x = 0; x < out.width(); ++x)
            std::memcpy(out.row(y) + 3 * x, image.row(image.height() - 1 - x) + 3 * y, 3);
    return out;
}

TEST(RawCodec, RecognisesTheRawFamilySignatures) {
    const auto head = [](const char* text, std::size_t length) {
        return Bytes(text, text + length);
    };
    const struct {
        Bytes head;
        bool raw;
        const char* what;
    } cases[] = {
        {head("II*\0\x08\0\0\0", 8), true, "little-endian TIFF (DNG, CR2, NEF, ARW, PEF, SRW)"},
        {head("MM\0*\0\0\0\x08", 8), true, "big-endian TIFF"},
        {head("IIRO\x08\0\0\0", 8), true, "ORF"},
        {head("IIRS\x08\0\0\0", 8), true, "ORF, other variant"},
        {head("MMOR\0\0\0\x08", 8), true, "big-endian ORF"},
        {head("IIU\0\x18\0\0\0", 8), true, "RW2"},
        {head("FUJIFILMCCD-RAW 0201", 20), true, "RAF"},
        {head("\0\0\0\x18"
              "ftypcrx \0\0\0\x01",
              16),
         true, "CR3"},
        {head("\0\0\0\x18"
              "ftypheic\0\0\0\0",
              16),
         false, "another ISO media brand"},
        {head("FUJIFILMCCD", 11), false, "RAF signature cut short"},
        {head("II*", 3), false, "TIFF mark cut short"},
        {head("\x89PNG\r\n\x1a\n", 8), false, "PNG"},
        {head("\xff\xd8\xff\xe0", 4), false, "JPEG"},
        {Bytes{}, false, "nothing"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(looksLikeRaw(c.head), c.raw);
    }
    EXPECT_TRUE(looksLikeRaw(rawFixture("patches.dng")));
}

// The camera sees a neutral surface as red 0.5, green 1, blue 0.7 (its AsShotNeutral): only the
// camera's white balance turns the grey patches neutral again.
TEST(RawCodec, DevelopsKnownColoursWithTheCamerasWhiteBalance) {
    const Bytes bytes = rawFixture("patches.dng");
    const DeclaredSize declared = rawDeclaredSize(bytes);
    EXPECT_EQ(declared.width, 128);
    EXPECT_EQ(declared.height, 96);
    const Image image = decodeRaw(bytes, {});
    ASSERT_FALSE(image.empty());
    EXPECT_EQ(image.format(), PixelFormat::Bgr24);
    EXPECT_EQ(image.width(), 128);
    EXPECT_EQ(image.height(), 96);

    const Rgb grey = patch(image, 0, 0), red = patch(image, 1, 0), green = patch(image, 2, 0);
    const Rgb blue = patch(image, 0, 1), white = patch(image, 1, 1), dark = patch(image, 2, 1);
    SCOPED_TRACE("grey " + show(grey) + " red " + show(red) + " green " + show(green) + " blue " +
                 show(blue) + " white " + show(white) + " dark " + show(dark));
    EXPECT_TRUE(neutral(grey, 3));
    EXPECT_TRUE(neutral(dark, 3));
    EXPECT_TRUE(neutral(white, 3));
    // 18 % grey comes out in the middle of the range, white at the top, dark grey near black.
    EXPECT_NEAR(grey.g, 104, 12);
    EXPECT_GE(white.g, 250);
    EXPECT_LT(dark.g, grey.g / 2);
    EXPECT_GT(red.r, 2 * red.g);
    EXPECT_GT(red.r, 2 * red.b);
    EXPECT_GT(green.g, 2 * green.r);
    EXPECT_GT(green.g, 2 * green.b);
    EXPECT_GT(blue.b, 2 * blue.r);
    EXPECT_GT(blue.b, 2 * blue.g);

    // Several workers decode at once: each call has a LibRaw of its own.
    std::vector<Image> results(4);
    std::vector<std::thread> workers;
    for (Image& result : results)
        workers.emplace_back([&result, &bytes] { result = decodeRaw(bytes, {}); });
    for (std::thread& worker : workers)
        worker.join();
    for (const Image& result : results)
        EXPECT_TRUE(test::samePixels(result, image));
}

// A file without AsShotNeutral, of tinted grey patches only, is balanced from its own pixels.
TEST(RawCodec, FileWithoutCameraWhiteBalanceIsBalancedAutomatically) {
    const Image image = decodeRaw(rawFixture("grey-no-neutral.dng"), {});
    ASSERT_FALSE(image.empty());
    for (int row = 0; row < 2; ++row)
        for (int column = 0; column < 3; ++column) {
            const Rgb c = patch(image, column, row);
            EXPECT_TRUE(neutral(c, 4)) << "patch " << column << "," << row << " " << show(c);
        }
}

// Orientation 6: the decoder turns the picture a quarter clockwise, so sides swap, and the
// declared size says so before decoding.
TEST(RawCodec, TurnsThePictureUprightAtFullAndHalfSize) {
    const Bytes plainBytes = rawFixture("patches.dng");
    const Bytes turnedBytes = rawFixture("patches-orientation6.dng");
    const DeclaredSize declared = rawDeclaredSize(turnedBytes);
    EXPECT_EQ(declared.width, 96);
    EXPECT_EQ(declared.height, 128);

    for (const int reduction : {1, 2, 4}) {
        SCOPED_TRACE("reduction " + std::to_string(reduction));
        const int factor = reduction == 1 ? 1 : 2; // LibRaw halves at most
        const Image plain = decodeRaw(plainBytes, {reduction});
        const Image turned = decodeRaw(turnedBytes, {reduction});
        ASSERT_FALSE(plain.empty());
        ASSERT_FALSE(turned.empty());
        EXPECT_EQ(plain.width(), 128 / factor);
        EXPECT_EQ(plain.height(), 96 / factor);
        EXPECT_EQ(turned.width(), 96 / factor);
        EXPECT_EQ(turned.height(), 128 / factor);
        EXPECT_TRUE(test::samePixels(turned, turnedClockwise(plain)));
        // The half-size picture keeps its colours: grey neutral, red red.
        const Rgb grey = patch(plain, 0, 0), red = patch(plain, 1, 0);
        EXPECT_TRUE(neutral(grey, 3)) << show(grey);
        EXPECT_GT(red.r, 2 * red.g) << show(red);
    }
    // The declared size is the full size whatever reduction a decode may use.
    EXPECT_EQ(rawDeclaredSize(plainBytes).width, 128);
}

// LibRaw's own tool with the same settings (camera white balance, sRGB, default gamma, 8 bits).
TEST(RawCodec, MatchesDcrawEmuWithTheSameSettings) {
    if (!test::haveTool("/usr/bin/dcraw_emu")) QUILL_SKIP_WITHOUT_TOOL();
    test::TempDir dir;
    for (const char* name : {"patches.dng", "patches-orientation6.dng", "grey-no-neutral.dng"})
        for (const bool half : {false, true}) {
            SCOPED_TRACE(std::string(name) + (half ? " at half size" : ""));
            const std::string out = dir.file("out.ppm");
            // No camera white balance in the file: the tool is asked for the automatic one.
            const std::string balance = std::string(name) == "grey-no-neutral.dng" ? "-a" : "-w";
            ASSERT_EQ(test::runCommand("/usr/bin/dcraw_emu " + balance + " -o 1 " +
                                       (half ? "-h " : "") + "-Z " + test::shellQuote(out) + " " +
                                       test::shellQuote(test::fixture(std::string("raw/") + name)) +
                                       " >/dev/null 2>&1"),
                      0);
            const Image reference = decodePnm(test::readBytes(out));
            const Image ours = decodeRaw(rawFixture(name), {half ? 2 : 1});
            ASSERT_FALSE(reference.empty());
            EXPECT_GE(test::psnr(ours, reference), 45.0);
        }
}

TEST(RawCodec, MetadataIsTheFilesOwnTiffStructure) {
    const Bytes bytes = rawFixture("patches.dng");
    const FileMetadata metadata = readRawMetadata(bytes);
    EXPECT_EQ(metadata.exif, bytes);
    const std::string xmp(metadata.xmp.begin(), metadata.xmp.end());
    EXPECT_EQ(xmp.rfind("<?xpacket begin=", 0), 0u) << xmp;
    EXPECT_NE(xmp.find("xmp:Rating=\"3\""), std::string::npos);
    EXPECT_NE(xmp.find("<?xpacket end=\"w\"?>"), std::string::npos);
    EXPECT_TRUE(metadata.icc.empty()) << "the developed pixels are sRGB";

    // ORF and RW2 carry the same structure under their own magic number; EXIF readers get 42.
    for (const char* magic : {"IIRO", "IIRS", "IIU\0"}) {
        Bytes own = bytes;
        std::memcpy(own.data(), magic, 4);
        const FileMetadata m = readRawMetadata(own);
        EXPECT_EQ(m.exif, bytes) << magic;
        EXPECT_EQ(m.xmp, metadata.xmp) << magic;
    }

    const auto empty = [](const FileMetadata& m) {
        return m.exif.empty() && m.xmp.empty() && m.icc.empty();
    };
    Bytes firstIfdOutside = bytes;
    firstIfdOutside[5] = 0xFF; // IFD0 at 0xFF08
    EXPECT_TRUE(empty(readRawMetadata(firstIfdOutside)));
    EXPECT_TRUE(empty(readRawMetadata(Bytes(bytes.begin(), bytes.begin() + 6))));
    const std::string raf = "FUJIFILMCCD-RAW 0201FF383501";
    EXPECT_TRUE(empty(readRawMetadata(Bytes(raf.begin(), raf.end())))) << "RAF gives none";
    // An XMP entry whose bytes run past the end of the file is dropped, the EXIF block kept.
    Bytes cut(bytes.begin(), bytes.begin() + 400);
    const FileMetadata m = readRawMetadata(cut);
    EXPECT_EQ(m.exif.size(), 400u);
    EXPECT_TRUE(m.xmp.empty());
}

/// The file with the value of its IFD0 entry `tag` (type LONG, one value) replaced.
Bytes withLongTag(Bytes bytes, std::uint16_t tag, std::uint32_t value) {
    const std::uint16_t count = std::uint16_t(bytes[8] | bytes[9] << 8);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t* entry = bytes.data() + 10 + 12 * i;
        if ((entry[0] | entry[1] << 8) != tag) continue;
        for (int b = 0; b < 4; ++b)
            entry[8 + b] = std::uint8_t(value >> (8 * b));
        return bytes;
    }
    ADD_FAILURE() << "no tag " << tag;
    return bytes;
}

TEST(RawCodec, RefusesBrokenAndOversizedFiles) {
    const Bytes bytes = rawFixture("patches.dng");
    const auto refused = [](const Bytes& b) {
        const DeclaredSize declared = rawDeclaredSize(b);
        return decodeRaw(b, {}).empty() && decodeRaw(b, {2}).empty() && declared.width == 0 &&
               declared.height == 0;
    };
    EXPECT_TRUE(refused(Bytes{}));
    EXPECT_TRUE(refused(Bytes(bytes.begin(), bytes.begin() + 8)));
    const std::string text = "not a picture at all, but long enough to be looked at";
    EXPECT_TRUE(refused(Bytes(text.begin(), text.end())));
    // A crafted Hasselblad model name that overruns LibRaw's model buffer (found by fuzzing).
    EXPECT_TRUE(refused(rawFixture("bad-hasselblad-model.dng")));
    // Sensor data cut short is an error, not a picture with a black part.
    const Bytes cut(bytes.begin(), bytes.end() - 4000);
    EXPECT_TRUE(decodeRaw(cut, {}).empty());

    // A header claiming a 60000 x 60000 sensor is refused before anything is unpacked.
    const Bytes huge = withLongTag(withLongTag(bytes, 256, 60000), 257, 60000);
    EXPECT_TRUE(decodeRaw(huge, {}).empty());
    EXPECT_TRUE(decodeRaw(huge, {2}).empty());
    // Sides that fit the sensor cap but sensor data far too short for them.
    const Bytes tall = withLongTag(bytes, 257, 4000);
    EXPECT_TRUE(decodeRaw(tall, {}).empty());
}

} // namespace
} // namespace quill::imagefiles
