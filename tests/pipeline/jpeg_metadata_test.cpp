// JPEG metadata carry-over: segment listing, comments, EXIF reading and patching and the file
// rewrites, checked against byte layouts built here and against exiftool on the JPEG samples.
#include "imagefiles/format.h"
#include "pipeline/exif.h"
#include "pipeline/jpeg_metadata.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>

namespace quill::pipeline {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Span = std::span<const std::uint8_t>;
using test::readBytes;
using test::testdata;
using test::writeBytes;

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}
Bytes slice(const Bytes& b, std::size_t from, std::size_t to) {
    return Bytes(b.begin() + std::ptrdiff_t(from), b.begin() + std::ptrdiff_t(to));
}
Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}
Bytes segment(std::uint8_t marker, const Bytes& payload) {
    const std::size_t n = payload.size() + 2;
    return concat({Bytes{0xFF, marker, std::uint8_t(n >> 8), std::uint8_t(n)}, payload});
}
const Bytes kAbc = segment(0xFE, bytesOf(std::string_view("abc\0", 4)));

// As the program's encoder writes a file: SOI, a 16-byte APP0, then DQT at offset 20.
const Bytes kPlain = readBytes(test::fixture("metadata/plain.jpg"));
// The plain file with segments between its APP0 and the rest.
Bytes jpegWith(std::initializer_list<Bytes> segments) {
    return concat({slice(kPlain, 0, 20), concat(segments), slice(kPlain, 20, kPlain.size())});
}

struct Field {
    std::uint16_t tag, type;
    std::uint32_t count, value = 0;
    std::string text = {}; // stored behind the directories; value becomes its offset
};
constexpr std::uint16_t kShort = 3, kLong = 4, kAscii = 2;
constexpr std::uint16_t kOrientationTag = 0x0112, kWidthTag = 0xA002, kHeightTag = 0xA003,
                        kDateTag = 0x9003;

// "Exif" 00 00 and a TIFF block: IFD0 at 8 with its fields and (when `sub` is not empty) the
// pointer to the EXIF sub-directory, which follows IFD0; texts come last.
Bytes exifPayload(bool little, std::vector<Field> ifd0, std::vector<Field> sub) {
    const std::size_t subAt = 8 + 2 + 12 * (ifd0.size() + !sub.empty()) + 4;
    if (!sub.empty()) ifd0.push_back({0x8769, kLong, 1, std::uint32_t(subAt)});
    Bytes t(sub.empty() ? subAt : subAt + 2 + 12 * sub.size() + 4, 0);
    auto put = [&](std::size_t at, std::uint32_t v, int size) {
        for (int i = 0; i < size; ++i)
            t[at + (little ? i : size - 1 - i)] = std::uint8_t(v >> 8 * i);
    };
    t[0] = t[1] = little ? 'I' : 'M';
    put(2, 42, 2);
    put(4, 8, 4);
    for (auto [at, fields] : {std::pair{std::size_t(8), ifd0}, {subAt, sub}}) {
        if (fields.empty()) continue;
        put(at, std::uint32_t(fields.size()), 2);
        for (Field f : fields) {
            if (!f.text.empty()) f.value = std::uint32_t(t.size());
            if (!f.text.empty())
                t.insert(t.end(), f.text.c_str(), f.text.c_str() + f.text.size() + 1);
            put(at + 2, f.tag, 2);
            put(at + 4, f.type, 2);
            put(at + 6, f.count, 4);
            put(at + 10, f.value, f.type == kShort ? 2 : 4);
            at += 12;
        }
    }
    return concat({bytesOf(std::string_view("Exif\0\0", 6)), t});
}
constexpr std::size_t kIfd0 = 6 + 8; // payload position of IFD0 in that layout

std::vector<int> markersOf(const JpegMetadata& m, bool onlyLoaded = false) {
    std::vector<int> out;
    for (const MetadataSegment& s : m.segments)
        if (!onlyLoaded || s.loaded) out.push_back(s.marker);
    return out;
}

/// The JPEG samples the manifest names, relative to the test data.
std::vector<std::string> jpegSamples() {
    std::ifstream in(testdata("MANIFEST.tsv"));
    std::vector<std::string> samples;
    for (std::string line; std::getline(in, line);) {
        const std::size_t tab = line.find('\t');
        if (line.compare(tab + 1, 5, "JPEG\t") == 0) samples.push_back(line.substr(0, tab));
    }
    return samples;
}

TEST(JpegSegments, FilesListAndLoadOnlyWhatIsThere) {
    const Bytes app1 = segment(0xE1, exifPayload(true, {{kOrientationTag, kShort, 1, 6}}, {}));
    const Bytes com = segment(0xFE, bytesOf("hello"));
    const Bytes full = jpegWith({app1, com});
    const std::size_t a = 20, c = 20 + app1.size(), end = c + com.size();
    test::TempDir dir;
    for (std::size_t size = 0; size <= full.size(); ++size) {
        SCOPED_TRACE(size);
        const Bytes cut = slice(full, 0, size);
        // A segment is listed once its marker and length are there, loaded once it is complete.
        std::vector<int> listed, loaded;
        if (size >= a + 4) listed.push_back(0xE1);
        if (size >= c + 4) listed.push_back(0xFE);
        if (size >= c) loaded.push_back(0xE1);
        if (size >= end) loaded.push_back(0xFE);
        writeBytes(dir.file("cut.jpg"), cut);
        JpegMetadata inMemory, inFile;
        EXPECT_EQ(readMetadata(Span(cut), inMemory), size >= 2);
        EXPECT_EQ(readMetadata(dir.file("cut.jpg"), inFile), size >= 2);
        EXPECT_EQ(loadMetadata(Span(cut), inMemory), listed == loaded);
        EXPECT_EQ(loadMetadata(dir.file("cut.jpg"), inFile), listed == loaded);
        for (const JpegMetadata* m : {&inMemory, &inFile}) {
            EXPECT_EQ(markersOf(*m), listed);
            EXPECT_EQ(markersOf(*m, true), loaded);
        }
    }
    // Not a JPEG, missing, a directory: nothing is listed.
    for (const std::string& path :
         {testdata("png/exif2c08.png"), dir.file("missing"), dir.path()}) {
        JpegMetadata m;
        m.segments.resize(2);
        EXPECT_FALSE(readMetadata(path, m)) << path;
        EXPECT_TRUE(m.segments.empty());
    }
}

// A comment longer than one segment is cut, never inside a UTF-8 character.
TEST(JpegComment, LongTextsAreCutAtACharacterBoundaryToFitOneSegment) {
    EXPECT_EQ(commentPayload(std::string(kMaxCommentBytes + 1, 'a')).size(), kMaxSegmentPayload);
    for (const std::string ch : {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"}) {
        for (std::size_t shift = 0; shift < ch.size(); ++shift) {
            SCOPED_TRACE(testing::Message() << ch.size() << "-byte characters, shift " << shift);
            std::string text(shift, 'x');
            while (text.size() < 70000)
                text += ch;
            const Bytes payload = commentPayload(text);
            ASSERT_LE(payload.size(), kMaxSegmentPayload);
            EXPECT_GT(payload.size(), kMaxSegmentPayload - ch.size());
            const std::size_t kept = payload.size() - 1;
            EXPECT_EQ(payload, concat({bytesOf(text.substr(0, kept)), Bytes{0}}));
            EXPECT_NE(std::uint8_t(text[kept]) & 0xC0, 0x80) << "cut inside a character";
        }
    }
}

TEST(JpegFileRewrites, CommentPlacementAndLayoutsThatAreLeftAlone) {
    const Bytes soi{0xFF, 0xD8}, app0 = slice(kPlain, 2, 20),
                                 tail = slice(kPlain, 20, kPlain.size());
    const Bytes app1 = segment(0xE1, bytesOf("exif-ish")), c1 = segment(0xFE, bytesOf("first"));
    // After the last APP0, or in place of the last comment.
    const std::pair<Bytes, Bytes> cases[] = {
        {concat({soi, app0, app1, app0, tail}), concat({soi, app0, app1, app0, kAbc, tail})},
        {jpegWith({c1, app1, segment(0xFE, bytesOf("2"))}), jpegWith({c1, app1, kAbc})},
        {concat({soi, app1, tail}), concat({soi, kAbc, app1, tail})},
    };
    test::TempDir dir;
    const std::string path = dir.file("f.jpg");
    for (const auto& [before, after] : cases) {
        writeBytes(path, before);
        EXPECT_TRUE(writeCommentToFile(path, "abc"));
        EXPECT_EQ(readBytes(path), after);
    }
    auto leftAlone = [&](const Bytes& bytes, const std::function<bool(const std::string&)>& f) {
        writeBytes(path, bytes);
        EXPECT_FALSE(f(path));
        EXPECT_EQ(readBytes(path), bytes);
    };
    auto comment = [](const std::string& file) { return writeCommentToFile(file, "abc"); };
    // Not a JPEG, or a COM segment cut off by the end of the file.
    leftAlone(bytesOf("GIF89a"), comment);
    leftAlone(slice(jpegWith({segment(0xFE, Bytes(40))}), 0, 40), comment);
    EXPECT_FALSE(writeCommentToFile(dir.file("missing.jpg"), "abc"));
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing.jpg")));

    // Segments go only into the encoder's own layout: SOI, 16-byte APP0, a marker at 20.
    JpegMetadata m;
    setComment(m, "abc");
    Bytes noMarker = kPlain;
    noMarker[20] = 0;
    for (const Bytes& bytes : {concat({soi, tail}), concat({soi, segment(0xE0, Bytes(15)), tail}),
                               noMarker, Bytes{0xFF, 0xD8, 0xFF, 0xE0}})
        leftAlone(bytes, [&](const std::string& file) { return writeMetadata(file, m); });
    // A segment list made from another file never cuts this one.
    const Bytes a = jpegWith({segment(0xE1, bytesOf("1234")), kAbc});
    const Bytes b = jpegWith({segment(0xE1, bytesOf("123456")), kAbc});
    ASSERT_TRUE(readMetadata(Span(a), m));
    EXPECT_EQ(withoutSegments(a, m), std::optional<Bytes>(kPlain));
    leftAlone(b, [&](const std::string& file) { return removeSegments(file, m); });
}

ExifView openPayload(const Bytes& payload) {
    const Bytes file = jpegWith({segment(0xE2, bytesOf("ICC")), segment(0xE1, payload)});
    JpegMetadata m;
    EXPECT_TRUE(readMetadata(Span(file), m));
    EXPECT_TRUE(loadMetadata(Span(file), m));
    ExifView view;
    EXPECT_TRUE(openExif(m, view));
    return view;
}

ExifView walked(ExifView view, ExifMode mode, std::uint8_t tags) {
    view.mode = mode;
    view.tags = tags;
    walkExif(view);
    return view;
}

constexpr std::uint8_t kAllTags =
    ExifOrientation | ExifDateTaken | ExifPixelWidth | ExifPixelHeight;

TEST(Exif, PatchesEachEntryInItsOwnByteOrderAndWidth) {
    for (const bool little : {true, false}) {
        for (const std::uint16_t wType : {kShort, kLong}) {
            SCOPED_TRACE(testing::Message() << little << " " << wType);
            const std::uint16_t hType = wType == kShort ? kLong : kShort;
            auto payload = [&](std::uint32_t o, std::uint32_t w, std::uint32_t h, std::string d) {
                return exifPayload(little, {{kOrientationTag, kShort, 1, o}},
                                   {{kWidthTag, wType, 1, w},
                                    {kHeightTag, hType, 1, h},
                                    {kDateTag, kAscii, 20, 0, d}});
            };
            ExifView view = openPayload(payload(6, 4000, 3000, "2014:09:21 16:00:56"));
            const ExifView read = walked(view, ExifMode::Read, kAllTags);
            EXPECT_EQ(read.tags, kAllTags);
            EXPECT_EQ(std::tuple(read.orientation, read.width, read.height, read.date),
                      std::tuple(6, 4000, 3000, std::int64_t(1411315256)));

            view.orientation = 1;
            view.width = 0xABCD;
            view.height = 0x1234;
            view.date = 4102444799; // 2099-12-31 23:59:59, past 2038
            EXPECT_EQ(walked(view, ExifMode::Write, kAllTags).data,
                      payload(1, 0xABCD, 0x1234, "2099:12:31 23:59:59"));
            // -1 leaves a tag as it is; a value too wide for a SHORT entry is not written.
            view.orientation = -1;
            view.width = view.height = 70000;
            EXPECT_EQ(walked(view, ExifMode::Write, kAllTags & ~ExifDateTaken).data,
                      payload(6, wType == kShort ? 4000 : 70000, hType == kShort ? 3000 : 70000,
                              "2014:09:21 16:00:56"));
        }
    }
    for (const char* unset : {"    :  :     :  :  ", "0000:00:00 00:00:00", "2023:02:29 12:00:00"})
        EXPECT_EQ(parseExifDate(unset), std::nullopt) << unset;
    EXPECT_EQ(formatExifDate(-1), "1969:12:31 23:59:59");
}

TEST(Exif, HostileBlocksNeitherLoopNorReachOutsideThePayload) {
    auto orientationOf = [](const Bytes& payload) {
        const ExifView v = walked(openPayload(payload), ExifMode::Read, kAllTags);
        return v.tags & ExifOrientation ? v.orientation : -1;
    };
    const Bytes good = exifPayload(true, {{kOrientationTag, kShort, 1, 8}},
                                   {{kDateTag, kAscii, 20, 0, "2001:02:03 04:05:06"}});
    const std::size_t pointer = kIfd0 + 2 + 12 + 8, dateOffset = kIfd0 + 2 + 24 + 4 + 2 + 8;
    auto with = [&](std::size_t at, std::uint8_t byte) {
        Bytes b = good;
        b[at] = byte;
        return b;
    };
    EXPECT_EQ(orientationOf(with(pointer, 8)), 8);        // sub-directory pointer back to IFD0
    EXPECT_EQ(orientationOf(with(pointer + 3, 0x7F)), 8); // sub-directory far outside
    EXPECT_EQ(orientationOf(with(6 + 4 + 3, 0x40)), -1);  // IFD0 far outside
    EXPECT_EQ(orientationOf(slice(with(kIfd0, 0xFF), 0, kIfd0 + 2 + 12 + 5)), 8); // 255 entries
    for (const std::uint8_t far : {std::uint8_t(0x7F), std::uint8_t(good.size() - 6 - 10)}) {
        const Bytes b = with(dateOffset + (far == 0x7F ? 3 : 0), far);
        ExifView v = walked(openPayload(b), ExifMode::Read, ExifDateTaken);
        EXPECT_EQ(v.tags, 0);
        EXPECT_EQ(walked(v, ExifMode::Write, ExifDateTaken).data, b);
    }
    // A date of fewer than 19 characters sits in the entry itself: its value is no offset.
    const Bytes inlineDate = exifPayload(
        true, {{0x0132, kAscii, 20, 0, "2001:02:03 04:05:06"}, {kDateTag, kAscii, 4, 38}}, {});
    EXPECT_EQ(walked(openPayload(inlineDate), ExifMode::Read, ExifDateTaken).tags, 0);
    // A directory ends at its entry count: an orientation behind it is neither read nor written.
    Bytes shortDir =
        exifPayload(true, {{kWidthTag, kShort, 1, 1}, {kOrientationTag, kShort, 1, 5}}, {});
    shortDir[kIfd0] = 1;
    EXPECT_EQ(orientationOf(shortDir), -1);
    ExifView v = openPayload(shortDir);
    v.orientation = 1;
    EXPECT_EQ(walked(v, ExifMode::Write, ExifOrientation).data, shortDir);
}

TEST(MetadataCarry, OutputsGetTheSourceSegmentsPatchedAndCopiesLoseThem) {
    auto exif = [](std::uint32_t o, std::uint32_t w, std::uint32_t h) {
        return segment(0xE1, exifPayload(true, {{kOrientationTag, kShort, 1, o}},
                                         {{kWidthTag, kShort, 1, w}, {kHeightTag, kLong, 1, h}}));
    };
    // Big-endian, without orientation: the block stays through a rotation.
    auto bare = [](std::uint32_t w) {
        return segment(0xE1, exifPayload(false, {}, {{kWidthTag, kShort, 1, w}}));
    };
    const Bytes icc = segment(0xE2, bytesOf("ICC_PROFILE-ish")),
                old = segment(0xFE, bytesOf("old"));
    const Bytes src = jpegWith({exif(6, 16, 8), icc, old});
    struct Case {
        Bytes source;
        bool copy, keep, comment, useExif;
        int rotation;
        Bytes expected;
    } cases[] = {
        {src, false, true, true, true, 1, jpegWith({exif(1, 8, 16), icc, kAbc})},
        {src, false, true, false, true, -1, jpegWith({exif(6, 8, 16), icc, old})},
        {src, false, false, true, true, 1, jpegWith({kAbc})},
        {src, false, false, false, true, 1, kPlain},
        {jpegWith({bare(16)}), false, true, false, true, 0, jpegWith({bare(8)})},
        // A copied file keeps its bytes but for the carried segments and the new comment.
        {src, true, false, false, false, -1, kPlain},
        {src, true, false, true, false, -1, jpegWith({kAbc})},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.copy << c.keep << c.comment << c.useExif << c.rotation);
        writeBytes(dir.file("src.jpg"), c.source);
        writeBytes(dir.file("out.jpg"), c.copy ? c.source : kPlain);
        const MetadataRequest request{c.keep, c.comment, !c.copy};
        JpegMetadata m = pickUpMetadata(dir.file("src.jpg"), request);
        EXPECT_FALSE(c.copy && m.holdsData()) << "a copy needs the list only";
        SavedJpegOptions options{c.keep, c.comment, "abc", {c.useExif, c.rotation, true, 8, 16}};
        EXPECT_TRUE(c.copy ? adjustMetadataOfCopy(dir.file("out.jpg"), m, request, "abc")
                           : carryMetadataIntoOutput(dir.file("out.jpg"), m, options));
        EXPECT_EQ(readBytes(dir.file("out.jpg")), c.expected);
    }
}

// exiftool's tags with validation, per file: "Group:Tag" -> values.
using TagList = std::multimap<std::string, std::string>;
std::map<std::string, TagList> exiftoolTags(const std::vector<std::string>& paths) {
    std::string command = "/usr/bin/exiftool -args -G1 -a -n -all:all -validate -warning", output;
    for (const std::string& p : paths)
        command += " " + test::shellQuote(p);
    test::runCommand(command + " 2>/dev/null", &output);
    std::map<std::string, TagList> files;
    TagList* current = nullptr;
    std::stringstream ss(output);
    for (std::string line; std::getline(ss, line);) {
        const std::size_t equals = line.find('=');
        if (line.rfind("======== ", 0) == 0) current = &files[line.substr(9)];
        if (current && line[0] == '-' && equals != std::string::npos)
            current->emplace(line.substr(1, equals - 1), line.substr(equals + 1));
    }
    return files;
}
std::string valueOf(const TagList& tags, const std::string& key) {
    const auto it = tags.find(key);
    return it == tags.end() ? "" : it->second;
}

// What describes the file rather than the carried metadata, and positions that exiftool gives as
// file offsets (they move with the block): these differ between a source and its output.
bool describesTheFile(const std::string& key) {
    const std::string group = key.substr(0, key.find(':'));
    const bool offset = key.ends_with("Offset") || key.ends_with("Start");
    return offset || group == "System" || group == "File" || group == "ExifTool" ||
           group == "Composite" || group == "JFIF";
}

TEST(MetadataExiftool, WrittenFilesReadBackAsIntendedAndValidate) {
    if (!test::haveTool("/usr/bin/exiftool")) QUILL_SKIP_WITHOUT_TOOL() << "exiftool missing";
    // Local-time seconds do not depend on the zone; an unusual one makes a slip visible.
    const test::ScopedEnv zone("TZ", "Australia/Lord_Howe");

    test::TempDir dir;
    std::vector<std::string> all;
    std::map<std::string, std::string> written; // source -> output with the carried metadata
    std::map<std::string, ExifDetails> detailsOf;
    for (const std::string& sample : jpegSamples()) {
        const std::string path = testdata(sample);
        detailsOf[path] = readExifDetails(path);
        all.push_back(path);
        if (sample.rfind("corrupt/", 0) == 0) continue;
        const std::string out = dir.file("carried" + std::to_string(written.size()) + ".jpg");
        writeBytes(out, kPlain);
        JpegMetadata m = pickUpMetadata(path, {true, true, true});
        const SavedJpegOptions options{
            true, true, "Quillmere \xE2\x82\xAC", {true, 1, true, 321, 123}};
        ASSERT_TRUE(carryMetadataIntoOutput(out, m, options)) << path;
        written[path] = out;
        all.push_back(out);
    }
    ASSERT_GT(written.size(), 50u);
    const auto tags = exiftoolTags(all);

    int dates = 0; // the date taken is exiftool's DateTimeOriginal of the EXIF sub-directory
    for (const auto& [path, details] : detailsOf) {
        SCOPED_TRACE(path);
        const std::string text = valueOf(tags.at(path), "ExifIFD:DateTimeOriginal");
        const std::string orientation = valueOf(tags.at(path), "IFD0:Orientation");
        EXPECT_EQ(details.orientation,
                  orientation.empty() ? std::nullopt : std::optional(std::stoi(orientation)));
        struct tm parsed {};
        if (text.empty() || !strptime(text.c_str(), "%Y:%m:%d %H:%M:%S", &parsed)) {
            EXPECT_EQ(details.recordedDate, std::nullopt);
            continue;
        }
        EXPECT_EQ(details.recordedDate, std::int64_t(timegm(&parsed)));
        ++dates;
    }
    EXPECT_GT(dates, 12);

    const std::set<std::string> patched{"IFD0:Orientation", "ExifIFD:ExifImageWidth",
                                        "ExifIFD:ExifImageHeight", "File:Comment"};
    auto carried = [&](const TagList& list) {
        std::multiset<std::string> kept, warnings;
        for (const auto& [key, value] : list) {
            if (key == "ExifTool:Warning") warnings.insert(value);
            if (!describesTheFile(key) && !patched.count(key)) kept.insert(key + " = " + value);
        }
        return std::pair(kept, warnings);
    };
    for (const auto& [source, output] : written) {
        SCOPED_TRACE(source);
        const TagList& before = tags.at(source);
        const TagList& after = tags.at(output);
        const auto [keptBefore, knownWarnings] = carried(before);
        const auto [keptAfter, warnings] = carried(after);
        EXPECT_EQ(keptAfter, keptBefore);
        // Nothing exiftool objects to that it did not already find in the source.
        for (const std::string& w : warnings)
            EXPECT_TRUE(knownWarnings.count(w)) << w;
        const std::string orientation = valueOf(before, "IFD0:Orientation");
        // Turned clockwise: an upright source stays 1, one stored turned follows the table.
        const int expected =
            orientation == "1"
                ? 1
                : newOrientation(orientation.empty() ? -1 : std::stoi(orientation), 1);
        EXPECT_EQ(valueOf(after, "IFD0:Orientation"),
                  expected == -1 ? orientation : std::to_string(expected));
        if (!valueOf(before, "ExifIFD:ExifImageWidth").empty()) {
            // The first value is the size (one camera stores two SHORTs).
            EXPECT_EQ(valueOf(after, "ExifIFD:ExifImageWidth").substr(0, 3), "321");
            EXPECT_EQ(valueOf(after, "ExifIFD:ExifImageHeight").substr(0, 3), "123");
        }
        EXPECT_EQ(valueOf(after, "File:Comment"), "Quillmere \xE2\x82\xAC");
    }
}

} // namespace
} // namespace quill::pipeline

namespace quill::pipeline {
namespace {

// The date taken of a file of the new formats comes from the EXIF block its container carries,
// the same as the JPEG it was made from; the orientation is dropped where the decoder already
// turns the picture (HEIF, JPEG XL, camera RAW) and kept where it does not (WebP).
TEST(FormatExifDetails, ContainersGiveTheDateOfTheirJpegAndTheOrientationWhereItStillApplies) {
    using imagefiles::FormatKind;
    const ExifDetails canon = readExifDetails(testdata("exif/Canon_40D.jpg"));
    const ExifDetails nikon = readExifDetails(testdata("exif/Nikon_D70.jpg"));
    ASSERT_TRUE(canon.recordedDate && nikon.recordedDate && canon.orientation);
    const struct {
        const char* fixture;
        FormatKind kind;
        const ExifDetails& from;
        bool orientationKept;
    } cases[] = {
        {"webp/metadata.webp", FormatKind::Webp, canon, true},
        {"webp/plain_exif.webp", FormatKind::Webp, canon, true},
        {"avif/metadata.avif", FormatKind::Avif, canon, false},
        {"heif/nikon_xmp.heic", FormatKind::Heif, nikon, false},
        {"jxl/nikon_recompressed.jxl", FormatKind::JpegXl, nikon, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fixture);
        const ExifDetails details =
            readExifDetails(test::fixture(c.fixture), *imagefiles::formatInfo(c.kind));
        EXPECT_EQ(details.readError, 0);
        EXPECT_EQ(details.recordedDate, c.from.recordedDate);
        EXPECT_EQ(details.orientation.has_value(), c.orientationKept);
        if (c.orientationKept) {
            EXPECT_EQ(details.orientation, c.from.orientation);
        }
    }
    // A DNG's EXIF block is its own TIFF structure: the date of its Exif directory.
    const ExifDetails dng = readExifDetails(test::fixture("raw/patches-orientation6.dng"),
                                            *imagefiles::formatInfo(FormatKind::CameraRaw));
    struct tm taken {};
    taken.tm_year = 2024 - 1900;
    taken.tm_mon = 4;
    taken.tm_mday = 17;
    taken.tm_hour = 10;
    taken.tm_min = 20;
    taken.tm_sec = 30;
    EXPECT_EQ(dng.recordedDate, std::int64_t(timegm(&taken)));
    EXPECT_FALSE(dng.orientation);
    // A file that is gone is a read error, not a file without a date.
    const ExifDetails gone = readExifDetails(test::fixture("webp/no-such.webp"),
                                             *imagefiles::formatInfo(FormatKind::Webp));
    EXPECT_NE(gone.readError, 0);
}

} // namespace
} // namespace quill::pipeline
