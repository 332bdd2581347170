// The "ISTF" block container of the text tables: packing, scrambling and unpacking.
#include "settings/language_pack.h"

#include <zlib.h>

#include <array>
#include <cstring>

namespace quill::settings {

namespace {

constexpr std::size_t kHeaderSize = 16;
constexpr std::size_t kKeySize = 894;
// Guards against a hostile plain-size field: the largest table is far below this.
constexpr std::uint32_t kMaxPlainSize = 8u << 20;

// The position-dependent term of the scrambling: byte i is shifted by key[i % n] + term(i).
constexpr std::uint8_t positionTerm(std::size_t i) {
    return static_cast<std::uint8_t>(i * 167u + 29u);
}

std::uint16_t readU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t readU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
void putU16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void putU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    putU16(out, v & 0xFFFF);
    putU16(out, v >> 16);
}

void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | cp >> 6));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | cp >> 12));
        out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | cp >> 18));
        out.push_back(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// UTF-16LE text to UTF-8; unpaired surrogates become U+FFFD.
std::string utf16ToUtf8(const std::uint8_t* data, std::size_t units) {
    std::string out;
    out.reserve(units);
    for (std::size_t i = 0; i < units; ++i) {
        std::uint32_t u = readU16(data + 2 * i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            const std::uint32_t low = readU16(data + 2 * (i + 1));
            if (low >= 0xDC00 && low <= 0xDFFF) {
                appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;
        appendUtf8(out, u);
    }
    return out;
}

// UTF-8 text to UTF-16LE code units; invalid sequences become U+FFFD.
std::vector<std::uint16_t> utf8ToUtf16(const std::string& text) {
    std::vector<std::uint16_t> out;
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        std::uint32_t cp = 0xFFFD;
        std::size_t len = 1;
        const unsigned char c = s[i];
        if (c < 0x80) {
            cp = c;
        } else {
            std::size_t need = 0;
            std::uint32_t value = 0;
            std::uint32_t minimum = 0;
            if ((c & 0xE0) == 0xC0) {
                need = 1;
                value = c & 0x1F;
                minimum = 0x80;
            } else if ((c & 0xF0) == 0xE0) {
                need = 2;
                value = c & 0x0F;
                minimum = 0x800;
            } else if ((c & 0xF8) == 0xF0) {
                need = 3;
                value = c & 0x07;
                minimum = 0x10000;
            }
            bool ok = need > 0 && i + need < n;
            for (std::size_t k = 1; ok && k <= need; ++k) {
                if ((s[i + k] & 0xC0) != 0x80)
                    ok = false;
                else
                    value = value << 6 | (s[i + k] & 0x3F);
            }
            if (ok && value >= minimum && value <= 0x10FFFF &&
                !(value >= 0xD800 && value <= 0xDFFF)) {
                cp = value;
                len = need + 1;
            }
        }
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
    if (readU16(head + 4) != 1) return false;
    const bool scrambled = head[6] == 1;
    const bool compressed = head[7] == 1;
    const std::uint32_t storedSize = readU32(head + 8);
    const std::uint32_t plainSize = readU32(head + 12);
    if (storedSize == 0) return false;
    // The stored payload must lie inside the block.
    if (storedSize > block.size() - kHeaderSize) return false;
    if (plainSize <= 3 || plainSize > kMaxPlainSize) return false;

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
        if (plain[offset] != 0xFF || plain.size() - offset < 3) return false;
        const std::size_t length = readU16(plain.data() + offset + 1);
        if (length == 0) break;
        if (length % 2 != 0 || length > plain.size() - offset - 3) return false;
        entries.push_back(utf16ToUtf8(plain.data() + offset + 3, length / 2));
        offset += 3 + length;
    }
    return entries.size() == entryCount;
}

std::vector<std::uint8_t> packBlock(const std::vector<std::string>& entries,
                                    std::span<const std::uint8_t> key, bool compress) {
    std::vector<std::uint8_t> plain;
    for (const std::string& entry : entries) {
        const std::vector<std::uint16_t> units = utf8ToUtf16(entry);
        if (units.empty() || units.size() * 2 > 0xFFFF) return {};
        plain.push_back(0xFF);
        putU16(plain, static_cast<std::uint32_t>(units.size() * 2));
        for (std::uint16_t u : units)
            putU16(plain, u);
    }
    if (plain.size() <= 3) return {};

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
    putU16(block, 1);
    block.push_back(key.empty() ? 0 : 1);
    block.push_back(compress ? 1 : 0);
    putU32(block, static_cast<std::uint32_t>(stored.size()));
    putU32(block, static_cast<std::uint32_t>(plain.size()));
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
