// The "ISTF" block container of the text tables: packing, scrambling and unpacking.
#include "settings/language_pack.h"

#include <zlib.h>

#include <array>
#include <cstring>

#include "toolkit/bytes.h"
#include "toolkit/utf8.h"

namespace quill::settings {

namespace {

constexpr std::size_t kHeaderSize = 16;
constexpr std::size_t kKeySize = 894;
// Guards against a hostile plain-size field: the largest table is far below this.
constexpr std::uint32_t kMaxPlainSize = 8u << 20;
// Each entry of the unpacked block: this marker byte, the entry's byte length (u16, even), then
// its UTF-16LE units.
constexpr std::uint8_t kEntryMarker = 0xFF;
constexpr std::size_t kEntryHeaderSize = 3;

// The position-dependent term of the scrambling: byte i is shifted by key[i % n] + term(i).
constexpr std::uint8_t positionTerm(std::size_t i) {
    return static_cast<std::uint8_t>(i * 167u + 29u);
}

// UTF-16LE text to UTF-8; unpaired surrogates become U+FFFD.
std::string utf16ToUtf8(const std::uint8_t* data, std::size_t units) {
    std::string out;
    out.reserve(units);
    for (std::size_t i = 0; i < units; ++i) {
        std::uint32_t u = toolkit::loadU16le(data + 2 * i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            const std::uint32_t low = toolkit::loadU16le(data + 2 * (i + 1));
            if (low >= 0xDC00 && low <= 0xDFFF) {
                toolkit::appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;
        toolkit::appendUtf8(out, u);
    }
    return out;
}

// UTF-8 text to UTF-16LE code units; invalid sequences become U+FFFD.
std::vector<std::uint16_t> utf8ToUtf16(const std::string& text) {
    std::vector<std::uint16_t> out;
    std::size_t i = 0;
    while (i < text.size()) {
        const toolkit::Utf8Char c = toolkit::decodeUtf8At(text, i);
        std::uint32_t cp = c.length == 0 ? 0xFFFD : c.code;
        const std::size_t len = c.length == 0 ? 1 : c.length;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<std::uint16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<std::uint16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<std::uint16_t>(cp));
        }
        i += len;
    }
    return out;
}

} // namespace

const std::vector<std::uint8_t>& scrambleKey() {
    static const std::vector<std::uint8_t> key = [] {
        // A fixed pseudo-random pattern with the program's own text over its first 20 bytes.
        std::vector<std::uint8_t> bytes(kKeySize);
        std::uint32_t state = 0x51A1D3E7u;
        for (auto& b : bytes) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            b = static_cast<std::uint8_t>(state >> 11);
        }
        static constexpr char kOverlay[] = "Quillmere text table";
        static_assert(sizeof(kOverlay) - 1 == 20);
        std::memcpy(bytes.data(), kOverlay, 20);
        return bytes;
    }();
    return key;
}

bool unpackBlock(std::span<const std::uint8_t> block, std::span<const std::uint8_t> key,
                 std::size_t entryCount, std::vector<std::string>& entries) {
    entries.clear();
    if (block.size() <= kHeaderSize) return false;
    const std::uint8_t* head = block.data();
    if (std::memcmp(head, "ISTF", 4) != 0) return false;
    if (toolkit::loadU16le(head + 4) != 1) return false;
    const bool scrambled = head[6] == 1;
    const bool compressed = head[7] == 1;
    const std::uint32_t storedSize = toolkit::loadU32le(head + 8);
    const std::uint32_t plainSize = toolkit::loadU32le(head + 12);
    if (storedSize == 0) return false;
    // The stored payload must lie inside the block.
    if (storedSize > block.size() - kHeaderSize) return false;
    if (plainSize <= kEntryHeaderSize || plainSize > kMaxPlainSize) return false;

    std::vector<std::uint8_t> stored(block.begin() + kHeaderSize,
                                     block.begin() + kHeaderSize + storedSize);
    if (scrambled) {
        if (key.empty()) return false;
        for (std::size_t i = 0; i < stored.size(); ++i) {
            stored[i] =
                static_cast<std::uint8_t>(stored[i] - key[i % key.size()] - positionTerm(i));
        }
    }

    std::vector<std::uint8_t> plain;
    if (compressed) {
        plain.resize(plainSize);
        uLongf length = plainSize;
        if (uncompress(plain.data(), &length, stored.data(), stored.size()) != Z_OK) return false;
        if (length != plainSize) return false;
    } else {
        if (stored.size() != plainSize) return false;
        plain = std::move(stored);
    }

    std::size_t offset = 0;
    while (entries.size() < entryCount && offset < plain.size()) {
        if (plain[offset] != kEntryMarker || plain.size() - offset < kEntryHeaderSize) return false;
        const std::size_t length = toolkit::loadU16le(plain.data() + offset + 1);
        if (length == 0) break;
        if (length % 2 != 0 || length > plain.size() - offset - kEntryHeaderSize) return false;
        entries.push_back(utf16ToUtf8(plain.data() + offset + kEntryHeaderSize, length / 2));
        offset += kEntryHeaderSize + length;
    }
    return entries.size() == entryCount;
}

std::vector<std::uint8_t> packBlock(const std::vector<std::string>& entries,
                                    std::span<const std::uint8_t> key, bool compress) {
    std::vector<std::uint8_t> plain;
    for (const std::string& entry : entries) {
        const std::vector<std::uint16_t> units = utf8ToUtf16(entry);
        if (units.empty() || units.size() * 2 > 0xFFFF) return {};
        plain.push_back(kEntryMarker);
        toolkit::appendU16le(plain, static_cast<std::uint16_t>(units.size() * 2));
        for (std::uint16_t u : units)
            toolkit::appendU16le(plain, u);
    }
    if (plain.size() <= kEntryHeaderSize) return {};

    std::vector<std::uint8_t> stored;
    if (compress) {
        uLongf length = compressBound(plain.size());
        stored.resize(length);
        if (compress2(stored.data(), &length, plain.data(), plain.size(), Z_BEST_COMPRESSION) !=
            Z_OK) {
            return {};
        }
        stored.resize(length);
    } else {
        stored = plain;
    }
    if (!key.empty()) {
        for (std::size_t i = 0; i < stored.size(); ++i) {
            stored[i] =
                static_cast<std::uint8_t>(stored[i] + key[i % key.size()] + positionTerm(i));
        }
    }

    std::vector<std::uint8_t> block = {'I', 'S', 'T', 'F'};
    toolkit::appendU16le(block, 1);
    block.push_back(key.empty() ? 0 : 1);
    block.push_back(compress ? 1 : 0);
    toolkit::appendU32le(block, static_cast<std::uint32_t>(stored.size()));
    toolkit::appendU32le(block, static_cast<std::uint32_t>(plain.size()));
    block.insert(block.end(), stored.begin(), stored.end());
    return block;
}

bool parseTextTable(std::string_view source, std::size_t expectedCount,
                    std::vector<std::string>& entries, std::string& error) {
    entries.clear();
    std::size_t lineNumber = 0;
    std::size_t pos = 0;
    while (pos < source.size()) {
        std::size_t end = source.find('\n', pos);
        if (end == std::string_view::npos) end = source.size();
        std::string_view line = source.substr(pos, end - pos);
        pos = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;

        const std::string where = "line " + std::to_string(lineNumber) + ": ";
        std::size_t digits = 0;
        std::size_t index = 0;
        while (digits < line.size() && digits < 6 && line[digits] >= '0' && line[digits] <= '9') {
            index = index * 10 + static_cast<std::size_t>(line[digits] - '0');
            ++digits;
        }
        if (digits == 0 || line.substr(digits, 2) != ": ") {
            error = where + "expected \"<index>: <text>\"";
            return false;
        }
        if (index != entries.size()) {
            error = where + "entry " + std::to_string(index) + " where entry " +
                    std::to_string(entries.size()) + " was expected";
            return false;
        }
        if (index >= expectedCount) {
            error = where + "extra entry " + std::to_string(index) + " (the table has " +
                    std::to_string(expectedCount) + ")";
            return false;
        }
        std::string text;
        const std::string_view raw = line.substr(digits + 2);
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] != '\\' || i + 1 == raw.size()) {
                text.push_back(raw[i]);
                continue;
            }
            const char next = raw[++i];
            switch (next) {
            case 'n':
                text.push_back('\n');
                break;
            case 'r':
                text.push_back('\r');
                break;
            case 't':
                text.push_back('\t');
                break;
            case '\\':
                text.push_back('\\');
                break;
            default:
                text.push_back('\\');
                text.push_back(next);
            }
        }
        if (text.empty()) {
            error = where + "entry " + std::to_string(index) + " is empty";
            return false;
        }
        entries.push_back(std::move(text));
    }
    if (entries.size() != expectedCount) {
        error = "the table has " + std::to_string(entries.size()) + " entries, expected " +
                std::to_string(expectedCount);
        return false;
    }
    return true;
}

} // namespace quill::settings
