// The "Presets" and "Language" setting files: their header, the preset records, and old versions.
#include "settings/setting_files.h"

#include "settings/language_pack.h"
#include "toolkit/platform/platform.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quill::settings {

namespace {

// No real settings file comes near this; larger files are treated as foreign.
constexpr std::uint64_t kMaxSettingsFileSize = 16u << 20;

class ByteWriter {
public:
    void u8(std::uint8_t v) { m_bytes.push_back(v); }
    void i8(std::int8_t v) { u8(static_cast<std::uint8_t>(v)); }
    void i16(std::int16_t v) {
        const auto u = static_cast<std::uint16_t>(v);
        u8(static_cast<std::uint8_t>(u));
        u8(static_cast<std::uint8_t>(u >> 8));
    }
    void u32(std::uint32_t v) {
        for (int shift = 0; shift < 32; shift += 8)
            u8(static_cast<std::uint8_t>(v >> shift));
    }
    void f32(float v) {
        std::uint32_t bits = 0;
        std::memcpy(&bits, &v, sizeof bits);
        u32(bits);
    }
    // A line cannot hold a line feed: the callers escape or strip it first.
    void line(std::string_view text) {
        for (char c : text) {
            if (c != '\n' && c != '\0') m_bytes.push_back(static_cast<std::uint8_t>(c));
        }
        m_bytes.push_back('\n');
    }
    std::vector<std::uint8_t>& bytes() { return m_bytes; }

private:
    std::vector<std::uint8_t> m_bytes;
};

// Bounded reader: every read checks the remaining length; after the first failure ok() stays
// false and every further read yields zero.
class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}
    bool ok() const { return m_ok; }
    std::size_t position() const { return m_pos; }
    void seek(std::size_t pos) { m_pos = pos <= m_bytes.size() ? pos : m_bytes.size(); }
    bool atEnd() const { return m_pos >= m_bytes.size(); }

    std::uint8_t u8() {
        if (!m_ok || m_bytes.size() - m_pos < 1) return fail<std::uint8_t>();
        return m_bytes[m_pos++];
    }
    std::int8_t i8() { return static_cast<std::int8_t>(u8()); }
    std::int16_t i16() {
        if (!m_ok || m_bytes.size() - m_pos < 2) return fail<std::int16_t>();
        const auto v = static_cast<std::uint16_t>(m_bytes[m_pos] | m_bytes[m_pos + 1] << 8);
        m_pos += 2;
        return static_cast<std::int16_t>(v);
    }
    std::uint32_t u32() {
        if (!m_ok || m_bytes.size() - m_pos < 4) return fail<std::uint32_t>();
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = v << 8 | m_bytes[m_pos + static_cast<std::size_t>(i)];
        m_pos += 4;
        return v;
    }
    float f32() {
        const std::uint32_t bits = u32();
        float v = 0;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
    // The bytes up to the next line feed; a missing line feed is a truncation. Null bytes are
    // dropped so that strings never hold one.
    std::string line() {
        if (!m_ok) return {};
        if (m_pos >= m_bytes.size()) return fail<std::string>(); // also keeps memchr off null
        const std::uint8_t* begin = m_bytes.data() + m_pos;
        const void* found = std::memchr(begin, '\n', m_bytes.size() - m_pos);
        if (found == nullptr) return fail<std::string>();
        const auto* end = static_cast<const std::uint8_t*>(found);
        std::string text;
        text.reserve(static_cast<std::size_t>(end - begin));
        for (const std::uint8_t* p = begin; p != end; ++p) {
            if (*p != 0) text.push_back(static_cast<char>(*p));
        }
        m_pos += static_cast<std::size_t>(end - begin) + 1;
        return text;
    }

private:
    template <typename T> T fail() {
        m_ok = false;
        return T{};
    }

    std::span<const std::uint8_t> m_bytes;
    std::size_t m_pos = 0;
    bool m_ok = true;
};

// The stored variants of the record, by header version x 100.
struct RecordLayout {
    bool hasCanvas = true;
    bool hasNumberingOptions = true;
    bool channelsOnOldScale = false; // channel offsets stored as 0..510 with 255 neutral
};

std::int16_t fromOldChannelScale(std::int16_t stored) {
    return static_cast<std::int16_t>(std::lround(static_cast<double>(stored) / 2.55));
}

void writeRecord(ByteWriter& w, const Preset& p) {
    w.u32(kPresetMarker);
    w.u8(p.index);
    w.line(p.name);
    for (std::uint8_t v :
         {p.selectedPage, p.listDisplayOption, p.windowLayoutOption, p.scanImageDetails,
          p.listStyleOption, p.includeSubdirectories, p.includeHiddenFiles, p.includeVideos,
          p.useExifDate, p.useExifOrientation, p.keepFilteredImages, p.keepProcessedSources,
          p.keepFailedSources, p.loadOutputImages, p.keepUnprocessedImages, p.exitAfterRun,
          p.filterEnabled}) {
        w.u8(v);
    }
    for (const FilterCondition& c : p.filterConditions) {
        w.u32(kConditionMarker);
        w.u32(c.flags);
        w.u8(c.property);
        w.u8(c.operator_);
        w.line(c.value);
        w.u8(c.valueKind);
    }
    w.u8(p.cropEnabled);
    w.u8(std::uint8_t(p.cropMode));
    w.i16(p.cropLeft);
    w.i16(p.cropRight);
    w.i16(p.cropTop);
    w.i16(p.cropBottom);
    w.u8(p.trimLeft);
    w.u8(p.trimRight);
    w.u8(p.trimTop);
    w.u8(p.trimBottom);
    w.u8(p.trimColorTolerance);
    w.u8(p.trimOutlierTolerance);
    w.u8(p.rotateEnabled);
    w.u8(p.rotateMode);
    w.u8(p.resizeEnabled);
    w.u8(std::uint8_t(p.resizeMode));
    w.i16(p.resizeWidth);
    w.i16(p.resizeHeight);
    w.i16(p.resizePercent);
    w.u8(p.resizeOption);
    w.u8(std::uint8_t(p.resizeLimits));
    w.u8(p.brightnessEnabled);
    w.i16(p.brightnessLevel);
    w.u8(p.saturationEnabled);
    w.i16(p.saturationLevel);
    w.u8(p.contrastEnabled);
    w.i16(p.contrastLevel);
    w.u8(p.gammaEnabled);
    w.i16(p.gammaLevel);
    w.u8(p.channelAdjustEnabled);
    w.i16(p.channelAdjustRed);
    w.i16(p.channelAdjustGreen);
    w.i16(p.channelAdjustBlue);
    w.u8(p.canvasEnabled);
    w.i16(p.canvasWidth);
    w.i16(p.canvasHeight);
    w.u8(std::uint8_t(p.canvasMode));
    w.u32(p.canvasColor);
    w.u8(p.overlayEnabled);
    w.u8(std::uint8_t(p.overlayKind));
    w.line(escapeOverlayText(p.overlayText));
    w.line(p.overlayImagePath);
    w.line(p.overlayFontName);
    w.u32(p.overlayFontStyle);
    w.u8(p.overlayFontSize);
    w.u8(std::uint8_t(p.overlayTextAlign));
    w.i8(p.overlayLineSpacing);
    w.u32(p.overlayTextColor);
    w.u8(p.overlayImageScale);
    w.u8(p.overlayOutline);
    w.u8(p.overlayOutlineWidth);
    w.u32(p.overlayOutlineColor);
    w.u8(p.overlayOpacity);
    w.u8(std::uint8_t(p.overlayHorizontalAlign));
    w.i16(p.overlayHorizontalMargin);
    w.u8(std::uint8_t(p.overlayVerticalAlign));
    w.i16(p.overlayVerticalMargin);
    w.u8(p.sortEnabled);
    w.u8(std::uint8_t(p.sortKey));
    w.u8(p.sortAscending);
    w.u8(p.commentEnabled);
    w.line(p.commentText);
    w.u8(p.keepMetadata);
    w.u8(p.setFileDates);
    w.u8(std::uint8_t(p.fileDateSource));
    w.u32(p.fixedFileDate);
    w.i16(p.fileDateShiftMinutes);
    for (std::uint8_t v : {p.resetFileAttributes, p.convertFormat, std::uint8_t(p.outputFormat),
                           p.qualityEnabled, p.quality, p.colorDepthEnabled,
                           std::uint8_t(p.colorDepth), p.colorDepthOption, p.renameEnabled}) {
        w.u8(v);
    }
    w.line(p.renamePattern);
    w.u8(p.perFolderNumbering);
    w.u8(p.noZeroPadding);
    w.u8(p.outputDirEnabled);
    w.line(p.outputDirPattern);
    w.u8(p.mirrorSubfolders);
    w.u8(p.moveOriginal);
}

// Reads one record after its marker. False when the bytes end inside the record.
bool readRecord(ByteReader& r, const RecordLayout& layout, Preset& p) {
    p.index = r.u8();
    p.name = r.line();
    for (std::uint8_t* v :
         {&p.selectedPage, &p.listDisplayOption, &p.windowLayoutOption, &p.scanImageDetails,
          &p.listStyleOption, &p.includeSubdirectories, &p.includeHiddenFiles, &p.includeVideos,
          &p.useExifDate, &p.useExifOrientation, &p.keepFilteredImages, &p.keepProcessedSources,
          &p.keepFailedSources, &p.loadOutputImages, &p.keepUnprocessedImages, &p.exitAfterRun,
          &p.filterEnabled}) {
        *v = r.u8();
    }
    // The condition list has no count: it ends at the first u32 that is not the marker, and
    // that u32 belongs to the rest of the record.
    while (r.ok()) {
        const std::size_t before = r.position();
        if (r.u32() != kConditionMarker || !r.ok()) {
            r.seek(before);
            break;
        }
        FilterCondition c;
        c.flags = r.u32();
        c.property = r.u8();
        c.operator_ = r.u8();
        c.value = r.line();
        c.valueKind = r.u8();
        if (!r.ok()) return false;
        p.filterConditions.push_back(std::move(c));
    }
    // A u32 read that ran off the end put the reader in the failed state; it stays failed.
    p.cropEnabled = r.u8();
    p.cropMode = CropMode(r.u8());
    p.cropLeft = r.i16();
    p.cropRight = r.i16();
    p.cropTop = r.i16();
    p.cropBottom = r.i16();
    p.trimLeft = r.u8();
    p.trimRight = r.u8();
    p.trimTop = r.u8();
    p.trimBottom = r.u8();
    p.trimColorTolerance = r.u8();
    p.trimOutlierTolerance = r.u8();
    p.rotateEnabled = r.u8();
    p.rotateMode = r.u8();
    p.resizeEnabled = r.u8();
    p.resizeMode = ResizeMode(r.u8());
    p.resizeWidth = r.i16();
    p.resizeHeight = r.i16();
    p.resizePercent = r.i16();
    p.resizeOption = r.u8();
    p.resizeLimits = ResizeLimits(r.u8());
    p.brightnessEnabled = r.u8();
    p.brightnessLevel = r.i16();
    p.saturationEnabled = r.u8();
    p.saturationLevel = r.i16();
    p.contrastEnabled = r.u8();
    p.contrastLevel = r.i16();
    p.gammaEnabled = r.u8();
    p.gammaLevel = r.i16();
    p.channelAdjustEnabled = r.u8();
    p.channelAdjustRed = r.i16();
    p.channelAdjustGreen = r.i16();
    p.channelAdjustBlue = r.i16();
    if (layout.channelsOnOldScale) {
        p.channelAdjustRed = fromOldChannelScale(p.channelAdjustRed);
        p.channelAdjustGreen = fromOldChannelScale(p.channelAdjustGreen);
        p.channelAdjustBlue = fromOldChannelScale(p.channelAdjustBlue);
    }
    if (layout.hasCanvas) {
        p.canvasEnabled = r.u8();
        p.canvasWidth = r.i16();
        p.canvasHeight = r.i16();
        p.canvasMode = CanvasMode(r.u8());
        p.canvasColor = r.u32();
    } else {
        p.canvasEnabled = 0;
        p.canvasWidth = 1024;
        p.canvasHeight = 768;
        p.canvasMode = CanvasMode::Colour;
        p.canvasColor = 0x808080;
    }
    p.overlayEnabled = r.u8();
    p.overlayKind = OverlayKind(r.u8());
    p.overlayText = unescapeOverlayText(r.line());
    p.overlayImagePath = r.line();
    p.overlayFontName = r.line();
    p.overlayFontStyle = r.u32();
    p.overlayFontSize = r.u8();
    p.overlayTextAlign = TextAlign(r.u8());
    p.overlayLineSpacing = r.i8();
    p.overlayTextColor = r.u32();
    p.overlayImageScale = r.u8();
    p.overlayOutline = r.u8();
    p.overlayOutlineWidth = r.u8();
    p.overlayOutlineColor = r.u32();
    p.overlayOpacity = r.u8();
    p.overlayHorizontalAlign = OverlayAlign(r.u8());
    p.overlayHorizontalMargin = r.i16();
    p.overlayVerticalAlign = OverlayAlign(r.u8());
    p.overlayVerticalMargin = r.i16();
    p.sortEnabled = r.u8();
    p.sortKey = SortKey(r.u8());
    p.sortAscending = r.u8();
    p.commentEnabled = r.u8();
    p.commentText = r.line();
    p.keepMetadata = r.u8();
    p.setFileDates = r.u8();
    p.fileDateSource = FileDateSource(r.u8());
    p.fixedFileDate = r.u32();
    p.fileDateShiftMinutes = r.i16();
    for (std::uint8_t* v :
         {&p.resetFileAttributes, &p.convertFormat,
          reinterpret_cast<std::uint8_t*>(&p.outputFormat), &p.qualityEnabled, &p.quality,
          &p.colorDepthEnabled, reinterpret_cast<std::uint8_t*>(&p.colorDepth), &p.colorDepthOption,
          &p.renameEnabled}) {
        *v = r.u8();
    }
    p.renamePattern = r.line();
    if (layout.hasNumberingOptions) {
        p.perFolderNumbering = r.u8();
        p.noZeroPadding = r.u8();
    } else {
        p.perFolderNumbering = 1;
        p.noZeroPadding = 0;
    }
    p.outputDirEnabled = r.u8();
    p.outputDirPattern = r.line();
    p.mirrorSubfolders = r.u8();
    p.moveOriginal = r.u8();
    return r.ok();
}

// Reads the short-name line and the rest of the header; false when the name is not ours or the
// bytes end early.
bool readHeader(std::span<const std::uint8_t> bytes, float& version, std::uint8_t& first,
                std::uint8_t& second, std::size_t& size) {
    ByteReader r(bytes);
    const std::string name = r.line();
    if (!r.ok() || name != settingsShortName()) return false;
    version = r.f32();
    first = r.u8();
    second = r.u8();
    size = r.position();
    return r.ok();
}

} // namespace

std::string settingsShortName() {
    const std::string& name = programInfoText(2);
    return name.empty() ? std::string("Quillmere") : name;
}

float settingsVersion() {
    const std::string& text = programInfoText(4);
    if (text.empty()) return kSettingsFileVersion;
    return std::strtof(text.c_str(), nullptr);
}

std::vector<std::uint8_t> settingFileHeader() {
    ByteWriter w;
    w.line(settingsShortName());
    w.f32(settingsVersion());
    w.u8(1);
    w.u8(1);
    return std::move(w.bytes());
}

bool headerIsCurrent(std::span<const std::uint8_t> bytes, std::size_t* headerSize) {
    float version = 0;
    std::uint8_t first = 0;
    std::uint8_t second = 0;
    std::size_t size = 0;
    if (!readHeader(bytes, version, first, second, size)) return false;
    if (version != settingsVersion() || first != 1 || second != 1) return false;
    if (headerSize != nullptr) *headerSize = size;
    return true;
}

float headerVersion(std::span<const std::uint8_t> bytes, std::size_t* headerSize) {
    float version = 0;
    std::uint8_t first = 0;
    std::uint8_t second = 0;
    std::size_t size = 0;
    if (!readHeader(bytes, version, first, second, size)) return 0.0f;
    if (first != 1 || second != 1) return 0.0f;
    if (headerSize != nullptr) *headerSize = size;
    return version;
}

bool fileHasCurrentHeader(const std::string& path) {
    const auto bytes = platform::readFile(path, kMaxSettingsFileSize);
    return bytes && !bytes->empty() && headerIsCurrent(*bytes);
}

std::string escapeOverlayText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\v':
            out += "\\v";
            break;
        case '"':
            out += "\\'";
            break;
        case '\a':
            out += "\\a";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\x1B':
            out += "\\[";
            break;
        default:
            out.push_back(c);
        }
    }
    return out;
}

std::string unescapeOverlayText(std::string_view stored) {
    std::string out;
    out.reserve(stored.size());
    for (std::size_t i = 0; i < stored.size(); ++i) {
        const char c = stored[i];
        if (c != '\\' || i + 1 == stored.size()) {
            out.push_back(c);
            continue;
        }
        char plain = 0;
        switch (stored[i + 1]) {
        case '\\':
            plain = '\\';
            break;
        case 'n':
            plain = '\n';
            break;
        case 'r':
            plain = '\r';
            break;
        case 't':
            plain = '\t';
            break;
        case 'v':
            plain = '\v';
            break;
        case '\'':
            plain = '"';
            break;
        case 'a':
            plain = '\a';
            break;
        case 'b':
            plain = '\b';
            break;
        case 'f':
            plain = '\f';
            break;
        case '[':
            plain = '\x1B';
            break;
        default:
            break;
        }
        if (plain == 0) {
            out.push_back(c);
            continue;
        }
        out.push_back(plain);
        ++i;
    }
    return out;
}

std::vector<std::uint8_t> serializePresets(const PresetList& list) {
    ByteWriter w;
    w.bytes() = settingFileHeader();
    w.u8(static_cast<std::uint8_t>(list.currentIndex));
    for (const Preset& preset : list.presets)
        writeRecord(w, preset);
    return std::move(w.bytes());
}

bool parsePresets(std::span<const std::uint8_t> bytes, PresetList& list) {
    RecordLayout layout;
    std::size_t headerSize = 0;
    if (!headerIsCurrent(bytes, &headerSize)) {
        const float version = headerVersion(bytes, &headerSize);
        const long hundredths = std::lround(static_cast<double>(version) * 100.0);
        switch (hundredths) {
        case 400:
        case 410:
        case 420:
        case 430:
        case 440:
        case 450:
            break;
        default:
            return false;
        }
        layout.hasCanvas = false;
        layout.hasNumberingOptions = hundredths >= 450;
        layout.channelsOnOldScale = hundredths < 440;
    }

    ByteReader r(bytes);
    r.seek(headerSize);
    PresetList result;
    result.currentIndex = r.u8();
    while (r.ok() && !r.atEnd()) {
        if (r.u32() != kPresetMarker || !r.ok()) break;
        Preset preset;
        if (!readRecord(r, layout, preset)) break;
        result.presets.push_back(std::move(preset));
    }
    // A list without a single complete record cannot start the program: treat it as unusable
    // so that the defaults take its place.
    if (result.presets.empty()) return false;
    list = std::move(result);
    return true;
}

void readPresets(const std::string& path, PresetList& list) {
    const auto bytes = platform::readFile(path, kMaxSettingsFileSize);
    if (bytes && parsePresets(*bytes, list)) return;
    buildDefaults(list);
}

std::optional<std::string> backupUnreadableFile(const std::string& path) {
    const auto bytes = platform::readFile(path, kMaxSettingsFileSize);
    if (!bytes || bytes->empty()) {
        // Missing: nothing to keep. Present but not readable as a settings file (too large, no
        // permission): refuse to write over it.
        if (!platform::fileExists(path)) return std::string();
        if (!platform::isRegularFile(path)) return std::nullopt;
        if (const auto info = platform::fileInfo(path); info && info->size == 0)
            return std::string();
    }
    const float version = bytes ? headerVersion(*bytes) : 0.0f;
    std::string versionText = "unknown";
    if (version > 0.0f && version < 1000.0f) {
        char text[16];
        std::snprintf(text, sizeof text, "%.1f", static_cast<double>(version));
        versionText = text;
    }
    for (int n = 0; n < 100; ++n) {
        const std::string backup =
            path + "." + versionText + (n ? "." + std::to_string(n) : std::string()) + ".bak";
        if (platform::copyFile(path, backup, platform::Overwrite::FailIfExists)) return backup;
        if (platform::lastError() != EEXIST) return std::nullopt;
    }
    return std::nullopt;
}

namespace {

/// Writes a settings file; an existing one this version cannot read is backed up first.
bool writeSettingFile(const std::string& path, std::span<const std::uint8_t> bytes, bool readable,
                      std::string* backupPath) {
    if (backupPath != nullptr) backupPath->clear();
    if (!readable) {
        const auto backup = backupUnreadableFile(path);
        if (!backup) return false;
        if (backupPath != nullptr) *backupPath = *backup;
    }
    return platform::writeFileAtomically(path, bytes);
}

} // namespace

bool writePresets(const std::string& path, const PresetList& list, std::string* backupPath) {
    const std::vector<std::uint8_t> bytes = serializePresets(list);
    const auto existing = platform::readFile(path, kMaxSettingsFileSize);
    PresetList parsed;
    const bool readable =
        (existing && parsePresets(*existing, parsed)) || (!existing && !platform::fileExists(path));
    return writeSettingFile(path, bytes, readable, backupPath);
}

int readStoredLanguage(const std::string& path) {
    const auto bytes = platform::readFile(path, kMaxSettingsFileSize);
    if (!bytes) return -1;
    std::size_t headerSize = 0;
    if (!headerIsCurrent(*bytes, &headerSize) || bytes->size() <= headerSize) return -1;
    const auto value = static_cast<std::int8_t>((*bytes)[headerSize]);
    if (value < 0 || value >= kLanguageCount) return -1;
    return value;
}

int readLanguage(const std::string& path) {
    const int stored = readStoredLanguage(path);
    return stored >= 0 ? stored : systemLanguageIndex();
}

bool writeLanguage(const std::string& path, int languageIndex, std::string* backupPath) {
    if (languageIndex < 0 || languageIndex >= kLanguageCount) return false;
    std::vector<std::uint8_t> bytes = settingFileHeader();
    bytes.push_back(static_cast<std::uint8_t>(languageIndex));
    const bool readable = readStoredLanguage(path) >= 0 || !platform::fileExists(path);
    return writeSettingFile(path, bytes, readable, backupPath);
}

int systemLanguageIndex() {
    return languageIndexForCode(platform::defaultUiLanguage());
}

} // namespace quill::settings
