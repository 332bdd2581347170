// Per-pixel colour adjustments of the working image: brightness, saturation, contrast, gamma and
// channel offsets, each through lookup tables prepared once.
#include "pipeline/tone.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace quill::pipeline {

using toolkit::Image;

namespace {

/// Rounds to the nearest integer (halves up) and clamps to a byte.
inline std::uint8_t roundToByte(double v) {
    const double r = std::floor(v + 0.5);
    if (r <= 0.0) return 0;
    if (r >= 255.0) return 255;
    return std::uint8_t(r);
}

inline std::uint8_t clampToByte(int v) {
    return std::uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v));
}

/// Passes every colour byte of the image through one table (alpha bytes are skipped).
void applyTable(Image& image, const std::array<std::uint8_t, 256>& t) {
    const int w = image.width();
    if (!image.hasAlpha()) {
        const std::size_t bytes = std::size_t(w) * 3;
        for (int y = 0; y < image.height(); ++y) {
            std::uint8_t* p = image.row(y);
            for (std::size_t i = 0; i < bytes; ++i)
                p[i] = t[p[i]];
        }
        return;
    }
    for (int y = 0; y < image.height(); ++y) {
        std::uint8_t* p = image.row(y);
        for (int x = 0; x < w; ++x, p += 4) {
            p[0] = t[p[0]];
            p[1] = t[p[1]];
            p[2] = t[p[2]];
        }
    }
}

} // namespace

ToneAdjustment::ToneAdjustment(ToneKind kind, double value, BrightnessVariant variant) {
    if (!std::isfinite(value)) return;
    switch (kind) {
    case ToneKind::Brightness:
        for (int c = 0; c < 256; ++c) {
            double v;
            if (variant == BrightnessVariant::Additive)
                v = c + value * 255.0;
            else if (value >= 0.0)
                v = c * (1.0 - value) + 255.0 * value;
            else
                v = c * (1.0 + value);
            m_table[std::size_t(c)] = roundToByte(v);
        }
        break;
    case ToneKind::Saturation: {
        // Fixed point keeps the per-pixel work to integer adds. With 20 fraction bits the four
        // rounded table entries are within 2e-6 of the exact sum, closer than any sum for a
        // preset level (a multiple of 1e-5) comes to a rounding boundary without sitting on it.
        // The sums are 64-bit; absurd factors are limited so that they cannot overflow.
        if (std::fabs(value) > 1e6) value = value < 0 ? -1e6 : 1e6;
        const double one = double(1 << kSaturationBits);
        m_saturation = true;
        auto fixed = [one](double v) { return std::int64_t(std::llround(v * one)); };
        for (int c = 0; c < 256; ++c) {
            m_red[std::size_t(c)] = fixed(0.299 * c * (1.0 - value));
            m_green[std::size_t(c)] = fixed(0.587 * c * (1.0 - value));
            m_blue[std::size_t(c)] = fixed(0.114 * c * (1.0 - value));
            m_own[std::size_t(c)] = fixed(c * value);
        }
        break;
    }
    case ToneKind::Contrast:
        for (int c = 0; c < 256; ++c)
            m_table[std::size_t(c)] = roundToByte(c + (c - 128) * value);
        break;
    case ToneKind::Gamma:
        if (!(value > 0.0)) return;
        for (int c = 0; c < 256; ++c)
            m_table[std::size_t(c)] = roundToByte(255.0 * std::pow(c / 255.0, 1.0 / value));
        break;
    default:
        return;
    }
    m_valid = true;
}

bool ToneAdjustment::apply(Image& image) const {
    if (!m_valid || image.empty()) return false;
    if (!m_saturation) {
        applyTable(image, m_table);
        return true;
    }
    const int bpp = image.bytesPerPixel();
    // Half plus a few units: exact halves round up even when the table rounding left the sum a
    // hair below them.
    const std::int64_t half = (std::int64_t{1} << (kSaturationBits - 1)) + 4;
    auto toByte = [](std::int64_t v) {
        v >>= kSaturationBits;
        return std::uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v));
    };
    for (int y = 0; y < image.height(); ++y) {
        std::uint8_t* p = image.row(y);
        for (int x = 0; x < image.width(); ++x, p += bpp) {
            const std::int64_t grey = m_red[p[2]] + m_green[p[1]] + m_blue[p[0]] + half;
            p[0] = toByte(grey + m_own[p[0]]);
            p[1] = toByte(grey + m_own[p[1]]);
            p[2] = toByte(grey + m_own[p[2]]);
        }
    }
    return true;
}

ChannelOffsets::ChannelOffsets(int dRed, int dGreen, int dBlue) {
    for (int c = 0; c < 256; ++c) {
        // Offsets beyond +-255 act like +-255; clamping first keeps the sums from overflowing.
        m_red[std::size_t(c)] = clampToByte(c + std::clamp(dRed, -256, 256));
        m_green[std::size_t(c)] = clampToByte(c + std::clamp(dGreen, -256, 256));
        m_blue[std::size_t(c)] = clampToByte(c + std::clamp(dBlue, -256, 256));
    }
}

bool ChannelOffsets::apply(Image& image) const {
    if (image.empty()) return false;
    const int bpp = image.bytesPerPixel();
    for (int y = 0; y < image.height(); ++y) {
        std::uint8_t* p = image.row(y);
        for (int x = 0; x < image.width(); ++x, p += bpp) {
            p[0] = m_blue[p[0]];
            p[1] = m_green[p[1]];
            p[2] = m_red[p[2]];
        }
    }
    return true;
}

ToneChain::ToneChain(std::span<const ToneAdjustment> tones, const ChannelOffsets* offsets) {
    auto identity = [] {
        Stage stage;
        for (int c = 0; c < 256; ++c)
            stage.blue[std::size_t(c)] = stage.green[std::size_t(c)] = stage.red[std::size_t(c)] =
                std::uint8_t(c);
        return stage;
    };
    m_stages.push_back(identity());
    for (const ToneAdjustment& tone : tones) {
        if (!tone.m_valid) m_valid = false;
        Stage& last = m_stages.back();
        if (tone.m_saturation) {
            last.mix = true;
            last.mixRed = tone.m_red;
            last.mixGreen = tone.m_green;
            last.mixBlue = tone.m_blue;
            last.mixOwn = tone.m_own;
            m_stages.push_back(identity());
            continue;
        }
        for (Table* t : {&last.blue, &last.green, &last.red})
            for (std::uint8_t& v : *t)
                v = tone.m_table[v];
    }
    if (offsets) {
        Stage& last = m_stages.back();
        for (std::uint8_t& v : last.blue)
            v = offsets->m_blue[v];
        for (std::uint8_t& v : last.green)
            v = offsets->m_green[v];
        for (std::uint8_t& v : last.red)
            v = offsets->m_red[v];
    }
}

bool ToneChain::apply(Image& image) const {
    if (!m_valid || image.empty()) return false;
    const int bpp = image.bytesPerPixel();
    const std::int64_t half = (std::int64_t{1} << (ToneAdjustment::kSaturationBits - 1)) + 4;
    auto toByte = [](std::int64_t v) {
        v >>= ToneAdjustment::kSaturationBits;
        return std::uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v));
    };
    for (int y = 0; y < image.height(); ++y) {
        std::uint8_t* p = image.row(y);
        for (int x = 0; x < image.width(); ++x, p += bpp) {
            std::uint8_t b = p[0], g = p[1], r = p[2];
            for (const Stage& stage : m_stages) {
                b = stage.blue[b];
                g = stage.green[g];
                r = stage.red[r];
                if (stage.mix) {
                    const std::int64_t grey =
                        stage.mixRed[r] + stage.mixGreen[g] + stage.mixBlue[b] + half;
                    b = toByte(grey + stage.mixOwn[b]);
                    g = toByte(grey + stage.mixOwn[g]);
                    r = toByte(grey + stage.mixOwn[r]);
                }
            }
            p[0] = b;
            p[1] = g;
            p[2] = r;
        }
    }
    return true;
}

bool adjustTone(Image& image, ToneKind kind, double value, BrightnessVariant variant) {
    return ToneAdjustment(kind, value, variant).apply(image);
}

bool offsetChannels(Image& image, int dRed, int dGreen, int dBlue) {
    return ChannelOffsets(dRed, dGreen, dBlue).apply(image);
}

int channelOffsetForLevel(int level) {
    const long long scaled = (long long)(level - 100) * 255; // hundredths of the offset
    const long long whole = (std::llabs(scaled) + 50) / 100;
    return int(scaled < 0 ? -whole : whole);
}

} // namespace quill::pipeline
