// The "Presets" and "Language" setting files: their header, the preset records, and old versions.
#include "settings/setting_files.h"

#include "settings/language_pack.h"
#include "settings/preset_fields.h"
#include "toolkit/bytes.h"
#include "toolkit/platform/platform.h"

#include <algorithm>
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
    void i16(std::int16_t v) { toolkit::appendU16le(m_bytes, static_cast<std::uint16_t>(v)); }
    void u32(std::uint32_t v) { toolkit::appendU32le(m_bytes, v); }
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
        const std::uint16_t v = toolkit::loadU16le(m_bytes.data() + m_pos);
        m_pos += 2;
        return static_cast<std::int16_t>(v);
    }
    std::uint32_t u32() {
        if (!m_ok || m_bytes.size() - m_pos < 4) return fail<std::uint32_t>();
        const std::uint32_t v = toolkit::loadU32le(m_bytes.data() + m_pos);
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

template <typename Record>
void writeField(ByteWriter& w, const FieldDescription<Record>& field, const Record& record) {
    switch (field.storage) {
    case FieldStorage::U8:
        w.u8(static_cast<std::uint8_t>(field.number(record)));
        break;
    case FieldStorage::I8:
        w.i8(static_cast<std::int8_t>(field.number(record)));
        break;
    case FieldStorage::I16:
        w.i16(static_cast<std::int16_t>(field.number(record)));
        break;
    case FieldStorage::U32:
        w.u32(static_cast<std::uint32_t>(field.number(record)));
        break;
    case FieldStorage::Line:
        w.line(record.*field.text);
        break;
    case FieldStorage::EscapedLine:
        w.line(escapeOverlayText(record.*field.text));
        break;
    case FieldStorage::Conditions:
        break; // the caller writes the list
    }
}

template <typename Record>
void readField(ByteReader& r, const FieldDescription<Record>& field, Record& record) {
    switch (field.storage) {
    case FieldStorage::U8:
        field.setNumber(record, r.u8());
        break;
    case FieldStorage::I8:
        field.setNumber(record, r.i8());
        break;
    case FieldStorage::I16:
        field.setNumber(record, r.i16());
        break;
    case FieldStorage::U32:
        field.setNumber(record, r.u32());
        break;
    case FieldStorage::Line:
        record.*field.text = r.line();
        break;
    case FieldStorage::EscapedLine:
        record.*field.text = unescapeOverlayText(r.line());
        break;
    case FieldStorage::Conditions:
        break; // the caller reads the list
    }
}

void writeRecord(ByteWriter& w, const Preset& p) {
    w.u32(kPresetMarker);
    for (const FieldDescription<Preset>& field : presetFields()) {
        if (field.storage != FieldStorage::Conditions) {
            writeField(w, field, p);
            continue;
        }
        for (const FilterCondition& c : p.filterConditions) {
            w.u32(kConditionMarker);
            for (const FieldDescription<FilterCondition>& part : conditionFields())
                writeField(w, part, c);
        }
    }
}

// The condition list has no count: it ends at the first u32 that is not the marker, and that
// u32 belongs to the rest of the record. False when the bytes end inside a condition.
bool readConditions(ByteReader& r, std::vector<FilterCondition>& conditions) {
    while (r.ok()) {
        const std::size_t before = r.position();
        if (r.u32() != kConditionMarker || !r.ok()) {
            r.seek(before);
            break;
        }
        FilterCondition c;
        for (const FieldDescription<FilterCondition>& part : conditionFields())
            readField(r, part, c);
        if (!r.ok()) return false;
        conditions.push_back(std::move(c));
    }
    // A u32 read that ran off the end put the reader in the failed state; it stays failed.
    return true;
}

// Reads one record of file version `version` (x 100) after its marker: fields the version does
// not store get their defaults, values it stored on another scale are converted. False when the
// bytes end inside the record.
bool readRecord(ByteReader& r, int version, Preset& p) {
    for (const FieldDescription<Preset>& field : presetFields()) {
        if (field.storage == FieldStorage::Conditions) {
            if (!readConditions(r, p.filterConditions)) return false;
        } else if (version < field.since) {
            field.setDefault(p);
        } else {
            readField(r, field, p);
            if (version < field.rescaledBefore) field.setNumber(p, field.rescale(field.number(p)));
        }
    }
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

namespace {

// The file version (x 100) of a setting file written by an earlier program whose files this one
// reads, or 0. The "Language" file has kept its layout; the presets are converted field by field.
int earlierVersion(std::span<const std::uint8_t> bytes, std::size_t* headerSize) {
    constexpr long kReadable[] = {400, 410, 420, 430, 440, 450, 460};
    const float stored = headerVersion(bytes, headerSize);
    const long hundredths = std::lround(static_cast<double>(stored) * 100.0);
    if (std::find(std::begin(kReadable), std::end(kReadable), hundredths) == std::end(kReadable))
        return 0;
    return static_cast<int>(hundredths);
}

} // namespace

bool fileMayBeCurrentSettings(const std::string& path) {
    const auto bytes = platform::readFile(path, kMaxSettingsFileSize);
    // A setting file of an earlier version marks a portable install as well: after an update
    // the program must go on using the files next to it.
    if (bytes)
        return !bytes->empty() && (headerIsCurrent(*bytes) || earlierVersion(*bytes, nullptr) != 0);
    if (!platform::isReadError(platform::lastError())) return false;
    const auto info = platform::fileInfo(path);
    return info && info->size != 0 && platform::isRegularFile(path);
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
    int version = kLatestFileVersion;
    std::size_t headerSize = 0;
    if (!headerIsCurrent(bytes, &headerSize)) {
        version = earlierVersion(bytes, &headerSize);
        if (version == 0) return false;
    }

    ByteReader r(bytes);
    r.seek(headerSize);
    PresetList result;
    result.currentIndex = r.u8();
    while (r.ok() && !r.atEnd()) {
        if (r.u32() != kPresetMarker || !r.ok()) break;
        Preset preset;
        if (!readRecord(r, version, preset)) break;
        result.presets.push_back(std::move(preset));
    }
    // A list without a single complete record cannot start the program: treat it as unusable
    // so that the defaults take its place.
    if (result.presets.empty()) return false;
    list = std::move(result);
    return true;
}

PresetsRead readPresets(const std::string& path, PresetList& list) {
    const auto bytes = platform::readFile(path, kMaxSettingsFileSize);
    const int error = bytes ? 0 : platform::lastError();
    if (bytes && parsePresets(*bytes, list)) return PresetsRead::Loaded;
    buildDefaults(list);
    if (bytes || error == EFBIG) return PresetsRead::Damaged;
    // Only a file that is not there is missing; a folder or a FIFO under the name, or a file
    // that failed to open or read, is a file we could not read.
    if ((error == ENOENT || error == ENOTDIR) && !platform::fileExists(path))
        return PresetsRead::Missing;
    return PresetsRead::Unreadable;
}

std::optional<std::string> backupUnreadableFile(const std::string& path) {
    const auto bytes = platform::readFile(path, kMaxSettingsFileSize);
    if (!bytes) {
        const int error = platform::lastError();
        // Missing: nothing to keep. Too large to be ours: kept like any foreign file. Anything
        // else (a folder, no permission, an input/output error) could not be copied faithfully
        // either: refuse to write over it.
        if (!platform::fileExists(path)) return std::string();
        if (error != EFBIG) return std::nullopt;
    } else if (bytes->empty()) {
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
    if (!headerIsCurrent(*bytes, &headerSize) && earlierVersion(*bytes, &headerSize) == 0)
        return -1;
    if (bytes->size() <= headerSize) return -1;
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
