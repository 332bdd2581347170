// EXIF, XMP and IPTC carried between formats: what reaches each output format, the size and
// orientation patch, location removal (also in JPEG segments), and damaged blocks.
#include "batch_run_fixture.h"
#include "imagefiles/format.h"
#include "imagefiles/image_list.h"
#include "imagefiles/image_saver.h"
#include "pipeline/exif.h"
#include "pipeline/jpeg_metadata.h"
#include "pipeline/metadata_carry.h"

#include "test_support.h"

#include <gtest/gtest.h>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>
#pragma GCC diagnostic pop

#include <algorithm>

namespace quill::pipeline {
namespace {

using imagefiles::Encoder;
using imagefiles::FormatKind;
using Bytes = std::vector<std::uint8_t>;

const Bytes kLocated = test::readBytes(test::fixture("metadata/located.jpg"));

toolkit::Image smallImage(int width = 24, int height = 16) {
    toolkit::Image image(width, height, toolkit::PixelFormat::Bgr24);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = image.row(y) + 3 * x;
            p[0] = std::uint8_t(x * 10), p[1] = std::uint8_t(y * 15), p[2] = 128;
        }
    return image;
}

struct Read {
    Exiv2::ExifData exif;
    Exiv2::XmpData xmp;
    Exiv2::IptcData iptc;
    bool has(const Exiv2::ExifData& d, const char* key) const {
        return d.findKey(Exiv2::ExifKey(key)) != d.end();
    }
    std::string exifText(const char* key) const {
        const auto it = exif.findKey(Exiv2::ExifKey(key));
        return it == exif.end() ? "" : it->toString();
    }
    long exifNumber(const char* key) const {
        const auto it = exif.findKey(Exiv2::ExifKey(key));
        return it == exif.end() ? -1 : it->toLong();
    }
    bool hasXmp(const char* key) const { return xmp.findKey(Exiv2::XmpKey(key)) != xmp.end(); }
    bool hasXmpPrefix(std::string_view prefix) const {
        for (const auto& d : xmp)
            if (d.key().starts_with(prefix)) return true;
        return false;
    }
    bool hasIptc(const char* key) const { return iptc.findKey(Exiv2::IptcKey(key)) != iptc.end(); }
    bool hasGps() const {
        for (const auto& d : exif)
            if (d.groupName() == "GPSInfo") return true;
        return false;
    }
};

Read parse(const CarriedMetadata& carried) {
    Read r;
    if (!carried.exif.empty())
        Exiv2::ExifParser::decode(r.exif, carried.exif.data(), std::uint32_t(carried.exif.size()));
    if (!carried.xmp.empty()) Exiv2::XmpParser::decode(r.xmp, carried.xmp);
    if (!carried.iptc.empty())
        Exiv2::IptcParser::decode(r.iptc, carried.iptc.data(), std::uint32_t(carried.iptc.size()));
    return r;
}

struct Target {
    Encoder encoder;
    FormatKind kind;
    bool holdsIptc;
};
const Target kTargets[] = {
    {Encoder::Png, FormatKind::Png, true},        {Encoder::Webp, FormatKind::Webp, false},
    {Encoder::Tiff, FormatKind::Tiff, true},      {Encoder::Jp2k, FormatKind::Jpeg2000, true},
    {Encoder::Jpeg, FormatKind::Jpeg, true},      {Encoder::Avif, FormatKind::Avif, false},
    {Encoder::JpegXl, FormatKind::JpegXl, false},
};

// The encoded output of a small image carrying `carried` after `edit`, as the run writes it.
Bytes encodeCarrying(const Target& t, const CarriedMetadata& carried, const CarryEdit& edit) {
    const toolkit::Image image =
        smallImage(edit.width > 0 ? edit.width : 24, edit.height > 0 ? edit.height : 16);
    imagefiles::EncodeOptions options{.quality = 8};
    imagefiles::FileMetadata blocks;
    if (embedsWhileEncoding(t.encoder)) {
        blocks = blocksForEncoder(carried, edit);
        options.embed = &blocks;
    }
    auto bytes = imagefiles::encodeImage(image, t.encoder, options, 24);
    EXPECT_TRUE(bytes);
    if (!bytes) return {};
    if (embedsAfterEncoding(t.encoder)) {
        auto with = embedMetadata(*bytes, t.encoder, carried, edit);
        EXPECT_TRUE(with) << int(t.kind);
        if (with) return *with;
    }
    return *bytes;
}

const char* nameOf(FormatKind kind) {
    const auto* format = imagefiles::formatInfo(kind);
    return format ? format->name.data() : "?";
}

TEST(CarriedMetadata, CameraTagsXmpAndIptcReachEveryOutputFormat) {
    const CarriedMetadata source = readCarriedMetadata(kLocated, FormatKind::Jpeg);
    ASSERT_FALSE(source.exif.empty());
    ASSERT_FALSE(source.xmp.empty());
    ASSERT_FALSE(source.iptc.empty());
    for (const Target& t : kTargets) {
        SCOPED_TRACE(nameOf(t.kind));
        const Bytes out = encodeCarrying(t, source, {});
        // The output decodes as a picture still, and its metadata reads back through the same
        // reader the run uses for sources of that format.
        const auto* format = imagefiles::formatInfo(t.kind);
        ASSERT_NE(format, nullptr);
        EXPECT_FALSE(format->decode(out, {}).empty());
        const Read r = parse(readCarriedMetadata(out, t.kind));
        EXPECT_EQ(r.exifText("Exif.Image.Model"), "Canon EOS 40D");
        EXPECT_EQ(r.exifText("Exif.Photo.DateTimeOriginal"), "2008:05:30 15:56:01");
        EXPECT_EQ(r.exifText("Exif.Photo.ExposureTime"), "1/160");
        EXPECT_TRUE(r.hasGps());
        EXPECT_TRUE(r.hasXmp("Xmp.xmp.Rating"));
        EXPECT_TRUE(r.hasXmp("Xmp.photoshop.City"));
        EXPECT_EQ(r.hasIptc("Iptc.Application2.City"), t.holdsIptc);
        // The date the run reads for useExifDate and the %E% placeholders.
        EXPECT_EQ(exifDetailsOfBlock(readCarriedMetadata(out, t.kind).exif).recordedDate,
                  parseExifDate("2008:05:30 15:56:01"));
    }
}

TEST(CarriedMetadata, LocationRemovalKeepsEverythingElseInEveryFormat) {
    const CarriedMetadata source = readCarriedMetadata(kLocated, FormatKind::Jpeg);
    for (const Target& t : kTargets) {
        SCOPED_TRACE(nameOf(t.kind));
        const Bytes out = encodeCarrying(t, source, {.removeLocation = true});
        const Read r = parse(readCarriedMetadata(out, t.kind));
        EXPECT_FALSE(r.hasGps());
        EXPECT_FALSE(r.has(r.exif, "Exif.Image.GPSTag"));
        EXPECT_FALSE(r.hasXmp("Xmp.photoshop.City"));
        EXPECT_FALSE(r.hasXmpPrefix("Xmp.iptcExt.LocationShown"));
        EXPECT_FALSE(r.hasXmpPrefix("Xmp.exif.GPS"));
        EXPECT_FALSE(r.hasIptc("Iptc.Application2.City"));
        EXPECT_EQ(r.exifText("Exif.Image.Model"), "Canon EOS 40D");
        EXPECT_TRUE(r.hasXmp("Xmp.xmp.Rating"));
        EXPECT_TRUE(r.hasXmp("Xmp.dc.subject"));
        EXPECT_EQ(r.hasIptc("Iptc.Application2.Keywords"), t.holdsIptc);
    }
}

// The source's block with the orientation set to `orientation`.
CarriedMetadata turnedSource(std::uint16_t orientation) {
    CarriedMetadata carried = readCarriedMetadata(kLocated, FormatKind::Jpeg);
    Exiv2::ExifData exif;
    const auto order =
        Exiv2::ExifParser::decode(exif, carried.exif.data(), std::uint32_t(carried.exif.size()));
    exif["Exif.Image.Orientation"] = orientation;
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, order, exif);
    carried.exif = blob;
    return carried;
}

TEST(CarriedMetadata, OrientationAndSizeArePatchedAsForJpeg) {
    const CarriedMetadata turned = turnedSource(6);
    for (const Target& t : {kTargets[0], kTargets[1], kTargets[5]}) {
        SCOPED_TRACE(nameOf(t.kind));
        // Turned upright (90° clockwise for orientation 6) and resized to 16 x 24.
        const CarryEdit upright{.useExifOrientation = true,
                                .rotationApplied = uprightRotateMode(6),
                                .sizeMayHaveChanged = true,
                                .width = 16,
                                .height = 24};
        Read r = parse(readCarriedMetadata(encodeCarrying(t, turned, upright), t.kind));
        EXPECT_EQ(r.exifNumber("Exif.Image.Orientation"), 1);
        EXPECT_EQ(r.exifNumber("Exif.Photo.PixelXDimension"), 16);
        EXPECT_EQ(r.exifNumber("Exif.Photo.PixelYDimension"), 24);
        // Without the EXIF orientation option nothing is patched, as in the JPEG carry-over.
        r = parse(readCarriedMetadata(
            encodeCarrying(t, turned, {.rotationApplied = 1, .width = 16, .height = 24}), t.kind));
        EXPECT_EQ(r.exifNumber("Exif.Image.Orientation"), 6);
        EXPECT_EQ(r.exifNumber("Exif.Photo.PixelXDimension"), 100);
    }
    // An upright turn writes the orientation it left, with or without the EXIF option.
    const Target& webp = kTargets[1];
    const Read r = parse(readCarriedMetadata(
        encodeCarrying(webp, turned, {.width = 16, .height = 24, .orientationAfterEdit = 1}),
        webp.kind));
    EXPECT_EQ(r.exifNumber("Exif.Image.Orientation"), 1);
    // An upright source whose pixels were turned keeps orientation 1.
    EXPECT_EQ(patchedOrientation(1, 1), -1);
    EXPECT_EQ(patchedOrientation(6, -1), -1);
    EXPECT_EQ(patchedOrientation(3, 2), 1);
}

TEST(CarriedMetadata, JpegSegmentsLoseOnlyTheirLocation) {
    JpegMetadata metadata;
    ASSERT_TRUE(readMetadata(kLocated, metadata));
    ASSERT_TRUE(loadMetadata(kLocated, metadata));
    const JpegMetadata before = metadata;
    removeLocationFromSegments(metadata);
    ASSERT_EQ(metadata.segments.size(), before.segments.size());
    JpegMetadata stripped = metadata;
    const auto file =
        insertSegments(test::readBytes(test::fixture("metadata/plain.jpg")), stripped);
    ASSERT_TRUE(file);
    const Read r = parse(readCarriedMetadata(*file, FormatKind::Jpeg));
    EXPECT_FALSE(r.hasGps());
    EXPECT_FALSE(r.hasXmp("Xmp.photoshop.City"));
    EXPECT_FALSE(r.hasIptc("Iptc.Application2.City"));
    EXPECT_TRUE(r.hasIptc("Iptc.Application2.Keywords"));
    EXPECT_TRUE(r.hasXmp("Xmp.xmp.Rating"));
    EXPECT_EQ(r.exifText("Exif.Image.Model"), "Canon EOS 40D");
    // Segments without location (the ICC profile here) are carried byte for byte.
    for (std::size_t i = 0; i < metadata.segments.size(); ++i) {
        if (metadata.segments[i].marker == 0xE2) {
            EXPECT_EQ(metadata.segments[i].data, before.segments[i].data);
        }
    }

    // A file without any location is not touched at all.
    const Bytes plainExif = test::readBytes(test::testdata("exif/Canon_DIGITAL_IXUS_400.jpg"));
    JpegMetadata untouched;
    ASSERT_TRUE(readMetadata(plainExif, untouched));
    ASSERT_TRUE(loadMetadata(plainExif, untouched));
    JpegMetadata copy = untouched;
    removeLocationFromSegments(copy);
    ASSERT_EQ(copy.segments.size(), untouched.segments.size());
    for (std::size_t i = 0; i < copy.segments.size(); ++i) {
        EXPECT_EQ(copy.segments[i].data, untouched.segments[i].data);
        EXPECT_EQ(copy.segments[i].loaded, untouched.segments[i].loaded);
    }
}

TEST(CarriedMetadata, DamagedSourcesAndBlocksNeverFailTheImage) {
    // Every cut of the source reads without throwing; what it gives is written or refused.
    const toolkit::Image image = smallImage();
    const auto png = imagefiles::encodeImage(image, Encoder::Png, {}, 24);
    ASSERT_TRUE(png);
    for (std::size_t cut = 0; cut < kLocated.size(); cut += 97) {
        const Bytes part(kLocated.begin(), kLocated.begin() + std::ptrdiff_t(cut));
        const CarriedMetadata carried = readCarriedMetadata(part, FormatKind::Jpeg);
        const auto out = embedMetadata(*png, Encoder::Png, carried, {.removeLocation = true});
        if (out) {
            EXPECT_FALSE(imagefiles::formatInfo(FormatKind::Png)->decode(*out, {}).empty());
        }
    }
    // Blocks of garbage: a TIFF header pointing nowhere, XMP that is no XML, IPTC noise.
    CarriedMetadata junk;
    junk.exif = {'I', 'I', 0x2A, 0, 0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3};
    junk.xmp = "<x:xmpmeta><rdf:RDF";
    junk.iptc = {0x1C, 2, 90, 0xFF, 0xFF, 1};
    for (const Target& t : kTargets) {
        SCOPED_TRACE(nameOf(t.kind));
        auto bytes = imagefiles::encodeImage(image, t.encoder, {.quality = 8}, 24);
        ASSERT_TRUE(bytes);
        const auto out = embedMetadata(*bytes, t.encoder, junk, {});
        if (out) {
            EXPECT_FALSE(imagefiles::formatInfo(t.kind)->decode(*out, {}).empty());
        }
        (void)blocksForEncoder(junk, {});
    }
    // A JPEG APP1 "Exif" segment of noise is dropped rather than carried with a possible position.
    JpegMetadata metadata;
    MetadataSegment noise;
    noise.marker = kMarkerApp1;
    noise.loaded = true;
    noise.data = {'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 0x2A, 0x7F, 0xFF, 0xFF, 0xFF, 9, 9};
    noise.length = std::uint16_t(noise.data.size());
    metadata.segments.push_back(noise);
    removeLocationFromSegments(metadata);
    EXPECT_TRUE(!metadata.segments[0].loaded || metadata.segments[0].data == noise.data);

    // A Photoshop block: its IPTC resource loses the city, the resource after it is kept byte for
    // byte, and every cut of the block (resources running past its end) is kept or rewritten
    // without reading past it.
    const Bytes iptcRecords = {0x1C, 2,    90, 0,  5, 'P', 'a', 'r', 'i',
                               's',  0x1C, 2,  25, 0, 3,   'c', 'a', 't'};
    Bytes block = {'P',  'h',
                   'o',  't',
                   'o',  's',
                   'h',  'o',
                   'p',  ' ',
                   '3',  '.',
                   '0',  0,
                   '8',  'B',
                   'I',  'M',
                   0x04, 0x04,
                   0,    0,
                   0,    0,
                   0,    std::uint8_t(iptcRecords.size())};
    block.insert(block.end(), iptcRecords.begin(), iptcRecords.end());
    const Bytes other = {'8', 'B', 'I', 'M', 0x03, 0xED, 3, 'a', 'b', 'c', 0, 0, 0, 3, 7, 7, 7, 0};
    block.insert(block.end(), other.begin(), other.end());
    for (std::size_t cut = block.size(); cut > 14; --cut) {
        SCOPED_TRACE(cut);
        JpegMetadata photoshop;
        MetadataSegment segment;
        segment.marker = 0xED;
        segment.loaded = true;
        segment.data.assign(block.begin(), block.begin() + std::ptrdiff_t(cut));
        segment.length = std::uint16_t(cut);
        photoshop.segments.push_back(segment);
        removeLocationFromSegments(photoshop);
        const MetadataSegment& after = photoshop.segments[0];
        EXPECT_EQ(after.data.size(), after.length);
        if (cut != block.size()) continue;
        ASSERT_TRUE(after.loaded);
        ASSERT_GE(after.data.size(), other.size());
        EXPECT_TRUE(std::equal(other.begin(), other.end(), after.data.end() - other.size()));
        const std::string text(after.data.begin(), after.data.end());
        EXPECT_EQ(text.find("Paris"), std::string::npos);
        EXPECT_NE(text.find("cat"), std::string::npos);
    }
}

TEST(CarriedMetadata, ExifDateOfPngAndWebpSources) {
    const CarriedMetadata source = readCarriedMetadata(kLocated, FormatKind::Jpeg);
    test::TempDir dir;
    for (const Target& t : {kTargets[0], kTargets[1], kTargets[2]}) {
        SCOPED_TRACE(nameOf(t.kind));
        const std::string path =
            dir.file("dated." + std::string(imagefiles::formatInfo(t.kind)->extension));
        test::writeBytes(path, encodeCarrying(t, source, {}));
        const ExifDetails details = readExifDetails(path, *imagefiles::formatInfo(t.kind));
        EXPECT_EQ(details.readError, 0);
        EXPECT_EQ(details.recordedDate, parseExifDate("2008:05:30 15:56:01"));
    }
}

// Whole runs: the metadata goes through the work queue and the commit with the encoded bytes.
class MetadataRun : public test_runs::BatchRun {};

TEST_F(MetadataRun, RunsWriteItIntoTheOutputsTheyCommit) {
    test::writeBytes(dir.file("photo.jpg"), kLocated);
    const struct {
        settings::OutputFormat format;
        FormatKind kind;
        const char* name;
        bool removeLocation;
        bool copied = false; // no pixel step: the JPEG is copied, then its location taken out
    } cases[] = {
        {settings::OutputFormat::Png, FormatKind::Png, "out/photo.png", false},
        {settings::OutputFormat::Webp, FormatKind::Webp, "out/photo.webp", true},
        {settings::OutputFormat::JpegXl, FormatKind::JpegXl, "out/photo.jxl", true},
        {settings::OutputFormat::Jpeg, FormatKind::Jpeg, "out/photo.jpg", true},
        {settings::OutputFormat::Jpeg, FormatKind::Jpeg, "out/photo.jpg", true, true},
    };
    preset.keepMetadata = 1;
    preset.useExifOrientation = 1;
    preset.resizeWidth = 50;
    preset.resizeHeight = 34;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        images.clear();
        ASSERT_TRUE(imagefiles::addImageRecord(dir.file("photo.jpg"), images, {}));
        preset.outputFormat = c.format;
        preset.removeLocation = c.removeLocation;
        preset.resizeEnabled = c.copied ? 0 : 1;
        run(settings::CollisionAnswer::ReplaceAll);
        const Bytes out = test::readBytes(dir.file(c.name));
        ASSERT_FALSE(out.empty());
        const Read r = parse(readCarriedMetadata(out, c.kind));
        EXPECT_EQ(r.exifText("Exif.Image.Model"), "Canon EOS 40D");
        EXPECT_TRUE(r.hasXmp("Xmp.xmp.Rating"));
        EXPECT_EQ(r.hasGps(), !c.removeLocation);
        EXPECT_EQ(r.hasXmp("Xmp.photoshop.City"), !c.removeLocation);
        // The size fields describe the written picture (100 x 68 resized to 50 x 34).
        const toolkit::Image written = imagefiles::formatInfo(c.kind)->decode(out, {});
        EXPECT_EQ(written.width(), c.copied ? 100 : 50);
        // A copy keeps its compressed picture byte for byte: the scan ends both files alike.
        if (c.copied) {
            const std::size_t scan = 4000;
            ASSERT_GT(kLocated.size(), scan);
            EXPECT_TRUE(std::equal(kLocated.end() - scan, kLocated.end(), out.end() - scan));
            EXPECT_LT(out.size(), kLocated.size());
        }
        EXPECT_EQ(r.exifNumber("Exif.Photo.PixelXDimension"), written.width());
        EXPECT_EQ(r.exifNumber("Exif.Photo.PixelYDimension"), written.height());
    }
}

} // namespace
} // namespace quill::pipeline
