// Bounds-checked little- and big-endian reads from a byte span, for the program's own parsers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "toolkit/bytes.h"

namespace quill::imagefiles::detail {

/// Reads values at offsets of a byte span; any read past the end yields 0 and sets `failed`.
/// It also reads sequentially from a current position, returning nothing past the end.
class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    [[nodiscard]] std::size_t size() const { return m_bytes.size(); }
    [[nodiscard]] bool has(std::size_t offset, std::size_t count) const {
        return offset <= m_bytes.size() && count <= m_bytes.size() - offset;
    }
    [[nodiscard]] bool failed() const { return m_failed; }

    std::uint8_t u8(std::size_t offset) {
        if (!has(offset, 1)) return fail();
        return m_bytes[offset];
    }
    std::uint16_t u16le(std::size_t offset) {
        if (!has(offset, 2)) return fail();
        return toolkit::loadU16le(m_bytes.data() + offset);
    }
    std::uint32_t u32le(std::size_t offset) {
        if (!has(offset, 4)) return fail();
        return toolkit::loadU32le(m_bytes.data() + offset);
    }
    std::uint16_t u16be(std::size_t offset) {
        if (!has(offset, 2)) return fail();
        return toolkit::loadU16be(m_bytes.data() + offset);
    }
    std::uint32_t u32be(std::size_t offset) {
        if (!has(offset, 4)) return fail();
        return toolkit::loadU32be(m_bytes.data() + offset);
    }
    /// The bytes [offset, offset + count), or an empty span (and `failed`) when out of range.
    std::span<const std::uint8_t> bytes(std::size_t offset, std::size_t count) {
        if (!has(offset, count)) {
            fail();
            return {};
        }
        return m_bytes.subspan(offset, count);
    }
    /// Everything from offset to the end (empty when offset is past the end).
    [[nodiscard]] std::span<const std::uint8_t> tail(std::size_t offset) const {
        return offset < m_bytes.size() ? m_bytes.subspan(offset) : std::span<const std::uint8_t>{};
    }

    // Sequential reading from a current position. These reads return nothing past the end and
    // leave the position unchanged, so a decoder can stop cleanly on truncated data.

    [[nodiscard]] std::size_t position() const { return m_pos; }
    [[nodiscard]] std::size_t remaining() const { return m_bytes.size() - m_pos; }
    [[nodiscard]] bool atEnd() const { return m_pos >= m_bytes.size(); }
    /// Moves to an absolute offset; false (position unchanged) beyond the end.
    [[nodiscard]] bool seek(std::size_t offset) {
        if (offset > m_bytes.size()) return false;
        m_pos = offset;
        return true;
    }
    /// Skips `count` bytes; false (position unchanged) when fewer remain.
    [[nodiscard]] bool skip(std::size_t count) {
        if (count > remaining()) return false;
        m_pos += count;
        return true;
    }
    [[nodiscard]] std::optional<std::uint8_t> u8() {
        if (atEnd()) return std::nullopt;
        return m_bytes[m_pos++];
    }
    [[nodiscard]] std::optional<std::uint16_t> u16le() { return advance(2, &ByteReader::u16le); }
    [[nodiscard]] std::optional<std::uint16_t> u16be() { return advance(2, &ByteReader::u16be); }
    [[nodiscard]] std::optional<std::uint32_t> u32le() { return advance(4, &ByteReader::u32le); }
    [[nodiscard]] std::optional<std::int32_t> i32le() {
        const auto v = u32le();
        if (!v) return std::nullopt;
        return std::int32_t(*v);
    }
    /// The next `count` bytes, consumed; nothing (position unchanged) when fewer remain.
    [[nodiscard]] std::optional<std::span<const std::uint8_t>> take(std::size_t count) {
        if (count > remaining()) return std::nullopt;
        const auto part = m_bytes.subspan(m_pos, count);
        m_pos += count;
        return part;
    }
    /// Up to `count` bytes (fewer at the end of the data), consumed.
    [[nodiscard]] std::span<const std::uint8_t> takeUpTo(std::size_t count) {
        const std::size_t n = count < remaining() ? count : remaining();
        const auto part = m_bytes.subspan(m_pos, n);
        m_pos += n;
        return part;
    }
    /// The byte at the current position without consuming it.
    [[nodiscard]] std::optional<std::uint8_t> peek() const {
        if (atEnd()) return std::nullopt;
        return m_bytes[m_pos];
    }

private:
    template <typename T>
    std::optional<T> advance(std::size_t count, T (ByteReader::*read)(std::size_t)) {
        if (count > remaining()) return std::nullopt;
        const T v = (this->*read)(m_pos);
        m_pos += count;
        return v;
    }

    std::uint8_t fail() {
        m_failed = true;
        return 0;
    }
    std::span<const std::uint8_t> m_bytes;
    bool m_failed = false;
    std::size_t m_pos = 0;
};

} // namespace quill::imagefiles::detail
