// The field table of the preset record: every stored field once, with its place in the "Presets"
// record, how it is stored, its default, its valid range and the first file version that has it.
// Reading, writing, the range check, the conversion of old files and the defaults all walk it.
#pragma once

#include "settings/preset.h"

#include <cstdint>
#include <span>
#include <string>

namespace quill::settings {

/// How a field is stored in the "Presets" record.
enum class FieldStorage : std::uint8_t {
    U8,          ///< one byte
    I8,          ///< one signed byte
    I16,         ///< two bytes, little-endian, signed
    U32,         ///< four bytes, little-endian
    Line,        ///< text up to a line feed
    EscapedLine, ///< text with line breaks and control characters escaped (escapeOverlayText)
    Conditions,  ///< the filter condition list: each condition behind kConditionMarker, no count
};

/// File versions, as the header's version number x 100.
inline constexpr int kFirstFileVersion = 400;
/// The record layout this program writes: every field of the table is stored.
inline constexpr int kLatestFileVersion = 470;

/// One stored field of `Record` (Preset or FilterCondition). Numbers of any member type (also
/// enums, through their underlying type) are handled as std::int64_t through `number` and
/// `setNumber`; texts through the member pointer `text`.
template <typename Record> struct FieldDescription {
    const char* name = "";
    FieldStorage storage = FieldStorage::U8;
    /// Valid range, inclusive: the value of a number, the length in bytes of a text.
    std::int64_t low = 0;
    std::int64_t high = 0;
    std::int64_t defaultNumber = 0;
    const char* defaultText = "";
    /// First file version that stores the field; reading an older file gives the default.
    int since = kFirstFileVersion;
    /// Files older than this version store the value on another scale; `rescale` converts it.
    int rescaledBefore = 0;
    std::int64_t (*rescale)(std::int64_t) = nullptr;

    std::int64_t (*number)(const Record&) = nullptr;
    void (*setNumber)(Record&, std::int64_t) = nullptr;
    std::string Record::*text = nullptr;

    [[nodiscard]] bool isNumber() const { return number != nullptr; }
    [[nodiscard]] bool isText() const { return text != nullptr; }

    void setDefault(Record& record) const {
        if (isNumber()) setNumber(record, defaultNumber);
        if (isText()) record.*text = defaultText;
    }
    /// True when the field's value (or length) lies in its range; the condition list is checked
    /// condition by condition by the caller.
    [[nodiscard]] bool inRange(const Record& record) const {
        std::int64_t value = 0;
        if (isNumber())
            value = number(record);
        else if (isText())
            value = static_cast<std::int64_t>((record.*text).size());
        else
            return true;
        return value >= low && value <= high;
    }
};

/// The stored fields of a preset, in record order.
[[nodiscard]] std::span<const FieldDescription<Preset>> presetFields();
/// The stored fields of a filter condition, in record order (after its marker).
[[nodiscard]] std::span<const FieldDescription<FilterCondition>> conditionFields();

/// Sets every field of `preset` to its table default and clears the condition list.
void setTableDefaults(Preset& preset);

} // namespace quill::settings
