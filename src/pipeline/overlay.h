// The overlay step: a text block or another image placed on the working image at one of nine
// anchor positions, with opacity and an optional outline (text) or frame (image).
#pragma once

#include "settings/preset_codes.h"
#include "toolkit/image.h"
#include "toolkit/text_renderer.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quill::settings {
struct Preset;
}

namespace quill::pipeline {

/// The preset fields the overlay step reads (the text pattern and the image path are handled by
/// the caller: the text is expanded per image, the path resolved once per run).
struct OverlaySettings {
    settings::OverlayKind overlayKind = settings::OverlayKind::Text;
    std::string overlayFontName = "Arial";
    std::uint32_t overlayFontStyle = 0; ///< 256 bold, 512 italic, 4 underline, 8 strike-out
    int overlayFontSize = 28;           ///< character (em) height in pixels
    settings::TextAlign overlayTextAlign = settings::TextAlign::Left; ///< lines inside the block
    int overlayLineSpacing = 0;         ///< extra pixels between lines
    std::uint32_t overlayTextColor = 0; ///< 0x00BBGGRR
    int overlayImageScale = 100;        ///< percent of the overlay image's own size
    int overlayOutline = 0;             ///< 1: outline around the text or frame around the image
    int overlayOutlineWidth = 2;
    std::uint32_t overlayOutlineColor = 0xFFFFFF;
    int overlayOpacity = 100; ///< percent
    settings::OverlayAlign overlayHorizontalAlign = settings::OverlayAlign::End;
    int overlayHorizontalMargin = 15;
    settings::OverlayAlign overlayVerticalAlign = settings::OverlayAlign::End;
    int overlayVerticalMargin = 15;
};

/// The overlay fields of a preset.
[[nodiscard]] OverlaySettings overlaySettingsFrom(const settings::Preset& preset);

/// Alpha for an opacity in percent: below 100 the opacity times 2.55 (in double precision)
/// truncated, so 50 gives 127 and 99 gives 252; 100 (or more) gives 255, below 1 gives 0.
[[nodiscard]] std::uint8_t opacityAlpha(int opacity);

/// Offset from an alignment and a margin: Start gives +margin (from the left or top edge), Centre
/// gives 0, End gives -margin (from the right or bottom edge).
[[nodiscard]] int overlayOffset(settings::OverlayAlign align, int margin);

/// Line alignment code of the text renderer for `overlayTextAlign`: Left -> 1, Centre -> 3,
/// Right -> 2.
[[nodiscard]] int textAlignCode(settings::TextAlign overlayTextAlign);

/// Where a text block of `blockSize` starts on an image side of `imageSize`: the offset when it
/// is positive, imageSize - blockSize + offset when negative, (imageSize - blockSize) / 2 (toward
/// zero) when 0.
[[nodiscard]] long long textBlockPosition(int imageSize, int blockSize, int offset);

/// Where an overlay image of `overlaySize` with a frame of `frame` pixels (0 without a frame)
/// starts: frame + offset, imageSize - overlaySize + offset - frame, or centred.
[[nodiscard]] long long overlayImagePosition(int imageSize, int overlaySize, int offset, int frame);

/// The request handed to the text renderer.
struct TextStyle {
    std::string text;                    ///< lines separated by line feeds (UTF-8)
    toolkit::Rgba colour;                ///< text colour with alpha
    const toolkit::Font* font = nullptr; ///< font to draw with
    int align = 1;                       ///< 1 left, 2 right, 3 centre; other values count as 1
    int width = 0;   ///< in: maximum line width for wrapping (0: none); out: block width
    int height = 0;  ///< out: block height (0 when rendering failed)
    int originX = 0; ///< out: where the block's left edge lies in the rendered image
    int originY = 0; ///< out: where the block's top edge lies in the rendered image
    float angle = 0; ///< rotation of the block; only 0 is supported, other angles fail
    int mode = 1;    ///< 1: wrap word by word at `width`; -1: lines break only at line feeds
    int lineSpacing = 0;
    int outline = -1;            ///< 1 outline on, other values off
    toolkit::Rgba outlineColour; ///< with alpha; 0 counts as opaque white
    int outlineWidth = 1;        ///< values below 1 count as 1
};

/// Renders the text block as a new 32-bit image on a transparent background and writes its size
/// into style.width and style.height. The block size is the lines' size (widest advance, line
/// heights and spacing, plus the outline on each side); glyph ink that reaches past it (italics,
/// "j", "f", characters from a taller fallback face) and the outline around that ink are kept:
/// the image then extends beyond the block, and style.originX and style.originY say where the
/// block's top-left corner lies in it. Callers place the block, not the image. With the outline on,
/// the text colour and outline colour written back into `style` are the adjusted ones (see
/// overlay.cpp). On failure the image is empty and both sizes are 0. A text without visible width
/// and without outline gives an empty image with style.width 0 and style.height > 0: nothing to
/// draw, which is not a failure.
[[nodiscard]] toolkit::Image renderText(TextStyle& style);

/// What drawTextOverlay draws and where.
struct TextOverlayOptions {
    std::string_view text = {};          ///< lines separated by line feeds (UTF-8)
    const toolkit::Font* font = nullptr; ///< font to draw with
    toolkit::Rgba colour = {};           ///< RGB; the alpha comes from `opacity`
    int offsetX = 0;                     ///< anchor offsets, see textBlockPosition
    int offsetY = 0;
    int align = 1;       ///< the renderer's line alignment: 1 left, 2 right, 3 centre
    int lineSpacing = 0; ///< extra pixels between lines
    int opacity = 100;   ///< percent
    bool outline = false;
    int outlineWidth = 1;
    toolkit::Rgba outlineColour = {}; ///< RGB; the alpha comes from `opacity`
};

/// Draws a text block on the image. False when the image or the font is missing or rendering
/// fails.
[[nodiscard]] bool drawTextOverlay(toolkit::Image& image, const TextOverlayOptions& options);

/// Where and how drawImageOverlay draws.
struct ImageOverlayOptions {
    int offsetX = 0; ///< anchor offsets, see overlayImagePosition
    int offsetY = 0;
    int opacity = 100; ///< percent; scales the overlay's own alpha
    bool frame = false;
    int frameWidth = 0;             ///< pixels
    toolkit::Rgba frameColour = {}; ///< RGB; the alpha comes from `opacity`
};

/// Draws `overlay` on the image, with a frame around it when asked. False when either image is
/// missing.
[[nodiscard]] bool drawImageOverlay(toolkit::Image& image, const toolkit::Image& overlay,
                                    const ImageOverlayOptions& options);

/// A run's overlay, prepared once and then only read: the settings, the anchor offsets and, for
/// the image kind, the overlay image already scaled. The font of the text kind is not part of it:
/// a font caches glyphs as it draws, so each thread opens its own (openOverlayFont).
struct PreparedOverlay {
    OverlaySettings settings;
    toolkit::Image image; ///< image kind, already scaled; empty when missing
    int offsetX = 0;
    int offsetY = 0;

    [[nodiscard]] bool isText() const {
        return settings.overlayKind != settings::OverlayKind::Image;
    }
    /// The font the text kind draws with.
    [[nodiscard]] toolkit::FontRequest fontRequest() const;
};

/// Prepares a run's overlay; for the image kind the file at `overlayImageRun` (any readable
/// format) is loaded and scaled by overlayImageScale / 100. A missing image stays empty, so every
/// image's overlay step fails.
[[nodiscard]] PreparedOverlay prepareOverlay(const OverlaySettings& settings,
                                             const std::string& overlayImageRun);

/// prepareOverlay with the overlay image already loaded (it is scaled here).
[[nodiscard]] PreparedOverlay prepareOverlayWithImage(const OverlaySettings& settings,
                                                      toolkit::Image overlayImage);

/// The font of a text overlay; nullopt for the image kind or when the font is missing (every
/// image's overlay step then fails).
[[nodiscard]] std::optional<toolkit::Font> openOverlayFont(const PreparedOverlay& prepared);

/// Runs the overlay step on the working image with the text already expanded for this image and
/// the font from openOverlayFont (unused for the image kind). True when drawn; false makes the
/// image's result StepFailed with the overlay detail code.
/// `outputProfile` is the ICC profile the working image's pixels are in (empty: sRGB): the
/// colours and the overlay image, chosen in sRGB, are converted into it before drawing.
[[nodiscard]] bool applyOverlay(toolkit::Image& image, const PreparedOverlay& prepared,
                                const toolkit::Font* font, std::string_view expandedText,
                                std::span<const std::uint8_t> outputProfile = {});

} // namespace quill::pipeline
