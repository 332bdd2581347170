// EXIF, XMP and IPTC between formats through Exiv2. Every Exiv2 call happens inside a try block of
// this file: Exiv2 throws on damaged input, and a source whose metadata cannot be read or an output
// it cannot be written into is an image without metadata, never a failed image.
#include "pipeline/metadata_carry.h"

#include "pipeline/exif.h"
#include "toolkit/bytes.h"
#include "toolkit/platform/platform.h"

// Exiv2 0.27 hands images out as std::auto_ptr, deprecated since C++11.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>
#include <exiv2/webpimage.hpp>

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <span>
#include <string_view>

namespace quill::pipeline {
namespace {

using imagefiles::Encoder;
using imagefiles::FormatKind;

// The largest file whose metadata is read whole (the loaders read no larger file either).
constexpr std::size_t kMaxSourceBytes = std::size_t{1} << 31;
// An APP1 payload holds at most this much: "Exif" 00 00 and the TIFF structure.
constexpr std::size_t kMaxExifPayload = 65533;
constexpr std::array<std::uint8_t, 6> kExifPrefix{'E', 'x', 'i', 'f', 0, 0};
constexpr std::string_view kXmpSegmentId{"http://ns.adobe.com/xap/1.0/\0", 29};
constexpr std::string_view kPhotoshopId{"Photoshop 3.0\0", 14};

// The XMP toolkit must be set up once, with a lock, before threads parse or write XMP.
std::mutex g_xmpMutex;
void lockXmp(void*, bool lock) {
    if (lock)
        g_xmpMutex.lock();
    else
        g_xmpMutex.unlock();
}
void initialiseExiv2() {
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::XmpParser::initialize(lockXmp, nullptr);
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute); // damaged files are expected, not news
    });
}

// --- Location fields ----------------------------------------------------------------------------

// XMP properties (and everything inside them: struct fields, array items) that say where.
constexpr std::array<std::string_view, 9> kXmpLocation{"Xmp.exif.GPS",
                                                       "Xmp.photoshop.City",
                                                       "Xmp.photoshop.State",
                                                       "Xmp.photoshop.Country",
                                                       "Xmp.iptc.Location",
                                                       "Xmp.iptc.CountryCode",
                                                       "Xmp.iptcExt.LocationCreated",
                                                       "Xmp.iptcExt.LocationShown",
                                                       "Xmp.exifEX.GPS"};
constexpr std::array<std::string_view, 5> kIptcLocation{
    "Iptc.Application2.City", "Iptc.Application2.SubLocation", "Iptc.Application2.ProvinceState",
    "Iptc.Application2.CountryCode", "Iptc.Application2.CountryName"};

bool isXmpLocation(const std::string& key) {
    return std::any_of(kXmpLocation.begin(), kXmpLocation.end(), [&](std::string_view prefix) {
        if (key.compare(0, prefix.size(), prefix) != 0) return false;
        // "Xmp.exif.GPS" names a family; the others end at the property or go inside it.
        if (prefix.ends_with("GPS")) return true;
        return key.size() == prefix.size() || key[prefix.size()] == '[' ||
               key[prefix.size()] == '/';
    });
}

bool isExifLocation(const Exiv2::Exifdatum& datum) {
    return datum.groupName() == "GPSInfo" || datum.key() == "Exif.Image.GPSTag";
}

template <typename Data, typename Test> bool eraseWhere(Data& data, Test&& test) {
    bool erased = false;
    for (auto it = data.begin(); it != data.end();) {
        if (test(*it)) {
            it = data.erase(it);
            erased = true;
        } else {
            ++it;
        }
    }
    return erased;
}

bool removeExifLocation(Exiv2::ExifData& exif) {
    return eraseWhere(exif, [](const Exiv2::Exifdatum& d) { return isExifLocation(d); });
}
bool removeXmpLocation(Exiv2::XmpData& xmp) {
    return eraseWhere(xmp, [](const Exiv2::Xmpdatum& d) { return isXmpLocation(d.key()); });
}
bool removeIptcLocation(Exiv2::IptcData& iptc) {
    return eraseWhere(iptc, [](const Exiv2::Iptcdatum& d) {
        const std::string key = d.key();
        return std::find(kIptcLocation.begin(), kIptcLocation.end(), key) != kIptcLocation.end();
    });
}

// --- TIFF structure tags -------------------------------------------------------------------------

// Tags of a TIFF file's first directory that describe its own pixels: they must not describe the
// output's. Exiv2 leaves most of them out of an EXIF block by itself; these are the rest.
constexpr std::array<std::string_view, 22> kStructureTags{"Exif.Image.NewSubfileType",
                                                          "Exif.Image.SubfileType",
                                                          "Exif.Image.ImageWidth",
                                                          "Exif.Image.ImageLength",
                                                          "Exif.Image.BitsPerSample",
                                                          "Exif.Image.Compression",
                                                          "Exif.Image.PhotometricInterpretation",
                                                          "Exif.Image.FillOrder",
                                                          "Exif.Image.StripOffsets",
                                                          "Exif.Image.SamplesPerPixel",
                                                          "Exif.Image.RowsPerStrip",
                                                          "Exif.Image.StripByteCounts",
                                                          "Exif.Image.PlanarConfiguration",
                                                          "Exif.Image.Predictor",
                                                          "Exif.Image.ColorMap",
                                                          "Exif.Image.TileWidth",
                                                          "Exif.Image.TileLength",
                                                          "Exif.Image.TileOffsets",
                                                          "Exif.Image.TileByteCounts",
                                                          "Exif.Image.ExtraSamples",
                                                          "Exif.Image.SampleFormat",
                                                          "Exif.Image.SubIFDs"};

void removeTiffStructure(Exiv2::ExifData& exif) {
    eraseWhere(exif, [](const Exiv2::Exifdatum& d) {
        const std::string key = d.key();
        const std::string group = d.groupName();
        // The sub-images and further directories of a TIFF or RAW file are its own pictures.
        if (group.starts_with("SubImage") || group.starts_with("SubThumb") ||
            group == "Thumbnail" || group.starts_with("Image2") || group.starts_with("Image3"))
            return true;
        return std::find(kStructureTags.begin(), kStructureTags.end(), key) != kStructureTags.end();
    });
}

// --- PNG eXIf
// --------------------------------------------------------------------------------------

constexpr std::array<std::uint8_t, 8> kPngSignature{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

std::uint32_t crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0xFFFFFFFFu) {
    for (const std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc;
}

void appendU32be(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.insert(out.end(), {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8),
                           std::uint8_t(v)});
}

// The payload of the first chunk of this type before the image data; nullopt when there is none.
std::optional<std::span<const std::uint8_t>> pngChunk(std::span<const std::uint8_t> file,
                                                      std::string_view type) {
    if (file.size() < 8 || !std::equal(kPngSignature.begin(), kPngSignature.end(), file.begin()))
        return std::nullopt;
    std::size_t at = 8;
    while (at + 12 <= file.size()) {
        const std::size_t length = toolkit::loadU32be(&file[at]);
        if (length > file.size() - at - 12) return std::nullopt;
        const std::string_view name(reinterpret_cast<const char*>(&file[at + 4]), 4);
        if (name == type) return file.subspan(at + 8, length);
        if (name == "IDAT" || name == "IEND") return std::nullopt;
        at += 12 + length;
    }
    return std::nullopt;
}

// The file with an eXIf chunk after IHDR (which the encoder writes first, 25 bytes long).
std::optional<std::vector<std::uint8_t>> withPngExif(std::span<const std::uint8_t> file,
                                                     std::span<const std::uint8_t> tiff) {
    constexpr std::size_t kAfterHeader = 8 + 25;
    if (file.size() <= kAfterHeader || tiff.size() > 0x7FFFFFFF ||
        std::memcmp(&file[12], "IHDR", 4) != 0 || toolkit::loadU32be(&file[8]) != 13)
        return std::nullopt;
    std::vector<std::uint8_t> out;
    out.reserve(file.size() + tiff.size() + 12);
    out.insert(out.end(), file.begin(), file.begin() + kAfterHeader);
    appendU32be(out, std::uint32_t(tiff.size()));
    const std::size_t typeAt = out.size();
    out.insert(out.end(), {'e', 'X', 'I', 'f'});
    out.insert(out.end(), tiff.begin(), tiff.end());
    const std::uint32_t crc = crc32(std::span(out).subspan(typeAt, 4 + tiff.size())) ^ 0xFFFFFFFFu;
    appendU32be(out, crc);
    out.insert(out.end(), file.begin() + kAfterHeader, file.end());
    return out;
}

bool isTiffBlock(std::span<const std::uint8_t> b) {
    return b.size() >= 8 && ((b[0] == 'I' && b[1] == 'I' && b[2] == 0x2A && b[3] == 0) ||
                             (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && b[3] == 0x2A));
}

// --- Reading -------------------------------------------------------------------------------------

bool readByCodec(FormatKind kind) {
    return kind == FormatKind::Avif || kind == FormatKind::Heif || kind == FormatKind::JpegXl;
}

// Whether Exiv2 took the bytes for a file of the format we read. Its readers of other kinds (the
// video containers in particular) are never run on a file: one of them spins for seconds on a
// damaged "ftyp" box.
bool readsAs(int type, FormatKind kind) {
    namespace T = Exiv2::ImageType;
    switch (kind) {
    case FormatKind::Jpeg:
        return type == T::jpeg || type == T::exv;
    case FormatKind::Png:
        return type == T::png;
    case FormatKind::Tiff:
        return type == T::tiff;
    case FormatKind::Webp:
        return type == T::webp;
    case FormatKind::Jpeg2000:
        return type == T::jp2;
    case FormatKind::CameraRaw:
        return type == T::tiff || type == T::cr2 || type == T::crw || type == T::raf ||
               type == T::mrw || type == T::orf || type == T::rw2 || type == T::bmff;
    default:
        return false;
    }
}

std::vector<std::uint8_t> encodeExif(const Exiv2::ExifData& exif, Exiv2::ByteOrder order) {
    if (exif.empty()) return {};
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, order, exif);
    return blob;
}

std::vector<std::uint8_t> iptcBytes(const Exiv2::IptcData& iptc) {
    if (iptc.empty()) return {};
    const Exiv2::DataBuf buf = Exiv2::IptcParser::encode(iptc);
    if (buf.size_ <= 0) return {};
    return {buf.pData_, buf.pData_ + buf.size_};
}

CarriedMetadata readThroughExiv2(Exiv2::Image& image, std::span<const std::uint8_t> file,
                                 FormatKind kind) {
    CarriedMetadata carried;
    image.readMetadata();
    if (kind == FormatKind::Png) {
        if (const auto chunk = pngChunk(file, "eXIf"); chunk && isTiffBlock(*chunk))
            carried.exif.assign(chunk->begin(), chunk->end());
    }
    if (carried.exif.empty() && !image.exifData().empty()) {
        Exiv2::ExifData exif = image.exifData();
        // A TIFF or RAW file's first directory is also the description of its own pixels.
        if (kind == FormatKind::Tiff || kind == FormatKind::CameraRaw) removeTiffStructure(exif);
        const Exiv2::ByteOrder order =
            image.byteOrder() == Exiv2::invalidByteOrder ? Exiv2::littleEndian : image.byteOrder();
        carried.exif = encodeExif(exif, order);
    }
    carried.xmp = image.xmpPacket();
    carried.iptc = iptcBytes(image.iptcData());
    return carried;
}

// --- Patching and writing
// --------------------------------------------------------------------------

struct Decoded {
    Exiv2::ExifData exif;
    Exiv2::ByteOrder order = Exiv2::littleEndian;
    Exiv2::XmpData xmp;
    Exiv2::IptcData iptc;
};

template <typename Value> void setIfPresent(Exiv2::ExifData& exif, const char* key, Value value) {
    const auto it = exif.findKey(Exiv2::ExifKey(key));
    if (it != exif.end()) *it = value;
}

// The blocks as Exiv2 containers, patched to the edit as the JPEG carry-over patches its block.
Decoded decodePatched(const CarriedMetadata& carried, const CarryEdit& edit) {
    Decoded d;
    if (isTiffBlock(carried.exif) && carried.exif.size() <= 0xFFFFFFFFu) {
        d.order = Exiv2::ExifParser::decode(d.exif, carried.exif.data(),
                                            std::uint32_t(carried.exif.size()));
        if (d.order == Exiv2::invalidByteOrder) d.order = Exiv2::littleEndian;
    }
    if (!carried.xmp.empty() && Exiv2::XmpParser::decode(d.xmp, carried.xmp) != 0) d.xmp.clear();
    if (!carried.iptc.empty() &&
        Exiv2::IptcParser::decode(
            d.iptc, carried.iptc.data(),
            std::uint32_t(std::min<std::size_t>(carried.iptc.size(), 0x7FFFFFFF))) != 0)
        d.iptc.clear();

    const bool uprighted = edit.orientationAfterEdit >= 1 && edit.orientationAfterEdit <= 8;
    if (uprighted && !d.exif.empty()) {
        const auto stored = d.exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
        if (stored != d.exif.end()) *stored = std::uint16_t(edit.orientationAfterEdit);
    }
    if (edit.useExifOrientation && !d.exif.empty()) {
        const auto stored = d.exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
        if (!uprighted && stored != d.exif.end() && stored->count() >= 1) {
            const std::int32_t now =
                patchedOrientation(std::int32_t(stored->toLong()), edit.rotationApplied);
            if (now != -1) *stored = std::uint16_t(now);
        }
        if (edit.sizeMayHaveChanged) {
            const auto w = std::uint32_t(std::max(edit.width, 0));
            const auto h = std::uint32_t(std::max(edit.height, 0));
            setIfPresent(d.exif, "Exif.Photo.PixelXDimension", w);
            setIfPresent(d.exif, "Exif.Photo.PixelYDimension", h);
            setIfPresent(d.exif, "Exif.Image.ImageWidth", w);
            setIfPresent(d.exif, "Exif.Image.ImageLength", h);
        }
    }
    if (edit.removeLocation) {
        removeExifLocation(d.exif);
        removeXmpLocation(d.xmp);
        removeIptcLocation(d.iptc);
    }
    return d;
}

std::vector<std::uint8_t> toVector(Exiv2::BasicIo& io) {
    const long size = io.size();
    if (size <= 0 || io.open() != 0) return {};
    std::vector<std::uint8_t> out(static_cast<std::size_t>(size));
    const long read = io.read(out.data(), size);
    io.close();
    if (read != size) return {};
    return out;
}

} // namespace

CarriedMetadata readCarriedMetadata(std::span<const std::uint8_t> file, FormatKind kind) {
    try {
        if (readByCodec(kind)) {
            const imagefiles::FormatInfo* format = imagefiles::formatInfo(kind);
            if (format == nullptr || format->metadata == nullptr) return {};
            imagefiles::FileMetadata blocks = format->metadata(file);
            CarriedMetadata carried;
            if (isTiffBlock(blocks.exif)) carried.exif = std::move(blocks.exif);
            carried.xmp.assign(blocks.xmp.begin(), blocks.xmp.end());
            return carried;
        }
        if (file.empty() || file.size() > 0x7FFFFFFF) return {};
        initialiseExiv2();
        const int type = Exiv2::ImageFactory::getType(file.data(), long(file.size()));
        if (!readsAs(type, kind)) return {};
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(file.data(), long(file.size()));
        if (!image.get()) return {};
        return readThroughExiv2(*image, file, kind);
    } catch (...) {
        return {};
    }
}

CarriedMetadata readCarriedMetadata(const std::string& path, FormatKind kind) {
    const auto bytes = platform::readFile(path, kMaxSourceBytes);
    if (!bytes) return {};
    return readCarriedMetadata(*bytes, kind);
}

bool embedsAfterEncoding(Encoder encoder) {
    return encoder == Encoder::Jpeg || encoder == Encoder::Png || encoder == Encoder::Tiff ||
           encoder == Encoder::Webp || encoder == Encoder::Jp2k;
}

bool embedsWhileEncoding(Encoder encoder) {
    return encoder == Encoder::Avif || encoder == Encoder::JpegXl;
}

imagefiles::FileMetadata blocksForEncoder(const CarriedMetadata& carried, const CarryEdit& edit) {
    imagefiles::FileMetadata blocks;
    try {
        initialiseExiv2();
        const Decoded d = decodePatched(carried, edit);
        blocks.exif = encodeExif(d.exif, d.order);
        if (!d.xmp.empty()) {
            std::string packet;
            if (Exiv2::XmpParser::encode(packet, d.xmp, Exiv2::XmpParser::useCompactFormat) == 0)
                blocks.xmp.assign(packet.begin(), packet.end());
        }
    } catch (...) {
        return {};
    }
    return blocks;
}

std::optional<std::vector<std::uint8_t>> embedMetadata(std::span<const std::uint8_t> encoded,
                                                       Encoder encoder,
                                                       const CarriedMetadata& carried,
                                                       const CarryEdit& edit) {
    if (!embedsAfterEncoding(encoder) || encoded.empty() || encoded.size() > 0x7FFFFFFF)
        return std::nullopt;
    try {
        initialiseExiv2();
        const Decoded d = decodePatched(carried, edit);
        if (d.exif.empty() && d.xmp.empty() && d.iptc.empty()) return std::nullopt;
        Exiv2::Image::AutoPtr image =
            Exiv2::ImageFactory::open(encoded.data(), long(encoded.size()));
        if (!image.get()) return std::nullopt;
        image->readMetadata(); // the encoder's own tags (a TIFF's structure) stay
        const bool png = encoder == Encoder::Png;
        // PNG takes EXIF as an eXIf chunk, which Exiv2 0.27 does not write.
        if (!png && !d.exif.empty()) {
            Exiv2::ExifData merged = image->exifData();
            for (const Exiv2::Exifdatum& datum : d.exif) {
                // The output's own structure tags (TIFF) describe its pixels and are kept.
                if (encoder == Encoder::Tiff &&
                    merged.findKey(Exiv2::ExifKey(datum.key())) != merged.end() &&
                    datum.groupName() == "Image")
                    continue;
                merged[datum.key()] = datum.value();
            }
            image->setExifData(merged);
        }
        if (!d.xmp.empty()) image->setXmpData(d.xmp);
        if (!d.iptc.empty()) image->setIptcData(d.iptc);
        image->setByteOrder(d.order);
        image->writeMetadata();
        std::vector<std::uint8_t> out = toVector(image->io());
        if (out.empty()) return std::nullopt;
        if (png && !d.exif.empty()) {
            const std::vector<std::uint8_t> tiff = encodeExif(d.exif, d.order);
            if (!tiff.empty()) {
                auto withExif = withPngExif(out, tiff);
                if (!withExif) return std::nullopt;
                out = std::move(*withExif);
            }
        }
        return out;
    } catch (...) {
        return std::nullopt;
    }
}

namespace {

bool startsWith(const std::vector<std::uint8_t>& data, std::string_view prefix) {
    return data.size() >= prefix.size() &&
           std::memcmp(data.data(), prefix.data(), prefix.size()) == 0;
}

// The EXIF APP1 payload without its location; nullopt when it held none; an empty payload when it
// could not be rewritten.
std::optional<std::vector<std::uint8_t>> exifWithoutLocation(const std::vector<std::uint8_t>& p) {
    const std::size_t size = p.size() - kExifPrefix.size();
    Exiv2::ExifData exif;
    const Exiv2::ByteOrder order =
        Exiv2::ExifParser::decode(exif, p.data() + kExifPrefix.size(), std::uint32_t(size));
    if (!removeExifLocation(exif)) return std::nullopt;
    std::vector<std::uint8_t> copy(p.begin() + kExifPrefix.size(), p.end());
    Exiv2::Blob blob;
    const Exiv2::WriteMethod method = Exiv2::ExifParser::encode(
        blob, copy.data(), std::uint32_t(copy.size()),
        order == Exiv2::invalidByteOrder ? Exiv2::littleEndian : order, exif);
    const std::vector<std::uint8_t>& tiff = method == Exiv2::wmNonIntrusive ? copy : blob;
    if (tiff.empty() || tiff.size() + kExifPrefix.size() > kMaxExifPayload) return {{}};
    std::vector<std::uint8_t> out(kExifPrefix.begin(), kExifPrefix.end());
    out.insert(out.end(), tiff.begin(), tiff.end());
    return out;
}

std::optional<std::vector<std::uint8_t>> xmpWithoutLocation(const std::vector<std::uint8_t>& p) {
    const std::string packet(p.begin() + std::ptrdiff_t(kXmpSegmentId.size()), p.end());
    Exiv2::XmpData xmp;
    if (Exiv2::XmpParser::decode(xmp, packet) != 0) return std::nullopt;
    if (!removeXmpLocation(xmp)) return std::nullopt;
    std::string written;
    if (Exiv2::XmpParser::encode(written, xmp, Exiv2::XmpParser::useCompactFormat) != 0 ||
        written.size() + kXmpSegmentId.size() > kMaxExifPayload)
        return {{}};
    std::vector<std::uint8_t> out(kXmpSegmentId.begin(), kXmpSegmentId.end());
    out.insert(out.end(), written.begin(), written.end());
    return out;
}

// One image resource of a Photoshop block: a signature, an id, a Pascal name padded to an even
// length, a 32-bit size and the data padded to an even length.
struct ImageResource {
    std::size_t start = 0;
    std::size_t dataStart = 0;
    std::size_t dataSize = 0;
    std::size_t end = 0; // after the padding, never past the block
    std::uint16_t id = 0;
};

constexpr std::uint16_t kIptcResource = 0x0404;

// Splits a Photoshop block into its resources, or nothing when one of them runs past the block.
// Exiv2 0.27's own walker reads past the end of such blocks, so the bounds are checked here.
std::optional<std::vector<ImageResource>> imageResources(std::span<const std::uint8_t> ps) {
    static constexpr std::array<std::string_view, 4> kSignatures{"8BIM", "AgHg", "DCSR", "PHUT"};
    std::vector<ImageResource> resources;
    std::size_t pos = 0;
    while (pos < ps.size()) {
        if (ps.size() - pos < 12) return std::nullopt;
        const std::string_view signature(reinterpret_cast<const char*>(ps.data() + pos), 4);
        if (std::find(kSignatures.begin(), kSignatures.end(), signature) == kSignatures.end())
            return std::nullopt;
        ImageResource r;
        r.start = pos;
        r.id = std::uint16_t(ps[pos + 4] << 8 | ps[pos + 5]);
        const std::size_t nameSize = (std::size_t(ps[pos + 6]) + 2) & ~std::size_t(1);
        const std::size_t sizeAt = pos + 6 + nameSize;
        if (sizeAt + 4 > ps.size()) return std::nullopt;
        r.dataSize = std::size_t(ps[sizeAt]) << 24 | std::size_t(ps[sizeAt + 1]) << 16 |
                     std::size_t(ps[sizeAt + 2]) << 8 | ps[sizeAt + 3];
        r.dataStart = sizeAt + 4;
        if (r.dataSize > ps.size() - r.dataStart) return std::nullopt;
        r.end = std::min(ps.size(), r.dataStart + r.dataSize + (r.dataSize & 1));
        resources.push_back(r);
        pos = r.end;
    }
    return resources;
}

std::optional<std::vector<std::uint8_t>> iptcWithoutLocation(const std::vector<std::uint8_t>& p) {
    const std::span<const std::uint8_t> ps(p.data() + kPhotoshopId.size(),
                                           p.size() - kPhotoshopId.size());
    const auto resources = imageResources(ps);
    if (!resources) return std::nullopt;
    const auto first = std::find_if(resources->begin(), resources->end(),
                                    [](const ImageResource& r) { return r.id == kIptcResource; });
    if (first == resources->end()) return std::nullopt;
    Exiv2::IptcData iptc;
    if (Exiv2::IptcParser::decode(iptc, ps.data() + first->dataStart,
                                  std::uint32_t(first->dataSize)) != 0)
        return std::nullopt;
    if (!removeIptcLocation(iptc)) return std::nullopt;
    const Exiv2::DataBuf records = Exiv2::IptcParser::encode(iptc);

    // The block keeps every other resource in its place; the IPTC resource, written anew, takes the
    // place of the first one, and later IPTC resources go.
    std::vector<std::uint8_t> out(kPhotoshopId.begin(), kPhotoshopId.end());
    for (const ImageResource& r : *resources) {
        if (r.id != kIptcResource) {
            out.insert(out.end(), ps.begin() + std::ptrdiff_t(r.start),
                       ps.begin() + std::ptrdiff_t(r.end));
            continue;
        }
        if (r.start != first->start || records.size_ <= 0) continue;
        const auto size = std::uint32_t(records.size_);
        const std::uint8_t header[12] = {'8',
                                         'B',
                                         'I',
                                         'M',
                                         0x04,
                                         0x04,
                                         0,
                                         0,
                                         std::uint8_t(size >> 24),
                                         std::uint8_t(size >> 16),
                                         std::uint8_t(size >> 8),
                                         std::uint8_t(size)};
        out.insert(out.end(), std::begin(header), std::end(header));
        out.insert(out.end(), records.pData_, records.pData_ + records.size_);
        if (size & 1) out.push_back(0);
    }
    if (out.size() > kMaxExifPayload) return {{}};
    return out;
}

} // namespace

void removeLocationFromSegments(JpegMetadata& metadata) {
    initialiseExiv2();
    for (MetadataSegment& segment : metadata.segments) {
        if (!segment.loaded) continue;
        std::optional<std::vector<std::uint8_t>> rewritten;
        bool exifSegment = false;
        try {
            if (segment.marker == kMarkerApp1 && startsWith(segment.data, "Exif") &&
                segment.data.size() > kExifPrefix.size() + 8) {
                exifSegment = true;
                rewritten = exifWithoutLocation(segment.data);
            } else if (segment.marker == kMarkerApp1 && startsWith(segment.data, kXmpSegmentId)) {
                rewritten = xmpWithoutLocation(segment.data);
            } else if (segment.marker == 0xED && startsWith(segment.data, kPhotoshopId)) {
                rewritten = iptcWithoutLocation(segment.data);
            }
        } catch (...) {
            // A block Exiv2 cannot read: an EXIF block may hold a position, so it goes; XMP and
            // IPTC that cannot be parsed are kept as they are.
            if (exifSegment) rewritten = std::vector<std::uint8_t>{};
        }
        if (!rewritten) continue;
        if (rewritten->empty()) {
            segment.loaded = false; // not written
            segment.data.clear();
            continue;
        }
        segment.data = std::move(*rewritten);
        segment.length = std::uint16_t(segment.data.size());
    }
}

std::vector<std::uint8_t> exifBlockOfFile(const std::string& path, FormatKind kind) {
    return readCarriedMetadata(path, kind).exif;
}

} // namespace quill::pipeline

#pragma GCC diagnostic pop
