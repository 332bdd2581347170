// Text drawing for overlays: fonts found by family name through fontconfig, glyphs rasterised
// with FreeType, laid out as a block of lines.
#pragma once

#include "toolkit/image.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quill::toolkit {

/// Font style bits as the settings store them.
inline constexpr std::uint32_t kFontStyleUnderline = 4;
inline constexpr std::uint32_t kFontStyleStrikeOut = 8;
inline constexpr std::uint32_t kFontStyleBold = 256;
inline constexpr std::uint32_t kFontStyleItalic = 512;

/// Rendering quality of a font: with or without antialiasing.
enum class FontQuality : std::uint8_t {
    NonAntialiased = 3, ///< every glyph pixel is fully on or off
    Antialiased = 4,    ///< glyph edges get intermediate coverage
};

/// Largest character height a font may be created with, in pixels.
inline constexpr int kMaxFontPixelHeight = 2048;

/// A box of drawn pixels, right and bottom exclusive. Empty when nothing is drawn.
struct InkBox {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    [[nodiscard]] bool empty() const { return right <= left || bottom <= top; }
    /// The smallest box holding both (an empty box adds nothing).
    [[nodiscard]] InkBox united(const InkBox& other) const;
};

/// What to open: a family name and how the face should look.
struct FontRequest {
    std::string family;  ///< family name, e.g. "Arial"
    int pixelHeight = 0; ///< character (em) height in pixels, not the cell height
    int weight = 400;    ///< 400 regular, 700 bold
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    FontQuality quality = FontQuality::Antialiased;

    /// A request from the stored style bits (256 bold, 512 italic, 4 underline, 8 strike-out).
    [[nodiscard]] static FontRequest fromStyleBits(std::string family, int pixelHeight,
                                                   std::uint32_t styleBits, FontQuality quality);
};

/// An open font face at one pixel size. Move-only. Rendered glyphs are cached inside, so the
/// same font serves every image of a run cheaply; for that reason one Font must not be used by
/// two threads at the same time (separate Fonts are independent).
class Font {
public:
    /// Finds the family through fontconfig and opens it. Empty when the family is not installed
    /// (fontconfig's fallback to an unrelated family counts as missing; every metric-compatible
    /// alias that fontconfig knows, such as Arial or Helvetica -> Liberation Sans, and generic
    /// names such as "sans-serif" are accepted), when the height is outside
    /// 1..kMaxFontPixelHeight, or when FreeType fails. Characters the face lacks are drawn from
    /// the installed face that fontconfig ranks best for them; those faces are opened on first
    /// need and kept with the font.
    [[nodiscard]] static std::optional<Font> open(const FontRequest& request);

    Font(Font&&) noexcept;
    Font& operator=(Font&&) noexcept;
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;
    ~Font();

    /// The request this font was opened with.
    [[nodiscard]] const FontRequest& request() const;
    /// Family name of the face actually opened (e.g. "Liberation Sans" for "Arial").
    [[nodiscard]] const std::string& faceFamily() const;
    /// File the face was loaded from.
    [[nodiscard]] const std::string& faceFile() const;

    /// Pixels from the top of a line to its baseline.
    [[nodiscard]] int ascent() const;
    /// Height of one line in pixels (ascent plus descent, no extra leading).
    [[nodiscard]] int lineHeight() const;
    /// Width of one line of UTF-8 text: the sum of the glyph advances in pixels.
    [[nodiscard]] int lineWidth(std::string_view line) const;
    /// Pixels that drawLine would cover for this line, relative to its (x, y). Glyphs may reach
    /// left of x, past the line width (italics, "f", "j") and above or below the line.
    [[nodiscard]] InkBox lineInk(std::string_view line) const;
    /// Family of the face that draws this character: faceFamily() when the face has it, else
    /// the fallback face's family; faceFamily() too when no installed face has it.
    [[nodiscard]] std::string drawingFamily(char32_t codePoint) const;

    /// Writes one line of UTF-8 text into a 32-bit image with its top-left corner at (x, y),
    /// clipped to the image. Covered pixels get the colour's red, green and blue, and an alpha
    /// of the colour's alpha times the coverage (the larger value wins where glyphs overlap).
    /// Underline and strike-out follow the request. Returns false for a 24-bit target.
    [[nodiscard]] bool drawLine(Image& target, int x, int y, std::string_view line,
                                Rgba colour) const;

private:
    struct Impl;
    explicit Font(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

/// Horizontal alignment of the lines inside a text block.
enum class LineAlign : std::uint8_t { Left, Centre, Right };

/// A text block broken into lines and measured.
struct TextLayout {
    std::vector<std::string> lines;
    std::vector<int> lineWidths;
    int lineHeight = 0;
    int lineSpacing = 0; ///< extra pixels between lines; negative down to -lineHeight
    int width = 0;       ///< widest line
    int height = 0;      ///< line heights plus the spacing between lines, at least one line high
};

/// Breaks UTF-8 text into lines at line feeds and measures them. With `maxWidth` > 0 the text is
/// also wrapped word by word: a word (ending at a space, a line feed or the end of the text)
/// that would make the line wider than `maxWidth` starts a new line. A spacing below
/// -lineHeight is raised to it: a line may cover the one above but never starts above it, so
/// every line stays inside the block.
[[nodiscard]] TextLayout layoutText(const Font& font, std::string_view text, int lineSpacing,
                                    int maxWidth = 0);

/// X of a line inside a block of `blockWidth`: left 0, right blockWidth - lineWidth, centre the
/// half of the difference rounded.
[[nodiscard]] int lineOffset(LineAlign align, int blockWidth, int lineWidth);

/// Pixels that drawTextBlock would cover, relative to the block's top-left corner.
[[nodiscard]] InkBox textBlockInk(const Font& font, const TextLayout& layout, LineAlign align);

/// Draws a laid-out block into a 32-bit image with its top-left corner at (x, y), each line
/// placed by `align` inside the block width, clipped to the image (see Font::drawLine).
[[nodiscard]] bool drawTextBlock(Image& target, int x, int y, const Font& font,
                                 const TextLayout& layout, LineAlign align, Rgba colour);

/// Decodes UTF-8 into code points; invalid bytes become U+FFFD.
[[nodiscard]] std::u32string decodeUtf8(std::string_view text);

} // namespace quill::toolkit
