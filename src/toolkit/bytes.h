// Little- and big-endian loads and stores of 16- and 32-bit values, for every file format we read
// or write. The caller checks the bounds; these only move bytes.
#pragma once

#include <cstdint>
#include <vector>

namespace quill::toolkit {

[[nodiscard]] constexpr std::uint16_t loadU16le(const std::uint8_t* p) {
    return std::uint16_t(p[0] | (p[1] << 8));
}
[[nodiscard]] constexpr std::uint32_t loadU32le(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}
[[nodiscard]] constexpr std::uint16_t loadU16be(const std::uint8_t* p) {
    return std::uint16_t((p[0] << 8) | p[1]);
}
[[nodiscard]] constexpr std::uint32_t loadU32be(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           std::uint32_t(p[3]);
}

constexpr void storeU16le(std::uint8_t* p, std::uint16_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}
constexpr void storeU32le(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
    p[2] = std::uint8_t(v >> 16);
    p[3] = std::uint8_t(v >> 24);
}
constexpr void storeU16be(std::uint8_t* p, std::uint16_t v) {
    p[0] = std::uint8_t(v >> 8);
    p[1] = std::uint8_t(v);
}
constexpr void storeU32be(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v >> 24);
    p[1] = std::uint8_t(v >> 16);
    p[2] = std::uint8_t(v >> 8);
    p[3] = std::uint8_t(v);
}

inline void appendU16le(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(std::uint8_t(v));
    out.push_back(std::uint8_t(v >> 8));
}
inline void appendU32le(std::vector<std::uint8_t>& out, std::uint32_t v) {
    appendU16le(out, std::uint16_t(v));
    appendU16le(out, std::uint16_t(v >> 16));
}
inline void appendU16be(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(std::uint8_t(v >> 8));
    out.push_back(std::uint8_t(v));
}

} // namespace quill::toolkit
