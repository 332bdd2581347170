// Reading and patching the EXIF block of an APP1 payload. Every offset comes from the file, so
// every access is checked against the payload before it happens.
#include "pipeline/exif.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "toolkit/bytes.h"

namespace quill::pipeline {
namespace {

constexpr std::size_t kTiffStart = 6; // the TIFF block follows "Exif" 00 00
constexpr std::size_t kEntrySize = 12;
constexpr std::size_t kDateChars = 19; // "yyyy:mm:dd hh:ii:ss"

constexpr std::uint16_t kTagOrientation = 0x0112;
constexpr std::uint16_t kTagExifDirectory = 0x8769;
constexpr std::uint16_t kTagDateTaken = 0x9003;
constexpr std::uint16_t kTagPixelWidth = 0xA002;
constexpr std::uint16_t kTagPixelHeight = 0xA003;

constexpr std::uint16_t kTypeShort = 3;
constexpr std::uint16_t kTypeLong = 4;
constexpr std::uint16_t kTypeSignedLong = 9;

constexpr std::int64_t kSecondsPerDay = 86400;

// The payload as a TIFF block: numbers in the block's byte order, positions relative to the
// payload, every access bounded by the payload length.
class TiffBlock {
public:
    TiffBlock(std::vector<std::uint8_t>& payload, std::size_t size, bool littleEndian)
        : m_bytes(payload.data()), m_size(size), m_little(littleEndian) {}

    [[nodiscard]] bool has(std::size_t at, std::size_t count) const {
        return at <= m_size && count <= m_size - at;
    }
    /// Payload position of `count` bytes at a TIFF offset; nullopt when they leave the payload.
    [[nodiscard]] std::optional<std::size_t> locate(std::uint32_t tiffOffset,
                                                    std::size_t count) const {
        const std::size_t at = kTiffStart + std::size_t(tiffOffset);
        if (!has(at, count)) return std::nullopt;
        return at;
    }
    [[nodiscard]] std::uint16_t u16(std::size_t at) const {
        return m_little ? toolkit::loadU16le(m_bytes + at) : toolkit::loadU16be(m_bytes + at);
    }
    [[nodiscard]] std::uint32_t u32(std::size_t at) const {
        return m_little ? toolkit::loadU32le(m_bytes + at) : toolkit::loadU32be(m_bytes + at);
    }
    void put16(std::size_t at, std::uint16_t v) {
        m_little ? toolkit::storeU16le(m_bytes + at, v) : toolkit::storeU16be(m_bytes + at, v);
    }
    void put32(std::size_t at, std::uint32_t v) {
        m_little ? toolkit::storeU32le(m_bytes + at, v) : toolkit::storeU32be(m_bytes + at, v);
    }
    [[nodiscard]] std::string_view text(std::size_t at, std::size_t count) const {
        return {reinterpret_cast<const char*>(m_bytes + at), count};
    }
    void putBytes(std::size_t at, std::string_view bytes) {
        std::memcpy(m_bytes + at, bytes.data(), bytes.size());
    }

private:
    std::uint8_t* m_bytes;
    std::size_t m_size;
    bool m_little;
};

// One directory entry: tag, type, count and the 4-byte value field at `at + 8`.
struct Entry {
    std::size_t at;
    std::uint16_t tag;
    std::uint16_t type;
    std::uint32_t count;
};

// An orientation, width or height entry. Only SHORT and LONG values that sit in the entry's own
// value field are touched, so a write never lands anywhere but in that field.
void walkNumber(TiffBlock& block, const Entry& entry, ExifMode mode, std::int32_t& value) {
    const std::size_t field = entry.at + 8;
    if (entry.type == kTypeShort && entry.count >= 1 && entry.count <= 2) {
        if (mode == ExifMode::Read) {
            value = block.u16(field);
        } else if (value >= 0 && value <= 0xFFFF) {
            block.put16(field, std::uint16_t(value));
        }
    } else if ((entry.type == kTypeLong || entry.type == kTypeSignedLong) && entry.count == 1) {
        if (mode == ExifMode::Read) {
            value = std::int32_t(block.u32(field));
        } else if (value >= 0) {
            block.put32(field, std::uint32_t(value));
        }
    }
}

[[nodiscard]] bool isNumberEntry(const Entry& entry) {
    if (entry.type == kTypeShort) return entry.count >= 1 && entry.count <= 2;
    return (entry.type == kTypeLong || entry.type == kTypeSignedLong) && entry.count == 1;
}

// The date entry points at its text. Counts below 19 would be held in the entry itself, so the
// value field is then no offset and is left alone; writing needs room for the closing zero too.
[[nodiscard]] bool walkDate(TiffBlock& block, const Entry& entry, ExifView& view) {
    const bool reading = view.mode == ExifMode::Read;
    const std::size_t needed = reading ? kDateChars : kDateChars + 1;
    if (entry.count < needed) return false;
    const auto at = block.locate(block.u32(entry.at + 8), needed);
    if (!at) return false;
    if (reading) {
        const auto date = parseExifDate(block.text(*at, kDateChars));
        if (!date) return false;
        view.date = *date;
        return true;
    }
    const std::string text = formatExifDate(view.date);
    if (text.empty()) return false;
    block.putBytes(*at, std::string_view(text.c_str(), text.size() + 1));
    return true;
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's civil-date algorithm).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + std::int64_t(doe) - 719468;
}

struct CivilDate {
    std::int64_t year;
    unsigned month;
    unsigned day;
};

CivilDate civilFromDays(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {std::int64_t(yoe) + era * 400 + (m <= 2), m, d};
}

bool isLeapYear(std::int64_t y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

unsigned daysInMonth(std::int64_t y, unsigned m) {
    static constexpr std::array<unsigned, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeapYear(y) ? 29 : kDays[m - 1];
}

// rows: rotateMode 0..6; columns: orientation 1..8
constexpr std::array<std::array<std::int8_t, 8>, 7> kOrientationAfter{{
    {6, 5, 8, 7, 4, 3, 2, 1}, // 90° counter-clockwise
    {8, 7, 6, 5, 2, 1, 4, 3}, // 90° clockwise
    {3, 4, 1, 2, 7, 8, 5, 6}, // 180°
    {2, 1, 4, 3, 8, 7, 6, 5}, // mirror left-right
    {4, 3, 2, 1, 6, 5, 8, 7}, // mirror top-bottom
    {5, 6, 7, 8, 1, 2, 3, 4}, // transpose
    {7, 8, 5, 6, 3, 4, 1, 2}, // transverse
}};

} // namespace

bool openExif(const JpegMetadata& metadata, ExifView& view) {
    view = ExifView{};
    static constexpr std::uint8_t kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
    static constexpr std::uint8_t kLittle[4] = {0x49, 0x49, 0x2A, 0x00};
    static constexpr std::uint8_t kBig[4] = {0x4D, 0x4D, 0x00, 0x2A};
    for (std::size_t i = 0; i < metadata.segments.size(); ++i) {
        const MetadataSegment& segment = metadata.segments[i];
        if (segment.marker != kMarkerApp1 || !segment.loaded) continue;
        const std::vector<std::uint8_t>& d = segment.data;
        if (d.size() < kTiffStart + 8 || d.size() > kMaxSegmentPayload) continue;
        if (std::memcmp(d.data(), kExifHeader, 6) != 0) continue;
        const bool little = std::memcmp(d.data() + kTiffStart, kLittle, 4) == 0;
        if (!little && std::memcmp(d.data() + kTiffStart, kBig, 4) != 0) continue;
        view.valid = true;
        view.littleEndian = little;
        view.length = std::uint16_t(d.size());
        view.data = d;
        view.segmentIndex = i;
        return true;
    }
    return false;
}

void walkExif(ExifView& view) {
    const std::uint8_t requested = view.tags;
    view.tags = 0;
    if (!view.valid) return;
    TiffBlock block(view.data, std::min<std::size_t>(view.length, view.data.size()),
                    view.littleEndian);
    if (!block.has(kTiffStart, 8)) return;

    std::uint8_t found = 0;
    auto number = [&](const Entry& entry, std::uint8_t flag, std::int32_t& value) {
        if (!(requested & flag) || !isNumberEntry(entry)) return;
        found |= flag;
        walkNumber(block, entry, view.mode, value);
    };

    // The first image directory, then (at most once, so a pointer back cannot loop) the EXIF
    // sub-directory it points to. A directory ends at its entry count, a tag 0 or the payload end.
    std::optional<std::size_t> directory = block.locate(block.u32(kTiffStart + 4), 2);
    bool inSubDirectory = false;
    while (directory) {
        const std::size_t count = block.u16(*directory);
        std::optional<std::size_t> next;
        std::size_t at = *directory + 2;
        for (std::size_t i = 0; i < count && block.has(at, kEntrySize); ++i, at += kEntrySize) {
            const Entry entry{at, block.u16(at), block.u16(at + 2), block.u32(at + 4)};
            if (entry.tag == 0) break;
            switch (entry.tag) {
            case kTagExifDirectory:
                if (!inSubDirectory) next = block.locate(block.u32(at + 8), 2);
                break;
            case kTagOrientation:
                number(entry, ExifOrientation, view.orientation);
                break;
            case kTagPixelWidth:
                number(entry, ExifPixelWidth, view.width);
                break;
            case kTagPixelHeight:
                number(entry, ExifPixelHeight, view.height);
                break;
            case kTagDateTaken:
                if ((requested & ExifDateTaken) && walkDate(block, entry, view)) {
                    found |= ExifDateTaken;
                }
                break;
            default:
                break;
            }
            if (next) break; // continue the scan in the sub-directory
        }
        directory = next;
        inSubDirectory = true;
    }
    view.tags = found;
}

bool storeExif(JpegMetadata& metadata, const ExifView& view) {
    if (!view.valid || view.segmentIndex >= metadata.segments.size()) return false;
    MetadataSegment& segment = metadata.segments[view.segmentIndex];
    if (segment.marker != kMarkerApp1 || !segment.loaded) return false;
    if (view.data.size() > kMaxSegmentPayload || view.length != view.data.size()) return false;
    segment.data = view.data;
    segment.length = view.length;
    return true;
}

std::int32_t newOrientation(std::int32_t orientation, std::int32_t rotateMode) {
    if (orientation < 1 || orientation > 8 || rotateMode < 0 || rotateMode > 6) return -1;
    return kOrientationAfter[std::size_t(rotateMode)][std::size_t(orientation - 1)];
}

std::int32_t patchedOrientation(std::int32_t stored, std::int32_t rotationApplied) {
    if (rotationApplied < 0 || stored == 1) return -1;
    return newOrientation(stored, rotationApplied);
}

std::int32_t uprightRotateMode(std::int32_t orientation) {
    if (orientation == 1) return -1;
    for (std::int32_t mode = 0; mode <= 6; ++mode) {
        if (newOrientation(orientation, mode) == 1) return mode;
    }
    return -1;
}

std::int32_t tiffOrientation(std::span<const std::uint8_t> tiff) {
    if (tiff.size() < 8) return 0;
    const bool little = tiff[0] == 'I' && tiff[1] == 'I' && tiff[2] == 42 && tiff[3] == 0;
    const bool big = tiff[0] == 'M' && tiff[1] == 'M' && tiff[2] == 0 && tiff[3] == 42;
    if (!little && !big) return 0;
    const auto u16 = [&](std::size_t at) {
        return little ? toolkit::loadU16le(&tiff[at]) : toolkit::loadU16be(&tiff[at]);
    };
    const auto u32 = [&](std::size_t at) {
        return little ? toolkit::loadU32le(&tiff[at]) : toolkit::loadU32be(&tiff[at]);
    };
    const std::uint64_t directory = u32(4);
    if (directory > tiff.size() || tiff.size() - directory < 2) return 0;
    const std::uint64_t count = u16(std::size_t(directory));
    const std::uint64_t entries = directory + 2;
    // Only the entries the block holds are read: a count that runs past its end is cut short.
    const std::uint64_t held = std::min(count, (tiff.size() - entries) / kEntrySize);
    for (std::uint64_t i = 0; i < held; ++i) {
        const std::size_t at = std::size_t(entries + i * kEntrySize);
        if (u16(at) != kTagOrientation) continue;
        // One SHORT, kept in the first two bytes of the entry's value field.
        if (u16(at + 2) != kTypeShort || u32(at + 4) != 1) return 0;
        const std::int32_t value = u16(at + 8);
        return value >= 1 && value <= 8 ? value : 0;
    }
    return 0;
}

std::span<const std::uint8_t> pngExifBlock(std::span<const std::uint8_t> png) {
    static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (png.size() < 8 || std::memcmp(png.data(), kSignature, 8) != 0) return {};
    std::size_t at = 8;
    // Each chunk: its data length, its type, the data and a CRC of 4 bytes.
    while (png.size() - at >= 12) {
        const std::uint32_t length = toolkit::loadU32be(&png[at]);
        const std::uint8_t* type = &png[at + 4];
        if (length > png.size() - at - 12) return {};
        if (std::memcmp(type, "IEND", 4) == 0) return {};
        if (std::memcmp(type, "eXIf", 4) == 0) {
            std::span<const std::uint8_t> block = png.subspan(at + 8, length);
            static constexpr std::uint8_t kExifPrefix[6] = {'E', 'x', 'i', 'f', 0, 0};
            if (block.size() >= 6 && std::memcmp(block.data(), kExifPrefix, 6) == 0)
                block = block.subspan(6);
            return block;
        }
        at += std::size_t(length) + 12;
    }
    return {};
}

std::optional<std::int64_t> parseExifDate(std::string_view text) {
    if (text.size() < kDateChars) return std::nullopt;
    static constexpr std::string_view kPattern = "dddd:dd:dd dd:dd:dd";
    for (std::size_t i = 0; i < kDateChars; ++i) {
        const char c = text[i];
        if (kPattern[i] == 'd' ? (c < '0' || c > '9') : c != kPattern[i]) return std::nullopt;
    }
    auto field = [&](std::size_t at, std::size_t digits) {
        unsigned v = 0;
        for (std::size_t i = 0; i < digits; ++i)
            v = v * 10 + unsigned(text[at + i] - '0');
        return v;
    };
    const std::int64_t year = field(0, 4);
    const unsigned month = field(5, 2), day = field(8, 2);
    const unsigned hour = field(11, 2), minute = field(14, 2), second = field(17, 2);
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) ||
        hour > 23 || minute > 59 || second > 60) {
        return std::nullopt;
    }
    return daysFromCivil(year, month, day) * kSecondsPerDay + hour * 3600 + minute * 60 + second;
}

std::string formatExifDate(std::int64_t localSeconds) {
    // Floor division keeps dates before 1970 on the right day.
    std::int64_t days = localSeconds / kSecondsPerDay;
    std::int64_t rest = localSeconds % kSecondsPerDay;
    if (rest < 0) {
        rest += kSecondsPerDay;
        --days;
    }
    const CivilDate date = civilFromDays(days);
    if (date.year < 1 || date.year > 9999) return {};
    char text[32];
    std::snprintf(text, sizeof text, "%04d:%02u:%02u %02d:%02d:%02d", int(date.year), date.month,
                  date.day, int(rest / 3600), int(rest / 60 % 60), int(rest % 60));
    return text;
}

} // namespace quill::pipeline
