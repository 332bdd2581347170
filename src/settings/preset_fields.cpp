// The field table of the preset record and of its filter conditions.
#include "settings/preset_fields.h"

#include "settings/preset_range.h"

#include <cmath>
#include <type_traits>

namespace quill::settings {

namespace {

template <typename Pointer> struct MemberOf;
template <typename Record, typename Type> struct MemberOf<Type Record::*> {
    using RecordType = Record;
    using MemberType = Type;
};

// The storage of a number member; an enum is stored as its underlying type.
template <typename T> constexpr FieldStorage numberStorage() {
    if constexpr (std::is_enum_v<T>) {
        return numberStorage<std::underlying_type_t<T>>();
    } else if constexpr (std::is_same_v<T, std::uint8_t>) {
        return FieldStorage::U8;
    } else if constexpr (std::is_same_v<T, std::int8_t>) {
        return FieldStorage::I8;
    } else if constexpr (std::is_same_v<T, std::int16_t>) {
        return FieldStorage::I16;
    } else {
        static_assert(std::is_same_v<T, std::uint32_t>, "numbers are stored as u8, i8, i16 or u32");
        return FieldStorage::U32;
    }
}

template <auto Member>
constexpr auto number(const char* name, std::int64_t defaultValue, std::int64_t low,
                      std::int64_t high, int since = kFirstFileVersion) {
    using Record = typename MemberOf<decltype(Member)>::RecordType;
    using Type = typename MemberOf<decltype(Member)>::MemberType;
    FieldDescription<Record> field;
    field.name = name;
    field.storage = numberStorage<Type>();
    field.low = low;
    field.high = high;
    field.defaultNumber = defaultValue;
    field.since = since;
    field.number = [](const Record& r) { return static_cast<std::int64_t>(r.*Member); };
    field.setNumber = [](Record& r, std::int64_t v) { r.*Member = static_cast<Type>(v); };
    return field;
}

template <auto Member>
constexpr auto flag(const char* name, std::int64_t defaultValue, int since = kFirstFileVersion) {
    return number<Member>(name, defaultValue, 0, 1, since);
}

constexpr std::int64_t kAnyU8 = 0xFF;
constexpr std::int64_t kAnyU32 = 0xFFFFFFFF;
constexpr std::int64_t kColor = 0xFFFFFF; // 0x00BBGGRR
constexpr auto kLongestText = static_cast<std::int64_t>(kMaxPresetTextBytes);

template <auto Member>
constexpr auto text(const char* name, const char* defaultText, std::int64_t shortest = 0,
                    FieldStorage storage = FieldStorage::Line) {
    FieldDescription<typename MemberOf<decltype(Member)>::RecordType> field;
    field.name = name;
    field.storage = storage;
    field.low = shortest;
    field.high = kLongestText;
    field.defaultText = defaultText;
    field.text = Member;
    return field;
}

// Before 4.4 the channel offsets were stored as 0..510 with 255 neutral.
constexpr int kChannelScaleChanged = 440;
std::int64_t fromOldChannelScale(std::int64_t stored) {
    return std::lround(static_cast<double>(stored) / 2.55);
}

template <auto Member> constexpr auto channel(const char* name) {
    auto field = number<Member>(name, 100, 0, 200);
    field.rescaledBefore = kChannelScaleChanged;
    field.rescale = fromOldChannelScale;
    return field;
}

// The numbering options came with 4.5, the canvas with 4.6, colour profiles and location
// removal with 4.7.
constexpr int kNumberingOptions = 450;
constexpr int kCanvas = 460;
constexpr int kColourAndLocation = 470; // also the output size limit
// The largest output size limit in KiB: 1 GiB.
constexpr std::int64_t kLargestSizeLimit = 1048576;

using P = Preset;

constexpr FieldDescription<Preset> kPresetFields[] = {
    number<&P::index>("index", 0, 0, kAnyU8),
    text<&P::name>("name", ""),
    number<&P::selectedPage>("selectedPage", 0, 0, 13),
    flag<&P::listDisplayOption>("listDisplayOption", 1),
    flag<&P::windowLayoutOption>("windowLayoutOption", 1),
    flag<&P::scanImageDetails>("scanImageDetails", 1),
    flag<&P::listStyleOption>("listStyleOption", 0),
    flag<&P::includeSubdirectories>("includeSubdirectories", 1),
    flag<&P::includeHiddenFiles>("includeHiddenFiles", 0),
    flag<&P::includeVideos>("includeVideos", 1),
    flag<&P::useExifDate>("useExifDate", 1),
    flag<&P::useExifOrientation>("useExifOrientation", 1),
    flag<&P::keepFilteredImages>("keepFilteredImages", 0),
    flag<&P::keepProcessedSources>("keepProcessedSources", 0),
    flag<&P::keepFailedSources>("keepFailedSources", 1),
    flag<&P::loadOutputImages>("loadOutputImages", 0),
    flag<&P::keepUnprocessedImages>("keepUnprocessedImages", 1),
    flag<&P::exitAfterRun>("exitAfterRun", 0),
    flag<&P::filterEnabled>("filterEnabled", 0),
    {.name = "filterConditions", .storage = FieldStorage::Conditions},
    flag<&P::cropEnabled>("cropEnabled", 0),
    flag<&P::cropMode>("cropMode", 0),
    number<&P::cropLeft>("cropLeft", 0, 0, 9999),
    number<&P::cropRight>("cropRight", 0, 0, 9999),
    number<&P::cropTop>("cropTop", 0, 0, 9999),
    number<&P::cropBottom>("cropBottom", 0, 0, 9999),
    flag<&P::trimLeft>("trimLeft", 1),
    flag<&P::trimRight>("trimRight", 1),
    flag<&P::trimTop>("trimTop", 1),
    flag<&P::trimBottom>("trimBottom", 1),
    number<&P::trimColorTolerance>("trimColorTolerance", 10, 0, 50),
    number<&P::trimOutlierTolerance>("trimOutlierTolerance", 5, 0, 50),
    flag<&P::rotateEnabled>("rotateEnabled", 0),
    // 7 (upright by the EXIF orientation) is a new value of an existing field, like
    // outputFormat's: an earlier program still reads the file and refuses to run only the
    // presets that use it.
    number<&P::rotateMode>("rotateMode", 2, 0, 7),
    flag<&P::resizeEnabled>("resizeEnabled", 0),
    flag<&P::resizeMode>("resizeMode", 0),
    number<&P::resizeWidth>("resizeWidth", 1024, 0, 9999),
    number<&P::resizeHeight>("resizeHeight", 768, 0, 9999),
    number<&P::resizePercent>("resizePercent", 50, 0, 999),
    flag<&P::resizeOption>("resizeOption", 1),
    number<&P::resizeLimits>("resizeLimits", 3, 0, 3),
    flag<&P::brightnessEnabled>("brightnessEnabled", 0),
    number<&P::brightnessLevel>("brightnessLevel", 100, 0, 200),
    flag<&P::saturationEnabled>("saturationEnabled", 0),
    number<&P::saturationLevel>("saturationLevel", 100, 0, 300),
    flag<&P::contrastEnabled>("contrastEnabled", 0),
    number<&P::contrastLevel>("contrastLevel", 100, 0, 200),
    flag<&P::gammaEnabled>("gammaEnabled", 0),
    number<&P::gammaLevel>("gammaLevel", 100, 1, 399),
    flag<&P::channelAdjustEnabled>("channelAdjustEnabled", 0),
    channel<&P::channelAdjustRed>("channelAdjustRed"),
    channel<&P::channelAdjustGreen>("channelAdjustGreen"),
    channel<&P::channelAdjustBlue>("channelAdjustBlue"),
    flag<&P::canvasEnabled>("canvasEnabled", 0, kCanvas),
    number<&P::canvasWidth>("canvasWidth", 1024, 0, 9999, kCanvas),
    number<&P::canvasHeight>("canvasHeight", 768, 0, 9999, kCanvas),
    number<&P::canvasMode>("canvasMode", 0, 0, 2, kCanvas),
    number<&P::canvasColor>("canvasColor", 0x808080, 0, kColor, kCanvas),
    flag<&P::overlayEnabled>("overlayEnabled", 0),
    flag<&P::overlayKind>("overlayKind", 0),
    text<&P::overlayText>("overlayText", "", 0, FieldStorage::EscapedLine),
    text<&P::overlayImagePath>("overlayImagePath", ""),
    text<&P::overlayFontName>("overlayFontName", "Arial", 1),
    number<&P::overlayFontStyle>("overlayFontStyle", 0, 0, kAnyU32),
    number<&P::overlayFontSize>("overlayFontSize", 28, 1, 255),
    number<&P::overlayTextAlign>("overlayTextAlign", 0, 0, 2),
    number<&P::overlayLineSpacing>("overlayLineSpacing", 0, -100, 100),
    number<&P::overlayTextColor>("overlayTextColor", 0x000000, 0, kColor),
    number<&P::overlayImageScale>("overlayImageScale", 100, 10, 100),
    flag<&P::overlayOutline>("overlayOutline", 0),
    number<&P::overlayOutlineWidth>("overlayOutlineWidth", 2, 1, 100),
    number<&P::overlayOutlineColor>("overlayOutlineColor", 0xFFFFFF, 0, kColor),
    number<&P::overlayOpacity>("overlayOpacity", 100, 1, 100),
    number<&P::overlayHorizontalAlign>("overlayHorizontalAlign", 2, 0, 2),
    number<&P::overlayHorizontalMargin>("overlayHorizontalMargin", 15, 1, 999),
    number<&P::overlayVerticalAlign>("overlayVerticalAlign", 2, 0, 2),
    number<&P::overlayVerticalMargin>("overlayVerticalMargin", 15, 1, 999),
    flag<&P::sortEnabled>("sortEnabled", 0),
    number<&P::sortKey>("sortKey", 1, 0, 9),
    flag<&P::sortAscending>("sortAscending", 1),
    flag<&P::commentEnabled>("commentEnabled", 0),
    text<&P::commentText>("commentText", ""),
    flag<&P::keepMetadata>("keepMetadata", 1),
    flag<&P::setFileDates>("setFileDates", 0),
    number<&P::fileDateSource>("fileDateSource", 0, 0, 3),
    number<&P::fixedFileDate>("fixedFileDate", 0, 0, kAnyU32),
    number<&P::fileDateShiftMinutes>("fileDateShiftMinutes", -60, -9999, 9999),
    flag<&P::resetFileAttributes>("resetFileAttributes", 0),
    flag<&P::convertFormat>("convertFormat", 1),
    // 5..8 (WebP, AVIF, JPEG XL, TIFF) are new values of an existing field: the record keeps the
    // layout of file version 4.6, so an earlier program still reads the file, and its range check
    // refuses to run only the presets that use them.
    number<&P::outputFormat>("outputFormat", 0, 0, 8),
    flag<&P::qualityEnabled>("qualityEnabled", 0),
    number<&P::quality>("quality", 8, 1, 10),
    flag<&P::colorDepthEnabled>("colorDepthEnabled", 0),
    number<&P::colorDepth>("colorDepth", 3, 0, 4),
    flag<&P::colorDepthOption>("colorDepthOption", 1),
    flag<&P::renameEnabled>("renameEnabled", 0),
    text<&P::renamePattern>("renamePattern", "(%001%) %FN%"),
    flag<&P::perFolderNumbering>("perFolderNumbering", 1, kNumberingOptions),
    flag<&P::noZeroPadding>("noZeroPadding", 0, kNumberingOptions),
    flag<&P::outputDirEnabled>("outputDirEnabled", 1),
    text<&P::outputDirPattern>("outputDirPattern", "%PD%/output/"),
    flag<&P::mirrorSubfolders>("mirrorSubfolders", 0),
    flag<&P::moveOriginal>("moveOriginal", 0),
    flag<&P::convertToSrgb>("convertToSrgb", 0, kColourAndLocation),
    flag<&P::removeLocation>("removeLocation", 0, kColourAndLocation),
    number<&P::outputSizeLimit>("outputSizeLimit", 0, 0, kLargestSizeLimit, kColourAndLocation),
};

using C = FilterCondition;

constexpr FieldDescription<FilterCondition> kConditionFields[] = {
    number<&C::flags>("flags", 0, 0, kAnyU32),   number<&C::property>("property", 0, 0, 14),
    number<&C::operator_>("operator", 0, 0, 7),  text<&C::value>("value", ""),
    number<&C::valueKind>("valueKind", 1, 1, 2),
};

} // namespace

std::span<const FieldDescription<Preset>> presetFields() {
    return kPresetFields;
}

std::span<const FieldDescription<FilterCondition>> conditionFields() {
    return kConditionFields;
}

void setTableDefaults(Preset& preset) {
    for (const FieldDescription<Preset>& field : kPresetFields)
        field.setDefault(preset);
    preset.filterConditions.clear();
}

} // namespace quill::settings
