// The overlay step: text block rendering with its outline rule, anchoring, and alpha blending of
// the text block or overlay image onto the working image.
#include "pipeline/overlay.h"

#include "imagefiles/colour_profile.h"

#include "imagefiles/image_loader.h"
#include "pipeline/resize.h"
#include "settings/preset.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace quill::pipeline {

using toolkit::Image;
using toolkit::PixelFormat;
using toolkit::Rgba;

namespace {

constexpr std::uint32_t kRgbMask = 0x00FFFFFF;

Rgba withAlpha(Rgba colour, std::uint8_t alpha) {
    return Rgba{(colour.value & kRgbMask) | (std::uint32_t(alpha) << 24)};
}

Rgba pixelColour(const std::uint8_t* p) {
    return Rgba::fromChannels(p[2], p[1], p[0], p[3]);
}

void setPixel(std::uint8_t* p, Rgba colour) {
    p[0] = colour.blue();
    p[1] = colour.green();
    p[2] = colour.red();
    p[3] = colour.alpha();
}

/// Blends a straight-alpha colour with coverage `alpha` over one pixel. A 32-bit destination is
/// composited with its own alpha (source over destination), so text drawn onto transparent
/// parts keeps its colour instead of being darkened towards the transparent pixel's colour.
inline void blendPixel(std::uint8_t* dst, bool dstHasAlpha, std::uint8_t blue, std::uint8_t green,
                       std::uint8_t red, unsigned alpha) {
    if (alpha == 0) return;
    if (!dstHasAlpha) {
        const unsigned inverse = 255 - alpha;
        dst[0] = std::uint8_t((blue * alpha + dst[0] * inverse + 127) / 255);
        dst[1] = std::uint8_t((green * alpha + dst[1] * inverse + 127) / 255);
        dst[2] = std::uint8_t((red * alpha + dst[2] * inverse + 127) / 255);
        return;
    }
    const unsigned sourceWeight = alpha * 255;
    const unsigned destWeight = dst[3] * (255 - alpha);
    const unsigned total = sourceWeight + destWeight; // > 0 because alpha > 0
    dst[0] = std::uint8_t((blue * sourceWeight + dst[0] * destWeight + total / 2) / total);
    dst[1] = std::uint8_t((green * sourceWeight + dst[1] * destWeight + total / 2) / total);
    dst[2] = std::uint8_t((red * sourceWeight + dst[2] * destWeight + total / 2) / total);
    dst[3] = std::uint8_t((total + 127) / 255);
}

/// Draws `source` at (x, y) with its per-pixel alpha (255 for 24-bit) times `opacity` / 255,
/// clipped to the destination.
void blendImage(Image& destination, const Image& source, long long x, long long y,
                unsigned opacity) {
    const long long x0 = std::max<long long>(0, x);
    const long long y0 = std::max<long long>(0, y);
    const long long x1 = std::min<long long>(destination.width(), x + source.width());
    const long long y1 = std::min<long long>(destination.height(), y + source.height());
    if (x0 >= x1 || y0 >= y1 || opacity == 0) return;
    const int dstBpp = destination.bytesPerPixel();
    const int srcBpp = source.bytesPerPixel();
    const bool dstAlpha = destination.hasAlpha();
    const bool srcAlpha = source.hasAlpha();
    for (long long dy = y0; dy < y1; ++dy) {
        const std::uint8_t* src = source.row(int(dy - y)) + std::size_t(x0 - x) * srcBpp;
        std::uint8_t* dst = destination.row(int(dy)) + std::size_t(x0) * dstBpp;
        for (long long dx = x0; dx < x1; ++dx, src += srcBpp, dst += dstBpp) {
            const unsigned alpha = srcAlpha ? (src[3] * opacity + 127) / 255 : opacity;
            blendPixel(dst, dstAlpha, src[0], src[1], src[2], alpha);
        }
    }
}

/// Blends a filled rectangle of `colour` (its alpha is the coverage), clipped.
void blendRect(Image& destination, long long x, long long y, long long width, long long height,
               Rgba colour) {
    if (width <= 0 || height <= 0) return;
    const long long x0 = std::max<long long>(0, x);
    const long long y0 = std::max<long long>(0, y);
    const long long x1 = std::min<long long>(destination.width(), x + width);
    const long long y1 = std::min<long long>(destination.height(), y + height);
    const int bpp = destination.bytesPerPixel();
    for (long long dy = y0; dy < y1; ++dy) {
        std::uint8_t* dst = destination.row(int(dy)) + std::size_t(x0) * bpp;
        for (long long dx = x0; dx < x1; ++dx, dst += bpp) {
            blendPixel(dst, destination.hasAlpha(), colour.blue(), colour.green(), colour.red(),
                       colour.alpha());
        }
    }
}

/// Prefix-sum window test along one line: out[i] is true when any in[j] with |i - j| <= radius.
void dilateLine(const std::uint8_t* in, std::size_t inStep, std::uint8_t* out, std::size_t outStep,
                int length, int radius, std::vector<int>& prefix) {
    prefix.assign(std::size_t(length) + 1, 0);
    for (int i = 0; i < length; ++i)
        prefix[i + 1] = prefix[i] + (in[std::size_t(i) * inStep] != 0);
    for (int i = 0; i < length; ++i) {
        const auto lo = std::size_t(std::max<long long>(0, (long long)i - radius));
        const auto hi = std::size_t(std::min<long long>(length, (long long)i + radius + 1));
        out[std::size_t(i) * outStep] = prefix[hi] - prefix[lo] > 0;
    }
}

/// The outline rule: every pixel within `width` pixels (horizontally and vertically, a square)
/// of a pixel that equals the text colour exactly becomes the outline colour, unless it is the
/// text colour or already the outline colour. The square is applied as two one-dimensional
/// passes, which marks the same pixels as visiting the square around every text pixel.
void applyOutline(Image& block, Rgba textColour, Rgba outlineColour, int width) {
    const int w = block.width();
    const int h = block.height();
    const std::size_t count = std::size_t(w) * std::size_t(h);
    std::vector<std::uint8_t> text(count);
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* p = block.row(y);
        for (int x = 0; x < w; ++x, p += 4) {
            text[std::size_t(y) * w + x] = pixelColour(p) == textColour;
        }
    }
    std::vector<std::uint8_t> across(count);
    std::vector<std::uint8_t> near(count);
    std::vector<int> prefix;
    for (int y = 0; y < h; ++y) {
        const std::size_t offset = std::size_t(y) * w;
        dilateLine(text.data() + offset, 1, across.data() + offset, 1, w, width, prefix);
    }
    for (int x = 0; x < w; ++x) {
        dilateLine(across.data() + x, std::size_t(w), near.data() + x, std::size_t(w), h, width,
                   prefix);
    }
    for (int y = 0; y < h; ++y) {
        std::uint8_t* p = block.row(y);
        for (int x = 0; x < w; ++x, p += 4) {
            const std::size_t i = std::size_t(y) * w + x;
            if (!near[i] || text[i]) continue;
            if (pixelColour(p) == outlineColour) continue;
            setPixel(p, outlineColour);
        }
    }
}

toolkit::LineAlign lineAlignFor(int align) {
    switch (align) {
    case 2:
        return toolkit::LineAlign::Right;
    case 3:
        return toolkit::LineAlign::Centre;
    default:
        return toolkit::LineAlign::Left;
    }
}

/// An outline colour of 0 means opaque white. With the outline on, text and outline pixels must
/// stay distinguishable: the outline rule looks for exact text-colour pixels and must never
/// mistake outline pixels for them.
void adjustColours(TextStyle& style) {
    if (style.outlineColour.value == 0) style.outlineColour = Rgba{0xFFFFFFFF};
    if (style.outline != 1) return;
    if (style.colour.alpha() == 0) style.colour = withAlpha(style.colour, 1);
    // Equal colours: the outline's alpha steps down by one. (Stepping up from 255 would overflow
    // into an invisible alpha of 0; the text alpha is at least 1 here, so stepping down always
    // stays distinct.)
    if (style.outlineColour == style.colour) {
        const std::uint8_t alpha = style.outlineColour.alpha();
        style.outlineColour = withAlpha(style.outlineColour, alpha == 0 ? 1 : alpha - 1);
    }
}

} // namespace

OverlaySettings overlaySettingsFrom(const settings::Preset& preset) {
    OverlaySettings s;
    s.overlayKind = preset.overlayKind;
    s.overlayFontName = preset.overlayFontName;
    s.overlayFontStyle = preset.overlayFontStyle;
    s.overlayFontSize = preset.overlayFontSize;
    s.overlayTextAlign = preset.overlayTextAlign;
    s.overlayLineSpacing = preset.overlayLineSpacing;
    s.overlayTextColor = preset.overlayTextColor;
    s.overlayImageScale = preset.overlayImageScale;
    s.overlayOutline = preset.overlayOutline;
    s.overlayOutlineWidth = preset.overlayOutlineWidth;
    s.overlayOutlineColor = preset.overlayOutlineColor;
    s.overlayOpacity = preset.overlayOpacity;
    s.overlayHorizontalAlign = preset.overlayHorizontalAlign;
    s.overlayHorizontalMargin = preset.overlayHorizontalMargin;
    s.overlayVerticalAlign = preset.overlayVerticalAlign;
    s.overlayVerticalMargin = preset.overlayVerticalMargin;
    return s;
}

std::uint8_t opacityAlpha(int opacity) {
    if (opacity >= 100) return 255;
    if (opacity < 1) return 0;
    return std::uint8_t(double(opacity) * 2.55);
}

int overlayOffset(settings::OverlayAlign align, int margin) {
    switch (align) {
    case settings::OverlayAlign::Start:
        return margin;
    case settings::OverlayAlign::End:
        return -margin;
    default:
        return 0;
    }
}

int textAlignCode(settings::TextAlign overlayTextAlign) {
    switch (overlayTextAlign) {
    case settings::TextAlign::Centre:
        return 3;
    case settings::TextAlign::Right:
        return 2;
    default:
        return 1;
    }
}

long long textBlockPosition(int imageSize, int blockSize, int offset) {
    if (offset > 0) return offset;
    if (offset < 0) return (long long)imageSize - blockSize + offset;
    return ((long long)imageSize - blockSize) / 2;
}

long long overlayImagePosition(int imageSize, int overlaySize, int offset, int frame) {
    if (offset > 0) return (long long)frame + offset;
    if (offset < 0) return (long long)imageSize - overlaySize + offset - frame;
    return ((long long)imageSize - overlaySize) / 2;
}

Image renderText(TextStyle& style) {
    const int requestedWidth = style.width;
    style.width = 0;
    style.height = 0;
    style.originX = 0;
    style.originY = 0;
    if (!style.font || style.angle != 0.0F) return {};

    const bool outline = style.outline == 1;
    const int outlineWidth = std::max(1, style.outlineWidth);
    adjustColours(style);

    const int wrapWidth = style.mode == -1 ? 0 : std::max(0, requestedWidth);
    const toolkit::TextLayout layout =
        toolkit::layoutText(*style.font, style.text, style.lineSpacing, wrapWidth);
    const toolkit::LineAlign align = lineAlignFor(style.align);
    const long long border = outline ? outlineWidth : 0;
    const long long blockWidth = layout.width + 2 * border;
    const long long blockHeight = layout.height + 2 * border;
    if (blockWidth > std::numeric_limits<int>::max() ||
        blockHeight > std::numeric_limits<int>::max()) {
        return {};
    }

    // The image holds the block and all ink around it, with room for the outline of that ink.
    long long left = 0, top = 0, right = blockWidth, bottom = blockHeight;
    if (const toolkit::InkBox ink = toolkit::textBlockInk(*style.font, layout, align);
        !ink.empty()) {
        const long long reach = outline ? outlineWidth : 0;
        left = std::min(left, border + ink.left - reach);
        top = std::min(top, border + ink.top - reach);
        right = std::max(right, border + ink.right + reach);
        bottom = std::max(bottom, border + ink.bottom + reach);
    }
    const long long imageWidth = right - left;
    const long long imageHeight = bottom - top;
    if (blockWidth == 0 && left == 0 && right == 0) {
        style.height = int(blockHeight);
        return {};
    }
    if (imageWidth > std::numeric_limits<int>::max() ||
        imageHeight > std::numeric_limits<int>::max() ||
        !Image::sizeAllowed(int(imageWidth), int(imageHeight), PixelFormat::Bgra32)) {
        return {};
    }
    Image block(int(imageWidth), int(imageHeight), PixelFormat::Bgra32);
    if (block.empty()) return {};
    const int originX = int(-left);
    const int originY = int(-top);
    if (!toolkit::drawTextBlock(block, originX + int(border), originY + int(border), *style.font,
                                layout, align, style.colour)) {
        return {};
    }
    if (outline) applyOutline(block, style.colour, style.outlineColour, outlineWidth);
    style.width = int(blockWidth);
    style.height = int(blockHeight);
    style.originX = originX;
    style.originY = originY;
    return block;
}

bool drawTextOverlay(Image& image, const TextOverlayOptions& options) {
    if (image.empty() || !options.font) return false;
    const std::uint8_t alpha = opacityAlpha(options.opacity);
    TextStyle style;
    style.text = std::string(options.text);
    style.colour = withAlpha(options.colour, alpha);
    style.font = options.font;
    style.align = options.align;
    style.mode = 1;
    style.lineSpacing = options.lineSpacing;
    style.outline = options.outline ? 1 : -1;
    style.outlineColour = withAlpha(options.outlineColour, alpha);
    style.outlineWidth = options.outlineWidth;
    const Image block = renderText(style);
    if (style.height == 0) return false;
    if (block.empty()) return true; // an empty text: nothing to draw
    // The block is anchored as specified; ink that overhangs it lands around it.
    const long long x =
        textBlockPosition(image.width(), style.width, options.offsetX) - style.originX;
    const long long y =
        textBlockPosition(image.height(), style.height, options.offsetY) - style.originY;
    blendImage(image, block, x, y, 255);
    return true;
}

bool drawImageOverlay(Image& image, const Image& overlay, const ImageOverlayOptions& options) {
    if (image.empty() || overlay.empty()) return false;
    const std::uint8_t alpha = opacityAlpha(options.opacity);
    const long long f = options.frame ? std::max(0, options.frameWidth) : 0;
    const long long w = overlay.width();
    const long long h = overlay.height();
    const long long x =
        overlayImagePosition(image.width(), overlay.width(), options.offsetX, int(f));
    const long long y =
        overlayImagePosition(image.height(), overlay.height(), options.offsetY, int(f));
    blendImage(image, overlay, x, y, alpha);
    if (f > 0) {
        // Four bars that meet without overlapping, so the frame's opacity is even all round.
        const Rgba colour = withAlpha(options.frameColour, alpha);
        blendRect(image, x, y - f, w + f, f, colour);     // top
        blendRect(image, x + w, y, f, h + f, colour);     // right
        blendRect(image, x - f, y + h, w + f, f, colour); // bottom
        blendRect(image, x - f, y - f, f, h + f, colour); // left
    }
    return true;
}

toolkit::FontRequest PreparedOverlay::fontRequest() const {
    const auto quality = settings.overlayOutline == 1 ? toolkit::FontQuality::NonAntialiased
                                                      : toolkit::FontQuality::Antialiased;
    return toolkit::FontRequest::fromStyleBits(settings.overlayFontName, settings.overlayFontSize,
                                               settings.overlayFontStyle, quality);
}

PreparedOverlay prepareOverlayWithImage(const OverlaySettings& settings, Image overlayImage) {
    PreparedOverlay prepared;
    prepared.settings = settings;
    prepared.offsetX =
        overlayOffset(settings.overlayHorizontalAlign, settings.overlayHorizontalMargin);
    prepared.offsetY = overlayOffset(settings.overlayVerticalAlign, settings.overlayVerticalMargin);
    if (prepared.isText() || overlayImage.empty()) return prepared;
    const ScaleRequest byPercent{.basis = ScaleBasis::Factor,
                                 .targetX = float(settings.overlayImageScale) / 100.0F,
                                 .targetY = float(settings.overlayImageScale) / 100.0F};
    if (!scaleImage(overlayImage, byPercent)) return prepared;
    prepared.image = std::move(overlayImage);
    return prepared;
}

PreparedOverlay prepareOverlay(const OverlaySettings& settings,
                               const std::string& overlayImageRun) {
    Image loaded;
    if (settings.overlayKind == settings::OverlayKind::Image)
        loaded =
            imagefiles::loadImageFileBudgeted(overlayImageRun, imagefiles::FormatKind::None).image;
    return prepareOverlayWithImage(settings, std::move(loaded));
}

std::optional<toolkit::Font> openOverlayFont(const PreparedOverlay& prepared) {
    if (!prepared.isText()) return std::nullopt;
    return toolkit::Font::open(prepared.fontRequest());
}

bool applyOverlay(Image& image, const PreparedOverlay& prepared, const toolkit::Font* font,
                  std::string_view expandedText, std::span<const std::uint8_t> outputProfile) {
    const OverlaySettings& s = prepared.settings;
    // The colours are chosen in sRGB; pixels in another profile get them converted into it.
    std::array<Rgba, 2> colours = {Rgba{s.overlayTextColor}, Rgba{s.overlayOutlineColor}};
    const bool convert =
        imagefiles::profileKind(outputProfile) == imagefiles::ProfileKind::OtherRgb;
    if (convert) (void)imagefiles::convertColoursFromSrgb(colours, outputProfile);
    if (!prepared.isText()) {
        if (prepared.image.empty()) return false;
        const ImageOverlayOptions options{.offsetX = prepared.offsetX,
                                          .offsetY = prepared.offsetY,
                                          .opacity = s.overlayOpacity,
                                          .frame = s.overlayOutline == 1,
                                          .frameWidth = s.overlayOutlineWidth,
                                          .frameColour = colours[1]};
        if (!convert) return drawImageOverlay(image, prepared.image, options);
        // A converted copy of the (already scaled) overlay image, held while it is drawn.
        Image converted = prepared.image.clone();
        if (converted.empty()) return false;
        (void)imagefiles::convertImageFromSrgb(converted, outputProfile);
        return drawImageOverlay(image, converted, options);
    }
    if (!font) return false;
    return drawTextOverlay(image, {.text = expandedText,
                                   .font = font,
                                   .colour = colours[0],
                                   .offsetX = prepared.offsetX,
                                   .offsetY = prepared.offsetY,
                                   .align = textAlignCode(s.overlayTextAlign),
                                   .lineSpacing = s.overlayLineSpacing,
                                   .opacity = s.overlayOpacity,
                                   .outline = s.overlayOutline == 1,
                                   .outlineWidth = s.overlayOutlineWidth,
                                   .outlineColour = colours[1]});
}

} // namespace quill::pipeline
