// JPEG metadata carry-over: segment listing, comments, EXIF reading and patching, the file
// rewrites, checked against the sample manifest, byte layouts built here, and exiftool.
#include "pipeline/exif.h"
#include "pipeline/jpeg_metadata.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

namespace quill::pipeline {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::fixture;
using test::readBytes;
using test::shellQuote;
using test::testdata;
using test::writeBytes;

// --- Building files ----------------------------------------------------------------------------

// Reads a whole file in one go (large samples would be slow byte by byte).
Bytes fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    Bytes bytes(std::size_t(std::max<std::streamoff>(in.tellg(), 0)));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    return bytes;
}

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes segment(std::uint8_t marker, const Bytes& payload) {
    Bytes out{0xFF, marker, std::uint8_t((payload.size() + 2) >> 8),
              std::uint8_t(payload.size() + 2)};
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes slice(const Bytes& bytes, std::size_t from, std::size_t to) {
    return Bytes(bytes.begin() + std::ptrdiff_t(from), bytes.begin() + std::ptrdiff_t(to));
}

// A small file as the program's encoder writes it: SOI, a 16-byte APP0, then DQT at offset 20.
Bytes plainJpeg() { return readBytes(fixture("metadata/plain.jpg")); }
Bytes plainHead() { return slice(plainJpeg(), 0, 20); }
Bytes plainTail() { return slice(plainJpeg(), 20, plainJpeg().size()); }

// The plain file with the given segments between its APP0 and the rest.
Bytes jpegWith(const std::vector<Bytes>& segments) {
    Bytes out = plainHead();
    for (const Bytes& s : segments) out.insert(out.end(), s.begin(), s.end());
    const Bytes tail = plainTail();
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

struct Field {
    std::uint16_t tag;
    std::uint16_t type;
    std::uint32_t count;
    std::uint32_t value = 0;
    std::string text = {}; // stored after the directories; value becomes its offset
};

constexpr std::uint16_t kShort = 3, kLong = 4, kAscii = 2;

// An APP1 EXIF payload: "Exif" 00 00, TIFF header, IFD0 (its fields, then the EXIF pointer when
// `sub` is not empty), the EXIF sub-directory, then the texts.
Bytes exifPayload(bool little, const std::vector<Field>& ifd0, const std::vector<Field>& sub) {
    Bytes tiff;
    auto put16 = [&](std::size_t at, std::uint16_t v) {
        tiff[at + (little ? 0 : 1)] = std::uint8_t(v);
        tiff[at + (little ? 1 : 0)] = std::uint8_t(v >> 8);
    };
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) tiff[at + (little ? i : 3 - i)] = std::uint8_t(v >> (8 * i));
    };
    const std::size_t n0 = ifd0.size() + (sub.empty() ? 0 : 1);
    const std::size_t ifd0At = 8, subAt = ifd0At + 2 + 12 * n0 + 4;
    const std::size_t dataAt = subAt + (sub.empty() ? 0 : 2 + 12 * sub.size() + 4);
    tiff.assign(dataAt, 0);
    tiff[0] = tiff[1] = little ? 'I' : 'M';
    put16(2, 42);
    put32(4, std::uint32_t(ifd0At));
    auto directory = [&](std::size_t at, std::vector<Field> fields, std::size_t count) {
        put16(at, std::uint16_t(count));
        for (std::size_t i = 0; i < fields.size(); ++i) {
            const std::size_t e = at + 2 + 12 * i;
            Field f = fields[i];
            if (!f.text.empty()) {
                f.value = std::uint32_t(tiff.size());
                tiff.insert(tiff.end(), f.text.begin(), f.text.end());
                tiff.push_back(0);
            }
            put16(e, f.tag);
            put16(e + 2, f.type);
            put32(e + 4, f.count);
            if (f.type == kShort)
                put16(e + 8, std::uint16_t(f.value));
            else
                put32(e + 8, f.value);
        }
    };
    std::vector<Field> first = ifd0;
    if (!sub.empty()) first.push_back({0x8769, kLong, 1, std::uint32_t(subAt)});
    directory(ifd0At, first, first.size());
    if (!sub.empty()) directory(subAt, sub, sub.size());
    return concat({bytesOf(std::string_view("Exif\0\0", 6)), tiff});
}

constexpr std::size_t kIfd0 = 6 + 8; // payload position of IFD0 in exifPayload's layout

Field orientationField(std::uint32_t v) { return {0x0112, kShort, 1, v}; }
Field widthField(std::uint16_t type, std::uint32_t v) { return {0xA002, type, 1, v}; }
Field heightField(std::uint16_t type, std::uint32_t v) { return {0xA003, type, 1, v}; }
Field dateField(const std::string& text) { return {0x9003, kAscii, 20, 0, text}; }

std::vector<int> markersOf(const JpegMetadata& m) {
    std::vector<int> out;
    for (const MetadataSegment& s : m.segments) out.push_back(s.marker);
    return out;
}

// --- The sample manifest -----------------------------------------------------------------------

struct Sample {
    std::string path; // relative to the shared test data
    std::string features;
    std::string dateTaken;
    std::string orientation;
};

std::vector<Sample> jpegSamples() {
    std::ifstream in(testdata("MANIFEST.tsv"));
    std::vector<Sample> samples;
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::vector<std::string> cols;
        std::stringstream ss(line);
        std::string col;
        while (std::getline(ss, col, '\t')) cols.push_back(col);
        if (cols.size() < 10 || cols[1] != "JPEG") continue;
        samples.push_back({cols[0], cols[4], cols[8], cols[9]});
    }
    return samples;
}

// The APP1..APP15 and COM markers that the manifest's "segments ..." note lists, in order.
std::vector<int> manifestMarkers(const std::string& features) {
    std::vector<int> out;
    const std::size_t start = features.find("segments ");
    if (start == std::string::npos) return out;
    const std::string list = features.substr(start + 9, features.find(';', start) - start - 9);
    std::stringstream ss(list);
    std::string word;
    int last = -1;
    while (ss >> word) {
        if (word[0] == 'x' && last >= 0) {
            for (int i = 1; i < std::stoi(word.substr(1)); ++i) out.push_back(last);
            continue;
        }
        last = -1;
        if (word.rfind("APP", 0) == 0) {
            const int n = std::stoi(word.substr(3));
            if (n >= 1) last = 0xE0 + n;
        } else if (word == "COM") {
            last = 0xFE;
        }
        if (last >= 0) out.push_back(last);
    }
    return out;
}

// --- exiftool ----------------------------------------------------------------------------------

bool haveExiftool() { return test::haveTool("/usr/bin/exiftool"); }

std::string pathList(const std::vector<std::string>& paths) {
    std::string out;
    for (const std::string& p : paths) out += " " + shellQuote(p);
    return out;
}

// exiftool's tag listing (-G1 -a -s -n, with -validate) per file: path -> "Group:Tag" -> values.
using TagList = std::multimap<std::string, std::string>;

std::map<std::string, TagList> exiftoolTags(const std::vector<std::string>& paths) {
    std::string output;
    test::runCommand("/usr/bin/exiftool -G1 -a -s -n -all:all -validate -warning" +
                         pathList(paths) + " 2>/dev/null",
                     &output);
    std::map<std::string, TagList> files;
    TagList* current = paths.size() == 1 ? &files[paths[0]] : nullptr;
    std::stringstream ss(output);
    std::string line;
    while (std::getline(ss, line)) {
        if (line.rfind("======== ", 0) == 0) {
            current = &files[line.substr(9)];
            continue;
        }
        const std::size_t close = line.find(']'), colon = line.find(" : ");
        if (!current || line.empty() || line[0] != '[' || close == std::string::npos ||
            colon == std::string::npos) {
            continue;
        }
        std::string tag = line.substr(close + 1, colon - close - 1);
        tag.erase(0, tag.find_first_not_of(' '));
        tag.erase(tag.find_last_not_of(' ') + 1);
        current->emplace(line.substr(1, close - 1) + ":" + tag, line.substr(colon + 3));
    }
    return files;
}

std::string valueOf(const TagList& tags, const std::string& key) {
    const auto it = tags.find(key);
    return it == tags.end() ? "" : it->second;
}

std::multiset<std::string> warningsOf(const TagList& tags) {
    std::multiset<std::string> out;
    const auto [from, to] = tags.equal_range("ExifTool:Warning");
    for (auto it = from; it != to; ++it) out.insert(it->second);
    return out;
}

// ===============================================================================================

TEST(JpegSegments, ListsTheCarriedSegmentsEveryManifestSampleNames) {
    const std::vector<Sample> samples = jpegSamples();
    ASSERT_GT(samples.size(), 40u);
    for (const Sample& sample : samples) {
        SCOPED_TRACE(sample.path);
        const std::string path = testdata(sample.path);
        JpegMetadata m;
        ASSERT_TRUE(readMetadata(path, m));
        EXPECT_EQ(markersOf(m), manifestMarkers(sample.features));
        EXPECT_EQ(m.present, !m.segments.empty());
        EXPECT_EQ(m.hasApp1, sample.features.find("APP1(") != std::string::npos);
        // A loaded payload is the file's bytes at the listed offset.
        EXPECT_TRUE(loadMetadata(path, m));
        const Bytes file = fileBytes(path);
        for (const MetadataSegment& s : m.segments) {
            ASSERT_TRUE(s.loaded);
            ASSERT_EQ(s.data.size(), s.length);
            EXPECT_TRUE(std::equal(s.data.begin(), s.data.end(), file.begin() + s.offset));
        }
    }
}

TEST(JpegSegments, EveryTruncationIsListedAndLoadedOnlyAsFarAsItGoes) {
    const Bytes app1 = segment(0xE1, exifPayload(true, {orientationField(6)}, {}));
    const Bytes com = segment(0xFE, bytesOf("hello"));
    const Bytes full = jpegWith({app1, com});
    const std::size_t app1At = 20, comAt = 20 + app1.size();
    const std::array<std::size_t, 6> boundaries{0, app1At, app1At + 4, comAt, comAt + 4,
                                                comAt + com.size()};
    test::TempDir dir;
    const std::string path = dir.file("cut.jpg");
    for (std::size_t size = 0; size <= full.size(); ++size) {
        SCOPED_TRACE(size);
        const Bytes cut = slice(full, 0, size);
        JpegMetadata fromMemory;
        const bool read = readMetadata(std::span<const std::uint8_t>(cut), fromMemory);
        EXPECT_EQ(read, size >= 2);
        // A segment is listed once its marker and length are there, loaded once it is complete.
        std::vector<int> listed, loaded;
        if (size >= app1At + 4) listed.push_back(0xE1);
        if (size >= comAt + 4) listed.push_back(0xFE);
        if (size >= app1At + app1.size()) loaded.push_back(0xE1);
        if (size >= comAt + com.size()) loaded.push_back(0xFE);
        EXPECT_EQ(markersOf(fromMemory), listed);
        EXPECT_EQ(loadMetadata(std::span<const std::uint8_t>(cut), fromMemory), listed == loaded);
        auto loadedOf = [](const JpegMetadata& m) {
            std::vector<int> out;
            for (const MetadataSegment& s : m.segments) {
                if (s.loaded) out.push_back(s.marker);
                if (!s.loaded) {
                    EXPECT_TRUE(s.data.empty());
                }
            }
            return out;
        };
        EXPECT_EQ(loadedOf(fromMemory), loaded);

        // The file reader agrees, checked around every segment boundary.
        const bool nearBoundary = std::any_of(boundaries.begin(), boundaries.end(),
                                              [&](std::size_t b) { return size + 5 >= b && size <= b + 5; });
        if (!nearBoundary) continue;
        writeBytes(path, cut);
        JpegMetadata fromFile;
        EXPECT_EQ(readMetadata(path, fromFile), read);
        EXPECT_EQ(markersOf(fromFile), listed);
        EXPECT_EQ(loadMetadata(path, fromFile), listed == loaded);
        EXPECT_EQ(loadedOf(fromFile), loaded);
    }
}

TEST(JpegSegments, OnlySegmentsBeforeTheCompressedDataAndNoApp0AreListed) {
    // Empty payloads are not listed; APP0 never; a non-marker byte ends the scan.
    const Bytes file = concat({jpegWith({segment(0xE0, bytesOf("JFXX")), segment(0xFE, {}),
                                         segment(0xED, bytesOf("ps"))}),
                               segment(0xFE, bytesOf("after"))});
    JpegMetadata m;
    ASSERT_TRUE(readMetadata(std::span<const std::uint8_t>(file), m));
    EXPECT_EQ(markersOf(m), std::vector<int>{0xED});
    EXPECT_FALSE(m.hasApp1);
    EXPECT_FALSE(m.hasComment);

    test::TempDir dir;
    writeBytes(dir.file("x.png"), readBytes(testdata("png/exif2c08.png")));
    for (const std::string& path : {dir.file("x.png"), dir.file("missing.jpg"), dir.path()}) {
        m.segments.resize(3);
        EXPECT_FALSE(readMetadata(path, m)) << path;
        EXPECT_TRUE(m.segments.empty());
        EXPECT_FALSE(m.present);
    }
}

TEST(JpegComment, LongTextsAreCutAtACharacterBoundaryToFitOneSegment) {
    EXPECT_EQ(commentPayload("abc"), (Bytes{'a', 'b', 'c', 0}));
    const std::string ascii(kMaxCommentBytes, 'a');
    EXPECT_EQ(commentPayload(ascii).size(), kMaxSegmentPayload);
    EXPECT_EQ(commentPayload(ascii + "b").size(), kMaxSegmentPayload);
    // 2-, 3- and 4-byte characters, shifted so that the limit falls inside one of them.
    for (const std::string ch : {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"}) {
        for (std::size_t shift = 0; shift < ch.size(); ++shift) {
            std::string text(shift, 'x');
            while (text.size() < 70000) text += ch;
            const Bytes payload = commentPayload(text);
            SCOPED_TRACE(testing::Message() << ch.size() << "-byte, shift " << shift);
            ASSERT_LE(payload.size(), kMaxSegmentPayload);
            EXPECT_GT(payload.size(), kMaxSegmentPayload - ch.size());
            EXPECT_EQ(payload.back(), 0);
            const std::size_t kept = payload.size() - 1;
            EXPECT_EQ(slice(payload, 0, kept), bytesOf(std::string_view(text).substr(0, kept)));
            EXPECT_NE(std::uint8_t(text[kept]) & 0xC0, 0x80) << "cut inside a character";
        }
    }
}

TEST(JpegComment, SetCommentLeavesExactlyOneNewCommentAtTheEnd) {
    const Bytes file = jpegWith({segment(0xFE, bytesOf("one")), segment(0xE1, bytesOf("x")),
                                 segment(0xFE, bytesOf("two"))});
    JpegMetadata m;
    ASSERT_TRUE(readMetadata(std::span<const std::uint8_t>(file), m));
    ASSERT_TRUE(loadMetadata(std::span<const std::uint8_t>(file), m));
    setComment(m, "neu \xC3\xBC");
    EXPECT_EQ(markersOf(m), (std::vector<int>{0xE1, 0xFE}));
    EXPECT_EQ(m.segments[1].data, bytesOf(std::string_view("neu \xC3\xBC\0", 7)));
    EXPECT_EQ(m.segments[1].offset, -1);
    EXPECT_TRUE(m.present && m.hasComment && m.segments[1].loaded);

    JpegMetadata empty;
    setComment(empty, "");
    EXPECT_EQ(empty.segments.at(0).data, Bytes{0});
}

TEST(JpegCommentFile, PlacesTheCommentAfterApp0OrOverTheLastComment) {
    const Bytes tail = plainTail();
    const Bytes soi{0xFF, 0xD8};
    const Bytes app0 = slice(plainHead(), 2, 20);
    const Bytes newCom = segment(0xFE, bytesOf(std::string_view("abc\0", 4)));
    const Bytes app1 = segment(0xE1, bytesOf("exif-ish"));
    struct Case {
        const char* name;
        Bytes before, after;
    } cases[] = {
        {"after APP0", concat({soi, app0, app1, tail}), concat({soi, app0, newCom, app1, tail})},
        {"after the last APP0", concat({soi, app0, app1, app0, tail}),
         concat({soi, app0, app1, app0, newCom, tail})},
        {"second COM replaced",
         concat({soi, app0, segment(0xFE, bytesOf("first")), app1,
                 segment(0xFE, bytesOf("second")), tail}),
         concat({soi, app0, segment(0xFE, bytesOf("first")), app1, newCom, tail})},
        {"after SOI", concat({soi, app1, tail}), concat({soi, newCom, app1, tail})},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeBytes(dir.file("c.jpg"), c.before);
        EXPECT_TRUE(writeCommentToFile(dir.file("c.jpg"), "abc"));
        EXPECT_EQ(readBytes(dir.file("c.jpg")), c.after);
    }
}

TEST(JpegCommentFile, FilesThatAreNotJpegOrCutOffStayUnchanged) {
    test::TempDir dir;
    const Bytes cutCom = slice(jpegWith({segment(0xFE, Bytes(40, 'c'))}), 0, 40);
    for (const Bytes& bytes : {bytesOf("GIF89a not a jpeg"), Bytes{0xFF}, cutCom}) {
        writeBytes(dir.file("n.jpg"), bytes);
        EXPECT_FALSE(writeCommentToFile(dir.file("n.jpg"), "abc"));
        EXPECT_EQ(readBytes(dir.file("n.jpg")), bytes);
    }
    EXPECT_FALSE(writeCommentToFile(dir.file("missing.jpg"), "abc"));
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing.jpg")));
}

TEST(JpegWriteMetadata, OnlyTheEncodersOwnLayoutIsRewritten) {
    const Bytes com = segment(0xFE, bytesOf(std::string_view("abc\0", 4)));
    JpegMetadata m;
    setComment(m, "abc");
    test::TempDir dir;
    writeBytes(dir.file("o.jpg"), plainJpeg());
    ASSERT_TRUE(writeMetadata(dir.file("o.jpg"), m));
    EXPECT_EQ(readBytes(dir.file("o.jpg")), jpegWith({com}));

    // No APP0 at the start, an APP0 of another size, or no marker at offset 20: unchanged.
    Bytes noApp0 = concat({Bytes{0xFF, 0xD8}, plainTail()});
    Bytes longApp0 = concat({Bytes{0xFF, 0xD8}, segment(0xE0, Bytes(15, 1)), plainTail()});
    Bytes noMarker = plainJpeg();
    noMarker[20] = 0x00;
    for (const Bytes& bytes : {noApp0, longApp0, noMarker, Bytes{0xFF, 0xD8, 0xFF, 0xE0}}) {
        writeBytes(dir.file("o.jpg"), bytes);
        EXPECT_FALSE(writeMetadata(dir.file("o.jpg"), m));
        EXPECT_EQ(readBytes(dir.file("o.jpg")), bytes);
    }
    // Nothing loaded: nothing to do, the file is not touched.
    writeBytes(dir.file("o.jpg"), noApp0);
    EXPECT_TRUE(writeMetadata(dir.file("o.jpg"), JpegMetadata{}));
    EXPECT_EQ(readBytes(dir.file("o.jpg")), noApp0);
}

TEST(JpegRemoveSegments, AListFromAnotherFileNeverCutsThisOne) {
    const Bytes a = jpegWith({segment(0xE1, bytesOf("1234")), segment(0xFE, bytesOf("c"))});
    const Bytes b = jpegWith({segment(0xE1, bytesOf("123456")), segment(0xFE, bytesOf("c"))});
    JpegMetadata listOfA;
    ASSERT_TRUE(readMetadata(std::span<const std::uint8_t>(a), listOfA));
    EXPECT_EQ(withoutSegments(a, listOfA), std::optional<Bytes>(plainJpeg()));
    EXPECT_EQ(withoutSegments(b, listOfA), std::nullopt);
    EXPECT_EQ(withoutSegments(slice(a, 0, 30), listOfA), std::nullopt);

    test::TempDir dir;
    writeBytes(dir.file("b.jpg"), b);
    EXPECT_FALSE(removeSegments(dir.file("b.jpg"), listOfA));
    EXPECT_EQ(readBytes(dir.file("b.jpg")), b);
}

// --- EXIF --------------------------------------------------------------------------------------

ExifView openPayload(const Bytes& payload) {
    JpegMetadata m;
    const Bytes file = jpegWith({segment(0xE1, payload)});
    EXPECT_TRUE(readMetadata(std::span<const std::uint8_t>(file), m));
    EXPECT_TRUE(loadMetadata(std::span<const std::uint8_t>(file), m));
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

constexpr std::uint8_t kAllTags = ExifOrientation | ExifDateTaken | ExifPixelWidth | ExifPixelHeight;

TEST(Exif, PatchesEachEntryInItsOwnByteOrderAndWidth) {
    for (const bool little : {true, false}) {
        for (const std::uint16_t widthType : {kShort, kLong}) {
            SCOPED_TRACE(testing::Message() << (little ? "II" : "MM") << " width type "
                                            << widthType);
            const std::uint16_t heightType = widthType == kShort ? kLong : kShort;
            auto payload = [&](std::uint32_t o, std::uint32_t w, std::uint32_t h,
                               const std::string& date) {
                return exifPayload(little, {orientationField(o)},
                                   {widthField(widthType, w), heightField(heightType, h),
                                    dateField(date)});
            };
            ExifView view = openPayload(payload(6, 4000, 3000, "2014:09:21 16:00:56"));
            EXPECT_EQ(view.littleEndian, little);

            const ExifView read = walked(view, ExifMode::Read, kAllTags);
            EXPECT_EQ(read.tags, kAllTags);
            EXPECT_EQ(read.orientation, 6);
            EXPECT_EQ(read.width, 4000);
            EXPECT_EQ(read.height, 3000);
            EXPECT_EQ(read.date, 1411315256);

            view.orientation = 1;
            view.width = 0xABCD;
            view.height = 0x1234;
            view.date = 4102444799; // 2099-12-31 23:59:59, past 2038
            const ExifView written = walked(view, ExifMode::Write, kAllTags);
            EXPECT_EQ(written.tags, kAllTags);
            EXPECT_EQ(written.data, payload(1, 0xABCD, 0x1234, "2099:12:31 23:59:59"));

            // -1 leaves a tag as it is; a value too wide for a SHORT entry is not written.
            view.orientation = -1;
            view.width = view.height = 70000;
            const ExifView kept = walked(view, ExifMode::Write, ExifOrientation | ExifPixelWidth |
                                                                    ExifPixelHeight);
            EXPECT_EQ(kept.data, widthType == kShort ? payload(6, 4000, 70000, "2014:09:21 16:00:56")
                                                     : payload(6, 70000, 3000, "2014:09:21 16:00:56"));

            // Storing puts the patched block back into its segment.
            JpegMetadata m;
            const Bytes file = jpegWith({segment(0xE1, view.data)});
            ASSERT_TRUE(readMetadata(std::span<const std::uint8_t>(file), m));
            ASSERT_TRUE(loadMetadata(std::span<const std::uint8_t>(file), m));
            ASSERT_TRUE(openExif(m, view));
            const ExifView patched = walked(view, ExifMode::Write, ExifOrientation);
            ASSERT_TRUE(storeExif(m, patched));
            EXPECT_EQ(m.segments[0].data, patched.data);
        }
    }
}

TEST(Exif, OnlyRequestedAndPresentTagsAreTouched) {
    const Bytes original = exifPayload(false, {}, {widthField(kShort, 640)});
    ExifView view = openPayload(original);
    view.orientation = 3;
    view.height = 480;
    view.width = 320;
    const ExifView written = walked(view, ExifMode::Write, ExifOrientation | ExifPixelHeight);
    EXPECT_EQ(written.tags, 0); // no orientation or height entry, and width was not requested
    EXPECT_EQ(written.data, original);
    EXPECT_EQ(walked(view, ExifMode::Write, ExifPixelWidth).data,
              exifPayload(false, {}, {widthField(kShort, 320)}));
}

TEST(Exif, HostileBlocksNeitherLoopNorReachOutsideThePayload) {
    auto orientationOf = [](const Bytes& payload) {
        const ExifView v = walked(openPayload(payload), ExifMode::Read, kAllTags);
        return v.tags & ExifOrientation ? v.orientation : -1;
    };
    const Bytes good = exifPayload(true, {orientationField(8)}, {dateField("2001:02:03 04:05:06")});
    const std::size_t pointerValue = kIfd0 + 2 + 12 + 8; // IFD0's second entry: the EXIF pointer

    // The sub-directory pointer leads back to IFD0: read once, no endless walk.
    Bytes loop = good;
    loop[pointerValue] = 8;
    EXPECT_EQ(orientationOf(loop), 8);

    // Pointers and value offsets outside the payload are ignored.
    Bytes farSub = good, farDate = good, farIfd0 = good;
    farSub[pointerValue + 3] = 0x7F;
    EXPECT_EQ(orientationOf(farSub), 8);
    const std::size_t dateValue = kIfd0 + 2 + 2 * 12 + 4 + 2 + 8;
    for (const std::uint32_t offset : {0xFFFFFFF0u, std::uint32_t(good.size() - 6 - 10)}) {
        for (int i = 0; i < 4; ++i) farDate[dateValue + i] = std::uint8_t(offset >> (8 * i));
        ExifView v = walked(openPayload(farDate), ExifMode::Read, ExifDateTaken);
        EXPECT_EQ(v.tags, 0);
        v.date = 0;
        EXPECT_EQ(walked(v, ExifMode::Write, ExifDateTaken).data, farDate);
    }
    farIfd0[6 + 4 + 3] = 0x40;
    EXPECT_EQ(orientationOf(farIfd0), -1);

    // A directory claiming 65535 entries ends with the payload.
    Bytes many = good;
    many[kIfd0] = many[kIfd0 + 1] = 0xFF;
    EXPECT_EQ(orientationOf(slice(many, 0, kIfd0 + 2 + 12 + 5)), 8);

    // The entry count ends a directory: what follows it (the next-directory link and whatever
    // lies behind) is no entry, so an orientation there is neither read nor written.
    Bytes shortDir = exifPayload(true, {widthField(kShort, 1), orientationField(5)}, {});
    shortDir[kIfd0] = 1;
    EXPECT_EQ(orientationOf(shortDir), -1);
    ExifView v = openPayload(shortDir);
    v.orientation = 1;
    EXPECT_EQ(walked(v, ExifMode::Write, ExifOrientation).data, shortDir);

    // Every truncation of the block walks safely.
    for (std::size_t size = 14; size <= good.size(); ++size) {
        ExifView cut = openPayload(slice(good, 0, size));
        cut.orientation = 1;
        cut.date = 0;
        (void)walked(cut, ExifMode::Read, kAllTags);
        (void)walked(cut, ExifMode::Write, kAllTags);
    }
}

TEST(Exif, OpensTheFirstLoadedApp1ThatHoldsExif) {
    const Bytes xmp = bytesOf("http://ns.adobe.com/xap/1.0/");
    const Bytes mm = exifPayload(false, {orientationField(3)}, {});
    const Bytes file = jpegWith({segment(0xE1, xmp), segment(0xE2, mm), segment(0xE1, mm)});
    JpegMetadata m;
    ASSERT_TRUE(readMetadata(std::span<const std::uint8_t>(file), m));
    ExifView view;
    EXPECT_FALSE(openExif(m, view)) << "nothing loaded yet";
    ASSERT_TRUE(loadMetadata(std::span<const std::uint8_t>(file), m));
    ASSERT_TRUE(openExif(m, view));
    EXPECT_EQ(view.segmentIndex, 2u);
    EXPECT_FALSE(view.littleEndian);
    EXPECT_EQ(view.length, mm.size());

    Bytes badOrder = mm;
    badOrder[6] = 'I';
    JpegMetadata bad;
    const Bytes badFile = jpegWith({segment(0xE1, badOrder)});
    ASSERT_TRUE(readMetadata(std::span<const std::uint8_t>(badFile), bad));
    ASSERT_TRUE(loadMetadata(std::span<const std::uint8_t>(badFile), bad));
    EXPECT_FALSE(openExif(bad, view));
    EXPECT_FALSE(view.valid);
    EXPECT_FALSE(storeExif(bad, view));
}

TEST(ExifDate, PatternAndCalendar) {
    struct tm t{};
    t.tm_year = 2099 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 31;
    t.tm_hour = 23;
    t.tm_min = 59;
    t.tm_sec = 58;
    EXPECT_EQ(parseExifDate("2099:12:31 23:59:58"), std::int64_t(timegm(&t)));
    EXPECT_EQ(parseExifDate("1970:01:01 00:00:00"), 0);
    EXPECT_EQ(parseExifDate("1969:12:31 23:59:59"), -1);
    EXPECT_EQ(parseExifDate("2024:02:29 12:00:00"), 1709208000);
    for (const char* bad : {"    :  :     :  :  ", "0000:00:00 00:00:00", "2023:02:29 12:00:00",
                            "2023:13:01 12:00:00", "2023:01:01 24:00:00", "2023-01-01 12:00:00",
                            "2023:01:01 12:00", ""}) {
        EXPECT_EQ(parseExifDate(bad), std::nullopt) << bad;
    }
    for (const std::int64_t s : {std::int64_t(0), std::int64_t(-1), std::int64_t(1709208000),
                                 std::int64_t(4102444799), std::int64_t(-62135596800)}) {
        EXPECT_EQ(parseExifDate(formatExifDate(s)), s) << s;
    }
    EXPECT_EQ(formatExifDate(-62135596801), "");
}

// --- Orientation -------------------------------------------------------------------------------

using Pixels = std::vector<std::vector<int>>;

// The rotation modes as pixel mappings: dst(x, y) from src with W x H source size.
Pixels rotate(const Pixels& src, int mode) {
    const int h = int(src.size()), w = int(src[0].size());
    const bool swap = mode == 0 || mode == 1 || mode == 5 || mode == 6;
    const int dw = swap ? h : w, dh = swap ? w : h;
    Pixels dst(std::size_t(dh), std::vector<int>(std::size_t(dw), 0));
    for (int y = 0; y < dh; ++y) {
        for (int x = 0; x < dw; ++x) {
            int sx = x, sy = y;
            switch (mode) {
            case 0: sx = w - 1 - y; sy = x; break;
            case 1: sx = y; sy = h - 1 - x; break;
            case 2: sx = w - 1 - x; sy = h - 1 - y; break;
            case 3: sx = w - 1 - x; break;
            case 4: sy = h - 1 - y; break;
            case 5: sx = y; sy = x; break;
            case 6: sx = w - 1 - y; sy = h - 1 - x; break;
            }
            dst[std::size_t(y)][std::size_t(x)] = src[std::size_t(sy)][std::size_t(sx)];
        }
    }
    return dst;
}

// How a viewer shows stored pixels with an EXIF orientation: 2 mirrored, 3 turned 180°,
// 4 flipped, 5 transposed, 6 turned clockwise, 7 transversed, 8 turned counter-clockwise.
Pixels shown(const Pixels& stored, int orientation) {
    static constexpr std::array<int, 9> kViewerTurn{-1, -1, 3, 2, 4, 5, 1, 6, 0};
    const int mode = kViewerTurn[std::size_t(orientation)];
    return mode < 0 ? stored : rotate(stored, mode);
}

TEST(ExifOrientation, NewOrientationShowsTurnedPixelsAsBefore) {
    const Pixels image{{1, 2, 3}, {4, 5, 6}};
    for (int orientation = 1; orientation <= 8; ++orientation) {
        for (int mode = 0; mode <= 6; ++mode) {
            const int after = newOrientation(orientation, mode);
            ASSERT_GE(after, 1);
            EXPECT_EQ(shown(rotate(image, mode), after), shown(image, orientation))
                << "orientation " << orientation << " mode " << mode;
        }
        const int upright = uprightRotateMode(orientation);
        if (orientation == 1) {
            EXPECT_EQ(upright, -1);
        } else {
            ASSERT_GE(upright, 0) << orientation;
            EXPECT_EQ(rotate(image, upright), shown(image, orientation)) << orientation;
        }
    }
    EXPECT_EQ(newOrientation(6, 1), 1);
    for (const auto& [o, m] : {std::pair{0, 1}, {9, 1}, {-1, 0}, {3, 7}, {3, -1}}) {
        EXPECT_EQ(newOrientation(o, m), -1) << o << " " << m;
    }
    EXPECT_EQ(uprightRotateMode(0), -1);
}

// --- The processing loop's uses ----------------------------------------------------------------

struct Source {
    Bytes app1Payload, app2Payload;
    Bytes file;
};

Source sourceWithEverything() {
    Source s;
    s.app1Payload = exifPayload(true, {orientationField(6)},
                                {widthField(kShort, 16), heightField(kLong, 8),
                                 dateField("2020:05:06 07:08:09")});
    s.app2Payload = concat({bytesOf(std::string_view("ICC_PROFILE\0\x01\x01", 14)), Bytes(50, 7)});
    s.file = jpegWith({segment(0xE1, s.app1Payload), segment(0xE2, s.app2Payload),
                       segment(0xFE, bytesOf("old comment"))});
    return s;
}

TEST(MetadataCarry, ReencodedOutputGetsTheSourceSegmentsPatchedThenTheComment) {
    const Source src = sourceWithEverything();
    test::TempDir dir;
    writeBytes(dir.file("src.jpg"), src.file);
    SavedJpegOptions options;
    options.keepMetadata = true;
    options.commentEnabled = true;
    options.comment = "abc";
    options.useExifOrientation = true;
    options.rotationApplied = 1;
    options.sizeMayHaveChanged = true;
    options.width = 8;
    options.height = 16;
    const Bytes com = segment(0xFE, bytesOf(std::string_view("abc\0", 4)));
    const Bytes patched = exifPayload(true, {orientationField(1)},
                                      {widthField(kShort, 8), heightField(kLong, 16),
                                       dateField("2020:05:06 07:08:09")});
    const Bytes unpatched = src.app1Payload;
    struct Case {
        const char* name;
        bool keep, comment, useExif, decode;
        int rotation;
        Bytes expected;
    } cases[] = {
        {"all", true, true, true, true, 1, jpegWith({segment(0xE1, patched),
                                                     segment(0xE2, src.app2Payload), com})},
        {"without EXIF patching", true, true, false, true, 1,
         jpegWith({segment(0xE1, unpatched), segment(0xE2, src.app2Payload), com})},
        {"no comment", true, false, true, true, 1,
         jpegWith({segment(0xE1, patched), segment(0xE2, src.app2Payload),
                   segment(0xFE, bytesOf("old comment"))})},
        {"only the comment", false, true, true, true, 1, jpegWith({com})},
        {"neither", false, false, true, true, 1, plainJpeg()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeBytes(dir.file("out.jpg"), plainJpeg());
        JpegMetadata m = pickUpMetadata(dir.file("src.jpg"), c.decode, c.comment, c.keep);
        options.keepMetadata = c.keep;
        options.commentEnabled = c.comment;
        options.useExifOrientation = c.useExif;
        options.rotationApplied = c.rotation;
        EXPECT_TRUE(carryMetadataIntoOutput(dir.file("out.jpg"), m, options));
        EXPECT_EQ(readBytes(dir.file("out.jpg")), c.expected);
    }

    // Without a rotation the orientation stays; a source without orientation keeps its block.
    options = SavedJpegOptions{};
    options.useExifOrientation = true;
    options.sizeMayHaveChanged = false;
    options.rotationApplied = -1;
    writeBytes(dir.file("out.jpg"), plainJpeg());
    JpegMetadata m = pickUpMetadata(dir.file("src.jpg"), true, false, true);
    ASSERT_TRUE(carryMetadataIntoOutput(dir.file("out.jpg"), m, options));
    const ExifDetails details = readExifDetails(dir.file("out.jpg"));
    EXPECT_EQ(details.orientation, 6);
    EXPECT_EQ(details.recordedDate, parseExifDate("2020:05:06 07:08:09"));

    const Bytes noOrientation = exifPayload(false, {}, {widthField(kShort, 16)});
    writeBytes(dir.file("src.jpg"), jpegWith({segment(0xE1, noOrientation)}));
    writeBytes(dir.file("out.jpg"), plainJpeg());
    options.rotationApplied = 0;
    m = pickUpMetadata(dir.file("src.jpg"), true, false, true);
    ASSERT_TRUE(carryMetadataIntoOutput(dir.file("out.jpg"), m, options));
    EXPECT_EQ(readBytes(dir.file("out.jpg")), jpegWith({segment(0xE1, noOrientation)}));
}

TEST(MetadataCarry, CopiedFileLosesOnlyItsCarriedSegments) {
    // APP0 APP1(Exif) COM APP1(XMP) APP2(ICC) before the image data.
    const std::string sample = testdata("exif/Nikon_D70.jpg");
    const Bytes original = fileBytes(sample);
    test::TempDir dir;
    const std::string copy = dir.file("moved.jpg");

    writeBytes(copy, original);
    JpegMetadata listed = pickUpMetadata(sample, false, false, false);
    EXPECT_EQ(markersOf(listed), (std::vector<int>{0xE1, 0xFE, 0xE1, 0xE2}));
    EXPECT_FALSE(listed.holdsData()) << "a copy needs the list only";
    ASSERT_TRUE(adjustMetadataOfCopy(copy, listed, false, false, ""));
    const Bytes stripped = readBytes(copy);
    std::size_t removed = 0;
    for (const MetadataSegment& s : listed.segments) removed += s.length + 4u;
    // In this sample the four segments follow APP0 without a gap: SOI and APP0 stay, and every
    // byte after the last segment stays.
    const MetadataSegment& last = listed.segments.back();
    EXPECT_EQ(std::size_t(last.offset + last.length) - 20, removed);
    EXPECT_EQ(stripped, concat({slice(original, 0, 20),
                                slice(original, std::size_t(last.offset + last.length),
                                      original.size())}));
    JpegMetadata after;
    ASSERT_TRUE(readMetadata(copy, after));
    EXPECT_TRUE(after.segments.empty());

    // With a comment as well: the comment follows APP0.
    writeBytes(copy, original);
    ASSERT_TRUE(adjustMetadataOfCopy(copy, listed, false, true, "abc"));
    const Bytes com = segment(0xFE, bytesOf(std::string_view("abc\0", 4)));
    EXPECT_EQ(readBytes(copy), concat({slice(stripped, 0, 20), com,
                                       slice(stripped, 20, stripped.size())}));

    // Kept metadata and no comment: the file is not touched.
    writeBytes(copy, original);
    const JpegMetadata none = pickUpMetadata(sample, false, true, true);
    EXPECT_TRUE(none.segments.empty());
    ASSERT_TRUE(adjustMetadataOfCopy(copy, none, true, false, ""));
    EXPECT_EQ(readBytes(copy), original);
}

// --- exiftool as the independent reader --------------------------------------------------------

// Tags that describe the file rather than the carried metadata, and positions that exiftool gives
// as file offsets (they move with the block): they differ between a source and its output.
bool describesTheFile(const std::string& key) {
    const std::string group = key.substr(0, key.find(':'));
    const std::string tag = key.substr(key.find(':') + 1);
    auto endsWith = [&](std::string_view end) {
        return tag.size() >= end.size() && tag.compare(tag.size() - end.size(), end.size(), end) == 0;
    };
    return group == "System" || group == "File" || group == "ExifTool" || group == "Composite" ||
           group == "JFIF" || endsWith("Offset") || endsWith("Start");
}

TEST(MetadataExiftool, WrittenFilesReadBackAsIntendedAndValidate) {
    if (!haveExiftool()) GTEST_SKIP() << "exiftool missing";
    // Local-time seconds do not depend on the zone; an unusual one makes a slip visible.
    const char* oldTz = std::getenv("TZ");
    const std::string savedTz = oldTz ? oldTz : "";
    setenv("TZ", "Australia/Lord_Howe", 1);
    tzset();

    test::TempDir dir;
    struct Written {
        std::string source, carried, copied;
    };
    std::vector<Written> written;
    std::map<std::string, ExifDetails> detailsOf;
    std::vector<std::string> all;
    for (const Sample& sample : jpegSamples()) {
        const std::string path = testdata(sample.path);
        detailsOf[path] = readExifDetails(path);
        all.push_back(path);
        if (sample.path.rfind("exif/", 0) != 0 && sample.path.rfind("jpeg/", 0) != 0) continue;
        const std::string n = std::to_string(written.size());
        Written w{path, dir.file("carried" + n + ".jpg"), dir.file("copied" + n + ".jpg")};
        // Re-encoded with everything kept, orientation and size patched, and a new comment.
        writeBytes(w.carried, plainJpeg());
        JpegMetadata m = pickUpMetadata(path, true, true, true);
        SavedJpegOptions options;
        options.commentEnabled = true;
        options.comment = "Quillmere \xE2\x82\xAC";
        options.useExifOrientation = true;
        options.rotationApplied = 1;
        options.sizeMayHaveChanged = true;
        options.width = 321;
        options.height = 123;
        ASSERT_TRUE(carryMetadataIntoOutput(w.carried, m, options)) << path;
        all.push_back(w.carried);
        // Copied without its metadata but with a comment (the small samples only).
        if (sample.path.find("fullsize/") == std::string::npos) {
            writeBytes(w.copied, fileBytes(path));
            const JpegMetadata listed = pickUpMetadata(path, false, true, false);
            EXPECT_TRUE(adjustMetadataOfCopy(w.copied, listed, false, true, "abc")) << path;
            all.push_back(w.copied);
        } else {
            w.copied.clear();
        }
        written.push_back(w);
    }
    ASSERT_GT(written.size(), 50u);
    const auto tags = exiftoolTags(all);

    // The date taken is exiftool's DateTimeOriginal of the EXIF sub-directory.
    int dates = 0;
    for (const auto& [path, details] : detailsOf) {
        SCOPED_TRACE(path);
        const TagList& t = tags.at(path);
        const std::string text = valueOf(t, "ExifIFD:DateTimeOriginal");
        const std::string orientation = valueOf(t, "IFD0:Orientation");
        if (!orientation.empty()) {
            EXPECT_EQ(details.orientation, std::stoi(orientation));
        }
        if (text.empty()) {
            EXPECT_EQ(details.recordedDate, std::nullopt);
            continue;
        }
        struct tm parsed{};
        ASSERT_NE(strptime(text.c_str(), "%Y:%m:%d %H:%M:%S", &parsed), nullptr);
        EXPECT_EQ(details.recordedDate, std::int64_t(timegm(&parsed)));
        ++dates;
    }
    EXPECT_GT(dates, 12);

    const std::vector<std::string> patched{"IFD0:Orientation", "ExifIFD:ExifImageWidth",
                                           "ExifIFD:ExifImageHeight", "File:Comment"};
    auto carriedTags = [&](const TagList& list) {
        std::vector<std::string> kept;
        for (const auto& [key, value] : list) {
            if (describesTheFile(key) || std::count(patched.begin(), patched.end(), key)) continue;
            kept.push_back(key + " = " + value);
        }
        std::sort(kept.begin(), kept.end());
        return kept;
    };
    auto difference = [](const std::vector<std::string>& a, const std::vector<std::string>& b) {
        std::vector<std::string> out;
        std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
        return testing::PrintToString(out);
    };
    for (const Written& w : written) {
        SCOPED_TRACE(w.source);
        const TagList& before = tags.at(w.source);
        const TagList& after = tags.at(w.carried);
        const auto a = carriedTags(after), b = carriedTags(before);
        EXPECT_EQ(a, b) << "added " << difference(a, b) << " lost " << difference(b, a);

        const std::string orientation = valueOf(before, "IFD0:Orientation");
        const int expected = newOrientation(orientation.empty() ? -1 : std::stoi(orientation), 1);
        EXPECT_EQ(valueOf(after, "IFD0:Orientation"),
                  expected == -1 ? orientation : std::to_string(expected));
        if (!valueOf(before, "ExifIFD:ExifImageWidth").empty()) {
            // The first value is the size (one camera stores two SHORTs).
            EXPECT_EQ(valueOf(after, "ExifIFD:ExifImageWidth").substr(0, 3), "321");
            EXPECT_EQ(valueOf(after, "ExifIFD:ExifImageHeight").substr(0, 3), "123");
        }
        EXPECT_EQ(valueOf(after, "File:Comment"), "Quillmere \xE2\x82\xAC");
        if (!w.copied.empty()) {
            EXPECT_EQ(valueOf(tags.at(w.copied), "File:Comment"), "abc");
            EXPECT_EQ(valueOf(tags.at(w.copied), "IFD0:Orientation"), "");
        }

        // Nothing exiftool objects to that it did not already find in the source.
        const auto known = warningsOf(before);
        for (const std::string& file : {w.carried, w.copied}) {
            if (file.empty()) continue;
            for (const std::string& warning : warningsOf(tags.at(file))) {
                EXPECT_TRUE(known.count(warning)) << file << ": " << warning;
            }
        }
    }

    if (oldTz) {
        setenv("TZ", savedTz.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

} // namespace
} // namespace quill::pipeline
