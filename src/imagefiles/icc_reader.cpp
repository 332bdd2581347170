// The profile parsers: JPEG APP2 chains, PNG iCCP, TIFF's profile tag and JPEG 2000's colr box
// are walked here; the other formats hand their profile over through their metadata readers.
#include "imagefiles/icc_reader.h"

#include <array>
#include <cstring>
#include <zlib.h>

#include "imagefiles/detail/byte_reader.h"
#include "imagefiles/format.h"
#include "imagefiles/jxl_codec.h"

namespace quill::imagefiles {

namespace {

using Bytes = std::span<const std::uint8_t>;
using detail::ByteReader;

bool startsWith(Bytes bytes, std::size_t offset, const char* text, std::size_t length) {
    return offset <= bytes.size() && length <= bytes.size() - offset &&
           std::memcmp(bytes.data() + offset, text, length) == 0;
}

// JPEG: APP2 segments "ICC_PROFILE\0", sequence number (1-based), count, then a part of the
// profile. The parts may come in any order; a chain with a part missing, doubled or numbered
// beyond its count is not used.
constexpr char kIccMarkerName[] = "ICC_PROFILE";
constexpr std::size_t kIccMarkerPrefix = sizeof kIccMarkerName + 2; // name, NUL, number, count

std::vector<std::uint8_t> jpegProfile(Bytes file) {
    ByteReader r(file);
    std::array<Bytes, 256> parts{};
    int count = 0;
    std::size_t total = 0;
    std::size_t pos = 2;
    while (r.has(pos, 4)) {
        if (r.u8(pos) != 0xFF) return {};
        const std::uint8_t marker = r.u8(pos + 1);
        if (marker == 0xFF) { // fill byte
            ++pos;
            continue;
        }
        // The scan starts the entropy-coded data: every profile segment comes before it.
        if (marker == 0xDA || marker == 0xD9) break;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            pos += 2;
            continue;
        }
        const std::size_t length = r.u16be(pos + 2);
        if (length < 2 || !r.has(pos + 2, length)) break;
        const Bytes payload = r.bytes(pos + 4, length - 2);
        if (marker == 0xE2 && payload.size() >= kIccMarkerPrefix &&
            std::memcmp(payload.data(), kIccMarkerName, sizeof kIccMarkerName) == 0) {
            const int number = payload[sizeof kIccMarkerName];
            const int chainCount = payload[sizeof kIccMarkerName + 1];
            if (number == 0 || chainCount == 0 || number > chainCount) return {};
            if (count != 0 && chainCount != count) return {};
            count = chainCount;
            if (!parts[std::size_t(number)].empty() || payload.size() == kIccMarkerPrefix)
                return {};
            parts[std::size_t(number)] = payload.subspan(kIccMarkerPrefix);
            total += parts[std::size_t(number)].size();
            if (total > kMaxIccProfileBytes) return {};
        }
        pos += 2 + length;
    }
    std::vector<std::uint8_t> profile;
    if (count == 0) return profile;
    profile.reserve(total);
    for (int number = 1; number <= count; ++number) {
        const Bytes part = parts[std::size_t(number)];
        if (part.empty()) return {};
        profile.insert(profile.end(), part.begin(), part.end());
    }
    return profile;
}

// Inflates a zlib stream whole; empty when it is broken, truncated or inflates beyond the cap.
std::vector<std::uint8_t> inflateCapped(Bytes compressed) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return {};
    std::vector<std::uint8_t> out;
    std::array<std::uint8_t, 16384> buffer{};
    stream.next_in = const_cast<Bytef*>(compressed.data());
    stream.avail_in = uInt(compressed.size());
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = buffer.data();
        stream.avail_out = uInt(buffer.size());
        status = inflate(&stream, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END) break;
        const std::size_t produced = buffer.size() - stream.avail_out;
        if (out.size() + produced > kMaxIccProfileBytes) {
            status = Z_MEM_ERROR;
            break;
        }
        out.insert(out.end(), buffer.begin(), buffer.begin() + std::ptrdiff_t(produced));
        if (status == Z_OK && produced == 0 && stream.avail_in == 0) status = Z_BUF_ERROR;
    }
    inflateEnd(&stream);
    if (status != Z_STREAM_END) return {};
    return out;
}

// PNG: the iCCP chunk before IDAT: a name of 1..79 bytes, NUL, the method (0), zlib data.
std::vector<std::uint8_t> pngProfile(Bytes file) {
    ByteReader r(file);
    std::size_t pos = 8;
    while (r.has(pos, 8)) {
        const std::size_t length = r.u32be(pos);
        const Bytes type = r.bytes(pos + 4, 4);
        if (!r.has(pos + 8, length)) return {};
        if (std::memcmp(type.data(), "IDAT", 4) == 0 || std::memcmp(type.data(), "IEND", 4) == 0)
            return {};
        if (std::memcmp(type.data(), "iCCP", 4) == 0) {
            const Bytes data = r.bytes(pos + 8, length);
            const auto* nul = static_cast<const std::uint8_t*>(
                std::memchr(data.data(), 0, std::min<std::size_t>(data.size(), 80)));
            if (nul == nullptr || nul == data.data()) return {};
            const std::size_t method = std::size_t(nul - data.data()) + 1;
            if (method >= data.size() || data[method] != 0) return {};
            return inflateCapped(data.subspan(method + 1));
        }
        pos += 12 + length;
    }
    return {};
}

// TIFF: tag 34675 of the first directory, as UNDEFINED or BYTE values (classic TIFF only).
constexpr std::uint16_t kTiffTagIccProfile = 34675;

std::vector<std::uint8_t> tiffProfile(Bytes file, bool bigEndian) {
    ByteReader r(file);
    const auto u16 = [&](std::size_t at) { return bigEndian ? r.u16be(at) : r.u16le(at); };
    const auto u32 = [&](std::size_t at) { return bigEndian ? r.u32be(at) : r.u32le(at); };
    const std::size_t directory = u32(4);
    const std::size_t entries = u16(directory);
    if (r.failed()) return {};
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t entry = directory + 2 + 12 * i;
        if (!r.has(entry, 12)) return {};
        if (u16(entry) != kTiffTagIccProfile) continue;
        const std::uint16_t type = u16(entry + 2);
        const std::size_t count = u32(entry + 4);
        if ((type != 7 && type != 1) || count == 0 || count > kMaxIccProfileBytes) return {};
        const std::size_t offset = count <= 4 ? entry + 8 : std::size_t(u32(entry + 8));
        const Bytes profile = r.bytes(offset, count);
        return std::vector<std::uint8_t>(profile.begin(), profile.end());
    }
    return {};
}

// JPEG 2000 (JP2): the colr box of the jp2h header box; method 2 (restricted ICC) and 3 (any
// ICC) carry a profile after the method, precedence and approximation bytes.
struct Box {
    std::size_t content = 0; // where the content starts
    std::size_t size = 0;    // the content's size
    Bytes type;
};

// The boxes of [begin, end), handed one by one to `visit` until it returns true.
template <typename Visit>
bool walkBoxes(ByteReader& r, std::size_t begin, std::size_t end, Visit visit) {
    std::size_t pos = begin;
    while (pos + 8 <= end && r.has(pos, 8)) {
        std::uint64_t length = r.u32be(pos);
        std::size_t header = 8;
        if (length == 1) {
            if (!r.has(pos + 8, 8)) return false;
            length = (std::uint64_t(r.u32be(pos + 8)) << 32) | r.u32be(pos + 12);
            header = 16;
        } else if (length == 0) {
            length = end - pos;
        }
        if (length < header || length > end - pos) return false;
        const Box box{pos + header, std::size_t(length) - header, r.bytes(pos + 4, 4)};
        if (visit(box)) return true;
        pos += std::size_t(length);
    }
    return false;
}

bool isBox(const Box& box, const char* type) {
    return box.type.size() == 4 && std::memcmp(box.type.data(), type, 4) == 0;
}

std::vector<std::uint8_t> jp2Profile(Bytes file) {
    ByteReader r(file);
    std::vector<std::uint8_t> profile;
    walkBoxes(r, 0, file.size(), [&](const Box& header) {
        if (!isBox(header, "jp2h")) return false;
        walkBoxes(r, header.content, header.content + header.size, [&](const Box& colr) {
            if (!isBox(colr, "colr") || colr.size <= 3) return false;
            const std::uint8_t method = r.u8(colr.content);
            if (method != 2 && method != 3) return false;
            if (colr.size - 3 > kMaxIccProfileBytes) return true;
            const Bytes bytes = r.bytes(colr.content + 3, colr.size - 3);
            profile.assign(bytes.begin(), bytes.end());
            return true;
        });
        return true;
    });
    return profile;
}

} // namespace

std::vector<std::uint8_t> readIccProfile(Bytes file) {
    if (startsWith(file, 0, "\xFF\xD8", 2)) return jpegProfile(file);
    if (startsWith(file, 0, "\x89PNG\r\n\x1A\n", 8)) return pngProfile(file);
    if (startsWith(file, 0, "II*\0", 4)) return tiffProfile(file, false);
    if (startsWith(file, 0, "MM\0*", 4)) return tiffProfile(file, true);
    if (startsWith(file, 0, "\0\0\0\x0CjP  \r\n\x87\n", 12)) return jp2Profile(file);
    const FormatInfo* format = formatOfContent(file);
    if (format != nullptr && format->kind == FormatKind::JpegXl) {
        std::vector<std::uint8_t> profile = readJxlPixelProfile(file);
        if (profile.size() > kMaxIccProfileBytes) profile.clear();
        return profile;
    }
    if (format == nullptr || format->metadata == nullptr || format->metadata == readIccOnlyMetadata)
        return {};
    std::vector<std::uint8_t> profile = format->metadata(file).icc;
    if (profile.size() > kMaxIccProfileBytes) profile.clear();
    return profile;
}

FileMetadata readIccOnlyMetadata(Bytes file) {
    FileMetadata metadata;
    metadata.icc = readIccProfile(file);
    return metadata;
}

} // namespace quill::imagefiles
