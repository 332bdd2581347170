// The loader against independent decoders on every third-party sample and every fixture image:
// ImageMagick (which decodes JPEG through the same library with the same settings), and
// identify's sizes for the size reader. Deliberate differences are listed in one table with their
// reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "image_oracle.h"
#include "imagefiles/format.h"
#include "imagefiles/image_loader.h"
#include "test_support.h"

namespace quill::imagefiles {
namespace {

enum class Check {
    Exact,      ///< identical to ImageMagick, alpha included
    Within,     ///< every channel within `tolerance` of ImageMagick
    ColourOnly, ///< colours identical, alpha deliberately different
    Unmasked,   ///< pixels ImageMagick shows transparent are free in colour, the rest identical
    Inverted,   ///< colours are ImageMagick's inverted
    SizeOnly,   ///< both decode it at the same size, pixels deliberately different
    OursOnly,   ///< we decode it, ImageMagick does not (a documented decision)
    NotDecoded, ///< we do not decode it (a documented decision or limit)
};

struct Expectation {
    Check check = Check::Exact;
    int tolerance = 0;
    const char* reason = "";
};

// How a file is compared: by name from the table of deliberate differences, else by format.
Expectation expectationFor(const std::string& relative) {
    constexpr auto grey16 = "16-bit greyscale TGA is grey plus alpha; ImageMagick reads colour";
    constexpr auto firstFrame = "animations show their first frame without transparency";
    constexpr auto mono = "1-bit PCX: bit 1 is white as its writer meant; ImageMagick inverts";
    static const std::map<std::string, Expectation> table = {
        {"png/1_trns.png", {Check::ColourOnly, 0, "ImageMagick drops an out-of-depth tRNS grey"}},
        {"bmp/pal2.bmp", {Check::OursOnly, 0, "2-bit palette bitmaps are read"}},
        {"bmp/rgb24jpeg.bmp", {Check::OursOnly, 0, "JPEG data inside a bitmap is read"}},
        {"bmp/rgb24png.bmp", {Check::OursOnly, 0, "PNG data inside a bitmap is read"}},
        {"bmp/rgb24rle24.bmp", {Check::OursOnly, 0, "OS/2 RLE24 is read"}},
        // 4-bit fields widen by bit repetition; ImageMagick shifts them.
        {"bmp/rgba16-4444.bmp", {Check::Within, 15, "4-bit fields widened"}},
        {"tga/la.tga", {Check::SizeOnly, 0, grey16}},
        {"tga/200x32_la_bl_raw.tga", {Check::SizeOnly, 0, grey16}},
        {"tiff/pil136.tiff", {Check::Within, 1, "associated alpha is divided out with rounding"}},
        {"tiff/tiff_16bit_RGB.tiff", {Check::Within, 1, "16-bit samples rounded differently"}},
        {"tiff/tiff_strip_cmyk_jpeg.tif", {Check::Within, 1, "CMYK to RGB rounded differently"}},
        {"tiff/12bit.cropped.tif", {Check::Within, 1, "12-bit samples scaled with exact rounding"}},
        // The fourth CMYK component is black ink; ImageMagick takes it for alpha.
        {"jp2/testcard_cmyk.jp2", {Check::SizeOnly, 0, "fourth component is ink"}},
        // The program's own decoders behave as their descriptions require.
        {"gif/no_palette.gif", {Check::NotDecoded, 0, "a GIF without colour table fails"}},
        {"gif/max-codes.gif", {Check::NotDecoded, 0, "an LZW minimum code size above 8 fails"}},
        {"gif/missing_background.gif", {Check::ColourOnly, 0, firstFrame}},
        {"gif/mixed-disposal.gif", {Check::ColourOnly, 0, firstFrame}},
        {"pcx/pil184.pcx", {Check::Inverted, 0, mono}}, // a signature: black ink on white
        {"pcx/mono.pcx", {Check::Inverted, 0, mono}},   // a printer chart: "100%" must be black
        {"fixtures/pcx/mono-16x2.pcx", {Check::Inverted, 0, mono}},
        {"pcx/CGA_FSD.pcx", {Check::NotDecoded, 0, "2-bit PCX is refused"}},
        {"pcx/ICONDOC.pcx", {Check::NotDecoded, 0, "3-plane 1-bit PCX is refused"}},
        // PNG content named .pbm goes to the PNM decoder by its extension.
        {"pnm/courB08.pbm", {Check::NotDecoded, 0, "PNG content named .pbm"}},
        // A first code beyond the table after a clear reads as index 0; the transparent colour
        // is looked up in the global table, every pixel of it becomes transparent, and more than
        // 50 bytes after the image clear the transparency (own_decoders_test.cpp checks them).
        {"fixtures/gif/code-beyond-table.gif", {Check::SizeOnly, 0, "code beyond the table"}},
        {"fixtures/gif/transparent-local-table.gif", {Check::ColourOnly, 0, "global colour"}},
        {"fixtures/gif/transparent-same-colour.gif", {Check::ColourOnly, 0, "colour, not index"}},
        {"fixtures/gif/transparent-trailing-comment.gif", {Check::ColourOnly, 0, "trailing bytes"}},
    };
    if (const auto found = table.find(relative); found != table.end()) return found->second;
    const auto kind = detectFormatByExtension(relative, Videos::Excluded);
    if (kind == FormatKind::Jpeg2000 || (kind == FormatKind::Png && relative.ends_with("16.png")))
        return {Check::Within, 1, "wavelets and 16-bit samples are rounded differently"};
    if (kind == FormatKind::Ico)
        return {Check::Unmasked, 0, "masked pixels become black unless the entry has alpha"};
    return {};
}

struct Sample {
    std::string relative; // below the testdata folder, or "fixtures/..." for our own
    std::string path;
    int manifestWidth = 0;
    int manifestHeight = 0;
};

std::vector<Sample> samples() {
    std::vector<Sample> list;
    std::ifstream manifest(test::testdata("MANIFEST.tsv"));
    std::string line;
    std::getline(manifest, line);
    while (std::getline(manifest, line)) {
        std::istringstream fields(line);
        Sample s;
        std::string format;
        std::getline(fields, s.relative, '\t');
        std::getline(fields, format, '\t');
        fields >> s.manifestWidth >> s.manifestHeight;
        // Multi-megapixel camera files add nothing a small JPEG does not test but seconds of
        // run time; the benchmark covers large JPEGs.
        if (s.relative.starts_with("corrupt/") || s.relative.starts_with("exif/fullsize/"))
            continue;
        s.path = test::testdata(s.relative);
        list.push_back(s);
    }
    // The project's own fixture images, one folder deep (crash inputs named bad-* and cut files
    // excluded); the third-party samples below the same folder were listed above.
    std::error_code error;
    for (const auto& folder : std::filesystem::directory_iterator(test::fixture(""), error)) {
        if (folder.path().filename() == "thirdparty") continue;
        // The formats read through their own libraries are compared with those libraries'
        // command-line decoders in their codec tests; ImageMagick converts their colours
        // differently.
        const std::string folderName = folder.path().filename().string();
        if (folderName == "webp" || folderName == "avif" || folderName == "heif" ||
            folderName == "jxl" || folderName == "raw")
            continue;
        for (const auto& entry : std::filesystem::directory_iterator(folder.path(), error)) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with("bad-") || name.starts_with("truncated-") ||
                detectFormatByExtension(name, Videos::Excluded) == FormatKind::None)
                continue;
            list.push_back({"fixtures/" + folder.path().filename().string() + "/" + name,
                            entry.path().string()});
        }
    }
    return list;
}

// ImageMagick lists every icon entry as a frame; the loader takes the one with the most bytes
// (the earliest on a tie).
int frameFor(const Sample& s) {
    if (detectFormatByExtension(s.relative, Videos::Excluded) != FormatKind::Ico) return 0;
    const auto b = test::readBytes(s.path);
    const auto bytesOf = [&](std::size_t entry) {
        const std::size_t at = 14 + 16 * entry;
        return at + 4 > b.size() ? 0u : b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24u;
    };
    std::size_t best = 0;
    for (std::size_t i = 1; b.size() >= 6 && i < std::size_t(b[4] | b[5] << 8); ++i)
        if (bytesOf(i) > bytesOf(best)) best = i;
    return int(best);
}

// ImageMagick converts PNG samples by their gAMA chunk and leaves bottom-up TGA rows in stored
// order (with an orientation note); the loader keeps stored samples and puts the top row first.
std::string convertOptions(const std::string& relative) {
    const auto kind = detectFormatByExtension(relative, Videos::Excluded);
    if (kind == FormatKind::Png) return "-set colorspace sRGB";
    if (kind == FormatKind::Tga) return "-auto-orient";
    if (kind == FormatKind::Tiff) return "-define tiff:ignore-tags=42112";
    return "";
}

// Largest channel difference between our image and the reference under `check`; alpha counts
// as 255 where the image has none. -1 for a size mismatch.
int maxDifference(const toolkit::Image& image, const toolkit::Image& ref, std::string* where,
                  Check check = Check::Exact) {
    if (image.width() != ref.width() || image.height() != ref.height()) return -1;
    int worst = 0;
    const int bpp = image.bytesPerPixel();
    for (int y = 0; y < image.height(); ++y) {
        const std::uint8_t* p = image.row(y);
        for (int x = 0; x < image.width(); ++x, p += bpp) {
            const std::uint8_t* r = ref.row(y) + 4 * x;
            const int alpha = bpp == 4 ? p[3] : 255;
            // Colours under full transparency carry no meaning; ImageMagick drops some of them.
            // Masked icon pixels of an entry without alpha keep a colour of their own.
            if (r[3] == 0 && (alpha == 0 || (check == Check::Unmasked && bpp != 4))) continue;
            const int before = worst;
            if (check != Check::ColourOnly) worst = std::max(worst, std::abs(alpha - r[3]));
            const int flip = check == Check::Inverted ? 255 : 0;
            for (int c = 0; c < 3; ++c)
                worst = std::max(worst, std::abs(p[c] - std::abs(flip - r[c])));
            if (worst > before) *where = "at " + std::to_string(x) + "," + std::to_string(y);
        }
    }
    return worst;
}

TEST(LoaderOracle, EverySampleMatchesAnIndependentDecoder) {
    if (!test::haveTool("/usr/bin/convert")) QUILL_SKIP_WITHOUT_TOOL() << "ImageMagick missing";
    const std::vector<Sample> all = samples();
    // One ImageMagick run per set of options: its start-up dominates the cost of small files.
    std::vector<toolkit::Image> refs(all.size());
    std::map<std::string, std::vector<std::size_t>> groups;
    for (std::size_t i = 0; i < all.size(); ++i)
        groups[convertOptions(all[i].relative)].push_back(i);
    for (const auto& [options, members] : groups) {
        std::vector<std::pair<std::string, int>> inputs;
        for (std::size_t i : members)
            inputs.emplace_back(all[i].path, frameFor(all[i]));
        auto decoded = test::decodeManyWithConvert(inputs, options);
        for (std::size_t k = 0; k < members.size(); ++k)
            refs[members[k]] = std::move(decoded[k]);
    }
    int compared = 0;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const Expectation e = expectationFor(all[i].relative);
        SCOPED_TRACE(all[i].relative + " " + e.reason);
        const toolkit::Image ours = loadImageFile(all[i].path, FormatKind::None);
        const toolkit::Image& ref = refs[i];
        if (e.check == Check::OursOnly || e.check == Check::NotDecoded) {
            EXPECT_EQ(ours.empty(), e.check == Check::NotDecoded);
            EXPECT_TRUE(e.check == Check::NotDecoded || ref.empty()) << "the reference reads it";
            continue;
        }
        EXPECT_FALSE(ours.empty()) << "we do not decode it";
        EXPECT_FALSE(ref.empty()) << "the reference does not decode it";
        if (ours.empty() || ref.empty()) continue;
        std::string where;
        const int diff = maxDifference(ours, ref, &where, e.check);
        EXPECT_GE(diff, 0) << "size " << ours.width() << "x" << ours.height() << " vs "
                           << ref.width() << "x" << ref.height();
        EXPECT_LE(diff, e.check == Check::SizeOnly ? 255 : e.tolerance)
            << "largest difference " << where;
        ++compared;
    }
    EXPECT_GT(compared, 150);
}

TEST(LoaderOracle, SizeReaderAgreesWithIdentify) {
    int compared = 0;
    for (const Sample& s : samples()) {
        if (s.manifestWidth == 0) continue; // fixtures: covered by the decode comparison
        SCOPED_TRACE(s.relative);
        ImageRect rect;
        EXPECT_TRUE(readImageSize(s.path, rect));
        EXPECT_EQ(std::pair(rect.width, rect.height), std::pair(s.manifestWidth, s.manifestHeight));
        ++compared;
    }
    // A missing sample folder must fail here, not pass with nothing compared.
    EXPECT_GT(compared, 150);
}

} // namespace
} // namespace quill::imagefiles
