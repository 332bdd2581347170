// Text drawing for overlays: fontconfig finds the face, FreeType rasterises the glyphs.
#include "toolkit/text_renderer.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_BITMAP_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <type_traits>
#include <unordered_map>
#include <utility>

#include "toolkit/utf8.h"

namespace quill::toolkit {

namespace {

struct FtLibraryDeleter {
    void operator()(FT_Library library) const { FT_Done_FreeType(library); }
};
using FtLibraryPtr = std::unique_ptr<std::remove_pointer_t<FT_Library>, FtLibraryDeleter>;

struct FtFaceDeleter {
    void operator()(FT_Face face) const { FT_Done_Face(face); }
};
using FtFacePtr = std::unique_ptr<std::remove_pointer_t<FT_Face>, FtFaceDeleter>;

struct FcPatternDeleter {
    void operator()(FcPattern* pattern) const { FcPatternDestroy(pattern); }
};
using FcPatternPtr = std::unique_ptr<FcPattern, FcPatternDeleter>;

struct FcConfigDeleter {
    void operator()(FcConfig* config) const { FcConfigDestroy(config); }
};
using FcConfigPtr = std::unique_ptr<FcConfig, FcConfigDeleter>;

struct FcFontSetDeleter {
    void operator()(FcFontSet* set) const { FcFontSetDestroy(set); }
};
using FcFontSetPtr = std::unique_ptr<FcFontSet, FcFontSetDeleter>;

/// The fontconfig configuration, loaded once on first use and released at exit. Loading it
/// ourselves (rather than through fontconfig's implicit default) lets it be released cleanly;
/// fontconfig locks internally, so lookups from several threads may share it.
FcConfig* fontConfig() {
    static const FcConfigPtr config(FcInitLoadConfigAndFonts());
    return config.get();
}

/// A configuration holding only fontconfig's metric-alias rules (the files of the main
/// configuration whose names end in "metric-aliases.conf"). Substituting a family in it adds
/// exactly the families with the same metrics, in both directions and through every step of
/// the chain (Helvetica -> Arial -> Liberation Sans), which the full configuration binds only
/// weakly beside unrelated fallbacks. Null when no such rules are installed.
FcConfig* metricAliasConfig() {
    static const FcConfigPtr config = [] {
        FcConfig* full = fontConfig();
        if (!full) return FcConfigPtr();
        FcConfigPtr aliases(FcConfigCreate());
        FcStrList* files = FcConfigGetConfigFiles(full);
        if (!aliases || !files) {
            if (files) FcStrListDone(files);
            return FcConfigPtr();
        }
        bool loaded = false;
        while (FcChar8* file = FcStrListNext(files)) {
            const std::string_view name(reinterpret_cast<const char*>(file));
            if (name.ends_with("metric-aliases.conf") &&
                FcConfigParseAndLoad(aliases.get(), file, FcFalse)) {
                loaded = true;
            }
        }
        FcStrListDone(files);
        return loaded ? std::move(aliases) : FcConfigPtr();
    }();
    return config.get();
}

/// The family itself and every family that the metric-alias rules give it.
std::vector<std::string> metricAliases(const std::string& family) {
    std::vector<std::string> names{family};
    FcConfig* config = metricAliasConfig();
    FcPatternPtr pattern(FcPatternCreate());
    if (!config || !pattern) return names;
    FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    if (!FcConfigSubstitute(config, pattern.get(), FcMatchPattern)) return names;
    FcChar8* alias = nullptr;
    for (int i = 1; FcPatternGetString(pattern.get(), FC_FAMILY, i, &alias) == FcResultMatch; ++i) {
        names.emplace_back(reinterpret_cast<const char*>(alias));
    }
    return names;
}

/// FT_Bitmap owned by us (the target of FT_Bitmap_Convert).
class OwnedFtBitmap {
public:
    explicit OwnedFtBitmap(FT_Library library) : m_library(library) { FT_Bitmap_Init(&m_bitmap); }
    ~OwnedFtBitmap() { FT_Bitmap_Done(m_library, &m_bitmap); }
    OwnedFtBitmap(const OwnedFtBitmap&) = delete;
    OwnedFtBitmap& operator=(const OwnedFtBitmap&) = delete;
    FT_Bitmap* get() { return &m_bitmap; }

private:
    FT_Library m_library;
    FT_Bitmap m_bitmap;
};

/// A rasterised glyph: coverage 0..255 per pixel and where it sits relative to the pen.
struct CachedGlyph {
    int advance = 0; ///< pixels the pen moves on
    int left = 0;    ///< from the pen to the bitmap's left edge
    int top = 0;     ///< from the baseline up to the bitmap's top row
    int width = 0;
    int rows = 0;
    std::vector<std::uint8_t> coverage;
};

/// Keeps the cache bounded for texts that run through many different characters.
constexpr std::size_t kMaxCachedGlyphs = 4096;

bool isGenericFamily(std::string_view family) {
    static constexpr std::string_view kGeneric[] = {"sans-serif", "serif",   "monospace", "sans",
                                                    "mono",       "cursive", "fantasy"};
    for (std::string_view generic : kGeneric) {
        if (FcStrCmpIgnoreCase(reinterpret_cast<const FcChar8*>(std::string(family).c_str()),
                               reinterpret_cast<const FcChar8*>(std::string(generic).c_str())) ==
            0) {
            return true;
        }
    }
    return false;
}

/// The family names that fontconfig bound strongly to the request after its substitutions:
/// the requested name and its metric-compatible aliases. Weakly bound names are fallbacks.
std::vector<std::string> stronglyBoundFamilies(FcPattern* pattern) {
    std::vector<std::string> families;
    FcPatternIter iter;
    FcPatternIterStart(pattern, &iter);
    if (!FcPatternIterIsValid(pattern, &iter)) return families;
    do {
        if (std::string_view(FcPatternIterGetObject(pattern, &iter)) != FC_FAMILY) continue;
        const int count = FcPatternIterValueCount(pattern, &iter);
        for (int i = 0; i < count; ++i) {
            FcValue value;
            FcValueBinding binding = FcValueBindingWeak;
            if (FcPatternIterGetValue(pattern, &iter, i, &value, &binding) != FcResultMatch) {
                continue;
            }
            if (value.type == FcTypeString && binding == FcValueBindingStrong) {
                families.emplace_back(reinterpret_cast<const char*>(value.u.s));
            }
        }
    } while (FcPatternIterNext(pattern, &iter));
    return families;
}

struct FaceLocation {
    std::string file;
    int index = 0;
    std::string family;
};

/// The request as a fontconfig pattern with the configuration's substitutions applied.
FcPatternPtr requestPattern(const FontRequest& request) {
    FcConfig* config = fontConfig();
    FcPatternPtr pattern(FcPatternCreate());
    if (!config || !pattern) return nullptr;
    FcPatternAddString(pattern.get(), FC_FAMILY,
                       reinterpret_cast<const FcChar8*>(request.family.c_str()));
    FcPatternAddInteger(pattern.get(), FC_WEIGHT, FcWeightFromOpenType(request.weight));
    FcPatternAddInteger(pattern.get(), FC_SLANT, request.italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    if (!FcConfigSubstitute(config, pattern.get(), FcMatchPattern)) return nullptr;
    FcDefaultSubstitute(pattern.get());
    return pattern;
}

/// Asks fontconfig for the face of a family; empty when only an unrelated fallback exists.
std::optional<FaceLocation> findFace(const FontRequest& request) {
    FcConfig* config = fontConfig();
    FcPatternPtr pattern = requestPattern(request);
    if (!config || !pattern) return std::nullopt;
    std::vector<std::string> accepted;
    for (const std::string& name : stronglyBoundFamilies(pattern.get())) {
        for (std::string& alias : metricAliases(name))
            accepted.push_back(std::move(alias));
    }

    FcResult result = FcResultNoMatch;
    FcPatternPtr match(FcFontMatch(config, pattern.get(), &result));
    if (!match) return std::nullopt;

    FaceLocation location;
    bool familyFound = isGenericFamily(request.family);
    FcChar8* family = nullptr;
    for (int i = 0; FcPatternGetString(match.get(), FC_FAMILY, i, &family) == FcResultMatch; ++i) {
        if (i == 0) location.family = reinterpret_cast<const char*>(family);
        for (const std::string& name : accepted) {
            if (FcStrCmpIgnoreCase(family, reinterpret_cast<const FcChar8*>(name.c_str())) == 0) {
                familyFound = true;
            }
        }
    }
    if (!familyFound) return std::nullopt;

    FcChar8* file = nullptr;
    if (FcPatternGetString(match.get(), FC_FILE, 0, &file) != FcResultMatch) return std::nullopt;
    location.file = reinterpret_cast<const char*>(file);
    int index = 0;
    if (FcPatternGetInteger(match.get(), FC_INDEX, 0, &index) == FcResultMatch) {
        location.index = index;
    }
    return location;
}

int ceilDiv(long long numerator, long long denominator) {
    if (denominator <= 0) return 0;
    if (numerator <= 0) return int(numerator / denominator);
    return int((numerator + denominator - 1) / denominator);
}

/// One open face with the styling that FreeType has to add because the face lacks it.
struct FaceSlot {
    FtFacePtr face;
    bool synthesiseBold = false;
    bool synthesiseItalic = false;
};

/// Sets the face to the pixel height: scalable faces exactly, bitmap faces to the nearest
/// strike.
bool setPixelHeight(FT_Face face, int pixelHeight) {
    if (FT_IS_SCALABLE(face)) return FT_Set_Pixel_Sizes(face, 0, FT_UInt(pixelHeight)) == 0;
    if (face->num_fixed_sizes <= 0) return false;
    int best = 0;
    for (int i = 1; i < face->num_fixed_sizes; ++i) {
        if (std::abs(face->available_sizes[i].y_ppem / 64 - pixelHeight) <
            std::abs(face->available_sizes[best].y_ppem / 64 - pixelHeight)) {
            best = i;
        }
    }
    return FT_Select_Size(face, best) == 0;
}

/// Opens a face at the request's height and decides which styling it needs synthesised, so a
/// family without a bold or italic member still gets the requested look.
std::optional<FaceSlot> openFaceSlot(FT_Library library, const std::string& file, int index,
                                     const FontRequest& request) {
    FT_Face face = nullptr;
    if (FT_New_Face(library, file.c_str(), index, &face) != 0) return std::nullopt;
    FaceSlot slot;
    slot.face.reset(face);
    if (!setPixelHeight(face, request.pixelHeight)) return std::nullopt;
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    const bool faceIsBold = (face->style_flags & FT_STYLE_FLAG_BOLD) ||
                            (os2 && os2->version != 0xFFFF && os2->usWeightClass >= 600);
    slot.synthesiseBold = request.weight >= 600 && !faceIsBold;
    slot.synthesiseItalic = request.italic && !(face->style_flags & FT_STYLE_FLAG_ITALIC);
    return slot;
}

/// Bounds the per-font maps for texts that run through very many characters.
constexpr std::size_t kMaxFallbackEntries = 65536;

} // namespace

struct Font::Impl {
    FontRequest request;
    std::string faceFamily;
    std::string faceFile;
    FtLibraryPtr library; // declared before the faces: the faces are released first
    /// The requested face first, then the fallback faces in the order they were first needed.
    mutable std::vector<FaceSlot> faces;
    int ascent = 0;
    int lineHeight = 0;
    int underlineTop = 0; ///< rows below the line's top
    int underlineThickness = 1;
    int strikeTop = 0;
    int strikeThickness = 1;
    mutable std::unordered_map<char32_t, CachedGlyph> glyphs;

    // Fallback for characters the requested face lacks. fontconfig ranks the installed faces
    // for the request once, on the first missing character; every missing character is then
    // looked up once in the faces' character sets. Characters the requested face has never
    // reach fontconfig.
    mutable FcFontSetPtr fallbackRanking;
    mutable bool fallbackRanked = false;
    mutable std::unordered_map<std::string, int> slotByFile; ///< "index:file" -> slot, -1 unusable
    mutable std::unordered_map<char32_t, int> slotByCharacter; ///< -1: no installed face has it

    [[nodiscard]] bool monochrome() const { return request.quality == FontQuality::NonAntialiased; }
    [[nodiscard]] FT_Face mainFace() const { return faces.front().face.get(); }
    void computeMetrics();
    [[nodiscard]] const CachedGlyph& glyph(char32_t codePoint) const;
    [[nodiscard]] CachedGlyph rasterise(char32_t codePoint) const;
    /// The slot of the face that draws the character (0 also when none has it).
    [[nodiscard]] int slotFor(char32_t codePoint) const;
    [[nodiscard]] int fallbackSlot(char32_t codePoint) const;
    [[nodiscard]] int openFallback(FcPattern* candidate, char32_t codePoint) const;
};

int Font::Impl::slotFor(char32_t codePoint) const {
    if (FT_Get_Char_Index(mainFace(), FT_ULong(codePoint)) != 0) return 0;
    if (auto it = slotByCharacter.find(codePoint); it != slotByCharacter.end()) {
        return std::max(it->second, 0);
    }
    const int slot = fallbackSlot(codePoint);
    if (slotByCharacter.size() >= kMaxFallbackEntries) slotByCharacter.clear();
    slotByCharacter.emplace(codePoint, slot);
    return std::max(slot, 0);
}

int Font::Impl::fallbackSlot(char32_t codePoint) const {
    if (!fallbackRanked) {
        fallbackRanked = true;
        FcConfig* config = fontConfig();
        if (FcPatternPtr pattern = requestPattern(request); config && pattern) {
            FcResult result = FcResultNoMatch;
            fallbackRanking.reset(FcFontSort(config, pattern.get(), FcTrue, nullptr, &result));
        }
    }
    if (!fallbackRanking) return -1;
    for (int i = 0; i < fallbackRanking->nfont; ++i) {
        FcPattern* candidate = fallbackRanking->fonts[i];
        FcCharSet* charset = nullptr;
        if (FcPatternGetCharSet(candidate, FC_CHARSET, 0, &charset) != FcResultMatch ||
            !FcCharSetHasChar(charset, FcChar32(codePoint))) {
            continue;
        }
        if (const int slot = openFallback(candidate, codePoint); slot > 0) return slot;
    }
    return -1;
}

int Font::Impl::openFallback(FcPattern* candidate, char32_t codePoint) const {
    FcChar8* file = nullptr;
    if (FcPatternGetString(candidate, FC_FILE, 0, &file) != FcResultMatch) return -1;
    int index = 0;
    FcPatternGetInteger(candidate, FC_INDEX, 0, &index);
    const std::string path(reinterpret_cast<const char*>(file));
    const std::string key = std::to_string(index) + ":" + path;
    int slot = -1;
    if (auto it = slotByFile.find(key); it != slotByFile.end()) {
        slot = it->second;
    } else {
        // Only scalable faces: a bitmap face (colour emoji) has strikes far from the text size.
        std::optional<FaceSlot> opened = openFaceSlot(library.get(), path, index, request);
        if (opened && FT_IS_SCALABLE(opened->face.get())) {
            faces.push_back(std::move(*opened));
            slot = int(faces.size()) - 1;
        }
        slotByFile.emplace(key, slot);
    }
    // The face's own character map has the final word over fontconfig's character set.
    if (slot > 0 && FT_Get_Char_Index(faces[std::size_t(slot)].face.get(), FT_ULong(codePoint))) {
        return slot;
    }
    return -1;
}

void Font::Impl::computeMetrics() {
    FT_Face f = mainFace();
    const int ppem = std::max<int>(1, f->size->metrics.y_ppem);
    const long long unitsPerEm = FT_IS_SCALABLE(f) && f->units_per_EM ? f->units_per_EM : 0;
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(f, FT_SFNT_OS2));
    auto scaled = [&](long long units) { return double(units) * ppem / double(unitsPerEm); };

    int descent = 0;
    if (unitsPerEm && os2 && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0) {
        // The Windows ascent and descent bound every glyph of the face, so no line clips.
        ascent = ceilDiv((long long)os2->usWinAscent * ppem, unitsPerEm);
        descent = ceilDiv((long long)os2->usWinDescent * ppem, unitsPerEm);
    } else {
        ascent = ceilDiv(f->size->metrics.ascender, 64);
        descent = ceilDiv(-(long long)f->size->metrics.descender, 64);
    }
    ascent = std::max(ascent, 0);
    descent = std::max(descent, 0);
    lineHeight = std::max(1, ascent + descent);

    // Underline: the face gives the centre of the stroke below the baseline and its thickness.
    double underlineCentre = descent / 2.0;
    underlineThickness = std::max(1, ppem / 14);
    if (unitsPerEm && f->underline_thickness > 0) {
        underlineThickness = std::max(1, int(std::lround(scaled(f->underline_thickness))));
        underlineCentre = -scaled(f->underline_position);
    }
    underlineTop = ascent + int(std::lround(underlineCentre - underlineThickness / 2.0));
    underlineTop = std::clamp(underlineTop, 0, std::max(0, lineHeight - underlineThickness));

    // Strike-out: the OS/2 table gives the top of the stroke above the baseline.
    strikeThickness = underlineThickness;
    if (unitsPerEm && os2 && os2->version != 0xFFFF && os2->yStrikeoutSize > 0) {
        strikeThickness = std::max(1, int(std::lround(scaled(os2->yStrikeoutSize))));
        strikeTop = ascent - int(std::lround(scaled(os2->yStrikeoutPosition)));
    } else {
        double centre = ascent * 0.25;
        if (unitsPerEm && os2 && os2->version != 0xFFFF && os2->version >= 2 && os2->sxHeight > 0) {
            centre = scaled(os2->sxHeight) / 2.0;
        }
        strikeTop = ascent - int(std::lround(centre + strikeThickness / 2.0));
    }
    strikeTop = std::clamp(strikeTop, 0, std::max(0, lineHeight - strikeThickness));
}

CachedGlyph Font::Impl::rasterise(char32_t codePoint) const {
    CachedGlyph out;
    const FaceSlot& face = faces[std::size_t(slotFor(codePoint))];
    FT_Face f = face.face.get();
    // Index 0 (a character no installed face has) draws the requested face's missing-glyph box.
    const FT_UInt index = FT_Get_Char_Index(f, FT_ULong(codePoint));
    const FT_Int32 loadFlags =
        FT_LOAD_DEFAULT | (monochrome() ? FT_LOAD_TARGET_MONO : FT_LOAD_TARGET_NORMAL);
    if (FT_Load_Glyph(f, index, loadFlags) != 0) return out;
    FT_GlyphSlot slot = f->glyph;
    if (face.synthesiseBold) FT_GlyphSlot_Embolden(slot);
    if (face.synthesiseItalic) FT_GlyphSlot_Oblique(slot);
    out.advance = int((slot->advance.x + 32) >> 6);
    if (slot->format != FT_GLYPH_FORMAT_BITMAP &&
        FT_Render_Glyph(slot, monochrome() ? FT_RENDER_MODE_MONO : FT_RENDER_MODE_NORMAL) != 0) {
        return out;
    }

    const FT_Bitmap* bitmap = &slot->bitmap;
    OwnedFtBitmap converted(library.get());
    int maxValue = 255;
    if (bitmap->pixel_mode != FT_PIXEL_MODE_GRAY && bitmap->pixel_mode != FT_PIXEL_MODE_MONO) {
        if (FT_Bitmap_Convert(library.get(), bitmap, converted.get(), 1) != 0) return out;
        bitmap = converted.get();
        maxValue = std::max(1, int(bitmap->num_grays) - 1);
    } else if (bitmap->pixel_mode == FT_PIXEL_MODE_GRAY) {
        maxValue = std::max(1, int(bitmap->num_grays) - 1);
    }

    out.left = slot->bitmap_left;
    out.top = slot->bitmap_top;
    out.width = int(bitmap->width);
    out.rows = int(bitmap->rows);
    if (out.width <= 0 || out.rows <= 0 || !bitmap->buffer) {
        out.width = out.rows = 0;
        return out;
    }
    out.coverage.assign(std::size_t(out.width) * std::size_t(out.rows), 0);
    const long pitch = bitmap->pitch;
    const std::uint8_t* top = pitch >= 0 ? bitmap->buffer : bitmap->buffer - pitch * (out.rows - 1);
    for (int y = 0; y < out.rows; ++y) {
        const std::uint8_t* src = top + pitch * y;
        std::uint8_t* dst = out.coverage.data() + std::size_t(y) * std::size_t(out.width);
        for (int x = 0; x < out.width; ++x) {
            int value = 0;
            if (bitmap->pixel_mode == FT_PIXEL_MODE_MONO) {
                value = (src[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
            } else {
                value = (int(src[x]) * 255 + maxValue / 2) / maxValue;
            }
            // Without antialiasing a pixel is fully on or off, whatever the face supplies.
            if (monochrome()) value = value >= 128 ? 255 : 0;
            dst[x] = std::uint8_t(std::min(value, 255));
        }
    }
    return out;
}

const CachedGlyph& Font::Impl::glyph(char32_t codePoint) const {
    if (auto it = glyphs.find(codePoint); it != glyphs.end()) return it->second;
    if (glyphs.size() >= kMaxCachedGlyphs) glyphs.clear();
    return glyphs.emplace(codePoint, rasterise(codePoint)).first->second;
}

FontRequest FontRequest::fromStyleBits(std::string family, int pixelHeight, std::uint32_t styleBits,
                                       FontQuality quality) {
    FontRequest request;
    request.family = std::move(family);
    request.pixelHeight = pixelHeight;
    request.weight = (styleBits & kFontStyleBold) ? 700 : 400;
    request.italic = (styleBits & kFontStyleItalic) != 0;
    request.underline = (styleBits & kFontStyleUnderline) != 0;
    request.strikeOut = (styleBits & kFontStyleStrikeOut) != 0;
    request.quality = quality;
    return request;
}

Font::Font(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
Font::Font(Font&&) noexcept = default;
Font& Font::operator=(Font&&) noexcept = default;
Font::~Font() = default;

std::optional<Font> Font::open(const FontRequest& request) {
    if (request.pixelHeight < 1 || request.pixelHeight > kMaxFontPixelHeight) return std::nullopt;
    const std::optional<FaceLocation> location = findFace(request);
    if (!location) return std::nullopt;

    auto impl = std::make_unique<Impl>();
    impl->request = request;
    impl->faceFamily = location->family;
    impl->faceFile = location->file;
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0) return std::nullopt;
    impl->library.reset(library);
    std::optional<FaceSlot> face = openFaceSlot(library, location->file, location->index, request);
    if (!face) return std::nullopt;
    impl->faces.push_back(std::move(*face));
    impl->slotByFile.emplace(std::to_string(location->index) + ":" + location->file, 0);
    impl->computeMetrics();
    return Font(std::move(impl));
}

const FontRequest& Font::request() const {
    return m_impl->request;
}
const std::string& Font::faceFamily() const {
    return m_impl->faceFamily;
}
const std::string& Font::faceFile() const {
    return m_impl->faceFile;
}
int Font::ascent() const {
    return m_impl->ascent;
}
int Font::lineHeight() const {
    return m_impl->lineHeight;
}

namespace {
bool isControl(char32_t c) {
    return c < 0x20 || c == 0x7F;
}

/// Fills a rectangle of coverage 255 (underline, strike-out); clipped.
void fillCoverage(Image& target, long long x0, long long y0, long long width, long long height,
                  Rgba colour) {
    const int x1 = int(std::clamp<long long>(x0 + width, 0, target.width()));
    const int y1 = int(std::clamp<long long>(y0 + height, 0, target.height()));
    for (int y = int(std::clamp<long long>(y0, 0, target.height())); y < y1; ++y) {
        std::uint8_t* row = target.row(y);
        for (int x = int(std::clamp<long long>(x0, 0, target.width())); x < x1; ++x) {
            std::uint8_t* p = row + std::size_t(x) * 4;
            p[0] = colour.blue();
            p[1] = colour.green();
            p[2] = colour.red();
            p[3] = std::max(p[3], colour.alpha());
        }
    }
}
} // namespace

InkBox InkBox::united(const InkBox& other) const {
    if (other.empty()) return *this;
    if (empty()) return other;
    return InkBox{std::min(left, other.left), std::min(top, other.top),
                  std::max(right, other.right), std::max(bottom, other.bottom)};
}

std::string Font::drawingFamily(char32_t codePoint) const {
    const int slot = m_impl->slotFor(codePoint);
    if (slot == 0) return m_impl->faceFamily;
    const FT_Face face = m_impl->faces[std::size_t(slot)].face.get();
    return face->family_name ? face->family_name : "";
}

InkBox Font::lineInk(std::string_view line) const {
    // Kept in 64 bits while summing, then clamped like the line width.
    constexpr long long kLimit = 1 << 30;
    long long left = 0, top = 0, right = 0, bottom = 0;
    bool any = false;
    auto add = [&](long long x0, long long y0, long long x1, long long y1) {
        if (x1 <= x0 || y1 <= y0) return;
        left = any ? std::min(left, x0) : x0;
        top = any ? std::min(top, y0) : y0;
        right = any ? std::max(right, x1) : x1;
        bottom = any ? std::max(bottom, y1) : y1;
        any = true;
    };
    long long pen = 0;
    for (char32_t c : decodeUtf8(line)) {
        if (isControl(c)) continue;
        const CachedGlyph& g = m_impl->glyph(c);
        const long long x0 = pen + g.left;
        const long long y0 = (long long)m_impl->ascent - g.top;
        add(x0, y0, x0 + g.width, y0 + g.rows);
        pen += g.advance;
    }
    const long long width = std::min(pen, kLimit);
    if (m_impl->request.underline) {
        add(0, m_impl->underlineTop, width, m_impl->underlineTop + m_impl->underlineThickness);
    }
    if (m_impl->request.strikeOut) {
        add(0, m_impl->strikeTop, width, m_impl->strikeTop + m_impl->strikeThickness);
    }
    if (!any) return {};
    auto clamp = [&](long long v) { return int(std::clamp(v, -kLimit, kLimit)); };
    return InkBox{clamp(left), clamp(top), clamp(right), clamp(bottom)};
}

int Font::lineWidth(std::string_view line) const {
    long long width = 0;
    for (char32_t c : decodeUtf8(line)) {
        if (!isControl(c)) width += m_impl->glyph(c).advance;
    }
    return int(std::clamp<long long>(width, 0, 1 << 30));
}

bool Font::drawLine(Image& target, int x, int y, std::string_view line, Rgba colour) const {
    if (target.empty() || target.format() != PixelFormat::Bgra32) return false;
    const int baseline = y + m_impl->ascent;
    long long pen = x;
    for (char32_t c : decodeUtf8(line)) {
        if (isControl(c)) continue;
        const CachedGlyph& g = m_impl->glyph(c);
        const long long left = pen + g.left;
        const long long top = (long long)baseline - g.top;
        pen += g.advance;
        if (g.width == 0 || left >= target.width() || top >= target.height() ||
            left + g.width <= 0 || top + g.rows <= 0) {
            continue;
        }
        const int gx0 = int(std::max<long long>(0, -left));
        const int gy0 = int(std::max<long long>(0, -top));
        const int gx1 = int(std::min<long long>(g.width, target.width() - left));
        const int gy1 = int(std::min<long long>(g.rows, target.height() - top));
        for (int gy = gy0; gy < gy1; ++gy) {
            const std::uint8_t* cov = g.coverage.data() + std::size_t(gy) * std::size_t(g.width);
            std::uint8_t* row = target.row(int(top + gy));
            for (int gx = gx0; gx < gx1; ++gx) {
                if (cov[gx] == 0) continue;
                std::uint8_t* p = row + std::size_t(left + gx) * 4;
                const auto alpha = std::uint8_t((colour.alpha() * cov[gx] + 127) / 255);
                p[0] = colour.blue();
                p[1] = colour.green();
                p[2] = colour.red();
                p[3] = std::max(p[3], alpha);
            }
        }
    }
    const long long width = std::min<long long>(pen - x, 1 << 30);
    if (width > 0 && (m_impl->request.underline || m_impl->request.strikeOut)) {
        if (m_impl->request.underline) {
            fillCoverage(target, x, (long long)y + m_impl->underlineTop, width,
                         m_impl->underlineThickness, colour);
        }
        if (m_impl->request.strikeOut) {
            fillCoverage(target, x, (long long)y + m_impl->strikeTop, width,
                         m_impl->strikeThickness, colour);
        }
    }
    return true;
}

TextLayout layoutText(const Font& font, std::string_view text, int lineSpacing, int maxWidth) {
    TextLayout layout;
    layout.lineHeight = font.lineHeight();
    // Further up, a line would start above the previous one and, from the second line on,
    // above the block itself, where it would be cut off.
    layout.lineSpacing = std::max(lineSpacing, -layout.lineHeight);

    auto addLine = [&](std::string line) {
        layout.lineWidths.push_back(font.lineWidth(line));
        layout.lines.push_back(std::move(line));
    };

    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find('\n', start);
        const std::string_view paragraph = text.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (maxWidth <= 0) {
            addLine(std::string(paragraph));
        } else {
            // Words end at a space; the space stays with the word that it ends.
            std::string line;
            std::size_t pos = 0;
            while (pos < paragraph.size()) {
                const std::size_t space = paragraph.find(' ', pos);
                const std::size_t wordEnd =
                    space == std::string_view::npos ? paragraph.size() : space + 1;
                const std::string_view word = paragraph.substr(pos, wordEnd - pos);
                std::string candidate = line + std::string(word);
                std::string_view trimmed = candidate;
                while (!trimmed.empty() && trimmed.back() == ' ')
                    trimmed.remove_suffix(1);
                if (!line.empty() && font.lineWidth(trimmed) > maxWidth) {
                    while (!line.empty() && line.back() == ' ')
                        line.pop_back();
                    addLine(std::move(line));
                    line = std::string(word);
                } else {
                    line = std::move(candidate);
                }
                pos = wordEnd;
            }
            addLine(std::move(line));
        }
        if (end == std::string_view::npos) break;
        start = end + 1;
    }

    for (int width : layout.lineWidths)
        layout.width = std::max(layout.width, width);
    const long long count = (long long)layout.lines.size();
    const long long height =
        count * layout.lineHeight + (count - 1) * (long long)layout.lineSpacing;
    layout.height = int(std::clamp<long long>(height, layout.lineHeight, 1 << 30));
    return layout;
}

int lineOffset(LineAlign align, int blockWidth, int lineWidth) {
    const int difference = blockWidth - lineWidth;
    switch (align) {
    case LineAlign::Right:
        return difference;
    case LineAlign::Centre:
        return int(std::lround(difference / 2.0));
    case LineAlign::Left:
        break;
    }
    return 0;
}

InkBox textBlockInk(const Font& font, const TextLayout& layout, LineAlign align) {
    InkBox ink;
    long long top = 0;
    for (std::size_t i = 0; i < layout.lines.size(); ++i) {
        const InkBox line = font.lineInk(layout.lines[i]);
        if (!line.empty()) {
            const long long dx = lineOffset(align, layout.width, layout.lineWidths[i]);
            auto clamp = [](long long v) {
                return int(std::clamp<long long>(v, -(1 << 30), 1 << 30));
            };
            ink = ink.united(InkBox{clamp(line.left + dx), clamp(line.top + top),
                                    clamp(line.right + dx), clamp(line.bottom + top)});
        }
        top += (long long)layout.lineHeight + layout.lineSpacing;
    }
    return ink;
}

bool drawTextBlock(Image& target, int x, int y, const Font& font, const TextLayout& layout,
                   LineAlign align, Rgba colour) {
    if (target.empty() || target.format() != PixelFormat::Bgra32) return false;
    long long top = y;
    for (std::size_t i = 0; i < layout.lines.size(); ++i) {
        const int lineX = x + lineOffset(align, layout.width, layout.lineWidths[i]);
        // Every line is drawn, even one whose line box lies outside the target: its glyphs
        // may still reach in. drawLine clips.
        const int lineY = int(std::clamp<long long>(top, -(1 << 30), 1 << 30));
        if (!font.drawLine(target, lineX, lineY, layout.lines[i], colour)) return false;
        top += (long long)layout.lineHeight + layout.lineSpacing;
    }
    return true;
}

std::u32string decodeUtf8(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const Utf8Char c = decodeUtf8At(text, i);
        out.push_back(c.length == 0 ? U'\uFFFD' : c.code);
        i += c.length == 0 ? 1 : c.length;
    }
    return out;
}

} // namespace quill::toolkit
