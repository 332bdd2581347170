// Per-pixel colour adjustments of the working image: brightness, saturation, contrast, gamma and
// channel offsets, each through lookup tables prepared once.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "toolkit/image.h"

namespace quill::pipeline {

/// The tone adjustments, numbered as the pipeline passes them.
enum class ToneKind : int {
    Brightness = 0, ///< value b in -1..1
    Saturation = 1, ///< value s in 0..3 (0 grey, 1 unchanged)
    Contrast = 2,   ///< value k in -1..1
    Gamma = 3,      ///< value g in 0.01..3.99
};

/// How brightness changes a channel.
enum class BrightnessVariant : int {
    Additive = 0, ///< c + b x 255
    Blend = 1,    ///< towards white (b >= 0: c (1 - b) + 255 b) or black (b < 0: c (1 + b))
};

/// A tone adjustment prepared once and applied to any number of images. Only the colour
/// channels change; the alpha of 32-bit images is kept. Results are rounded to the nearest
/// integer (halves up) and clamped to 0..255.
class ToneAdjustment {
public:
    /// Prepares `kind` with `value`. A value that is not finite, or a gamma of 0 or below, gives
    /// an adjustment whose apply() fails.
    ToneAdjustment(ToneKind kind, double value,
                   BrightnessVariant variant = BrightnessVariant::Blend);

    [[nodiscard]] bool valid() const { return m_valid; }
    /// Adjusts every pixel of `image`; false for an empty image or an invalid adjustment.
    [[nodiscard]] bool apply(toolkit::Image& image) const;

private:
    friend class ToneChain;
    bool m_valid = false;
    bool m_saturation = false;
    std::array<std::uint8_t, 256> m_table{};
    /// Saturation, in fixed point with kSaturationBits fraction bits: the weighted luminance
    /// parts L (1 - s) of red, green and blue, and c s.
    static constexpr int kSaturationBits = 20;
    std::array<std::int64_t, 256> m_red{}, m_green{}, m_blue{}, m_own{};
};

/// Per-channel offsets prepared once: each channel plus its offset, clamped to 0..255.
class ChannelOffsets {
public:
    ChannelOffsets(int dRed, int dGreen, int dBlue);
    /// Adjusts every pixel of `image`; false for an empty image.
    [[nodiscard]] bool apply(toolkit::Image& image) const;

private:
    friend class ToneChain;
    std::array<std::uint8_t, 256> m_red{}, m_green{}, m_blue{};
};

/// A sequence of tone adjustments followed by optional channel offsets, applied in one pass over
/// the pixels with the same result as applying each in turn: adjustments that act on each
/// channel alone are merged into one table per channel, so only saturation, which mixes the
/// channels, remains a step of its own.
class ToneChain {
public:
    ToneChain(std::span<const ToneAdjustment> tones, const ChannelOffsets* offsets);

    /// False when any adjustment of the chain is invalid.
    [[nodiscard]] bool valid() const { return m_valid; }
    /// Adjusts every pixel of `image`; false, with the image unchanged, for an empty image or
    /// an invalid chain.
    [[nodiscard]] bool apply(toolkit::Image& image) const;

private:
    using Table = std::array<std::uint8_t, 256>;
    struct Stage {
        Table blue, green, red; ///< per-channel tables before the mix
        bool mix = false;       ///< a saturation follows, with the tables below
        std::array<std::int64_t, 256> mixRed{}, mixGreen{}, mixBlue{}, mixOwn{};
    };
    bool m_valid = true;
    std::vector<Stage> m_stages; ///< the last stage has no mix
};

/// Applies one tone adjustment to `image` (see ToneAdjustment).
[[nodiscard]] bool adjustTone(toolkit::Image& image, ToneKind kind, double value,
                              BrightnessVariant variant = BrightnessVariant::Blend);

/// Adds the offsets to the red, green and blue channels of every pixel, clamped to 0..255.
[[nodiscard]] bool offsetChannels(toolkit::Image& image, int dRed, int dGreen, int dBlue);

/// The channel offset for a stored channel level 0..200 (100 neutral): (level - 100) x 2.55,
/// rounded half away from zero, computed exactly (in floating point 2.55 x 50 falls just short
/// of 127.5).
[[nodiscard]] int channelOffsetForLevel(int level);

} // namespace quill::pipeline
