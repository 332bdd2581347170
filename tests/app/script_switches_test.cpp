// The switches for scripts, through the real program: -Set:, -Help=settings, -List=, -DryRun with
// -Output=tsv, several presets in one run and -Shard=.
#include "program_fixture.h"
#include "settings/setting_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

namespace quill::app {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class ScriptSwitches : public Program {
protected:
    std::string work() const { return m_root.path() + "work/"; }
    std::string out() const { return m_root.path() + "out/"; }
    /// -Set: switches that send outputs into out() as PNG.
    std::string toOut() const {
        return "-Set:outputDirPattern=" + test::shellQuote(out()) + " -Set:outputFormat=1 ";
    }
    void image(const std::string& name) const {
        ASSERT_TRUE(platform::createDirectories(platform::directoryPart(work() + name)));
        ASSERT_TRUE(platform::copyFile(test::testdata("png/basn2c16.png"), work() + name,
                                       platform::Overwrite::Replace));
    }
    /// Every file below `folder`, with its size and modification time.
    static std::map<std::string, std::string> snapshot(const std::string& folder) {
        std::string listing;
        test::runCommand("cd " + test::shellQuote(folder) +
                             " && find . -printf '%p\\t%s %T@ %m\\n' | sort",
                         &listing);
        std::map<std::string, std::string> files;
        std::istringstream lines(listing);
        for (std::string line; std::getline(lines, line);)
            files[line.substr(0, line.find('\t'))] = line;
        return files;
    }
    static std::set<std::string> filesBelow(const std::string& folder) {
        std::set<std::string> names;
        for (const auto& [name, line] : snapshot(folder))
            if (name.size() > 2 && platform::isRegularFile(folder + name.substr(2)))
                names.insert(folder + name.substr(2));
        return names;
    }
    /// The outputs of the "ok" lines of a tab-separated dry run.
    static std::set<std::string> dryRunOutputs(const std::string& tsv) {
        std::set<std::string> outputs;
        std::istringstream lines(tsv);
        for (std::string line; std::getline(lines, line);) {
            std::vector<std::string> fields;
            std::istringstream cells(line);
            for (std::string cell; std::getline(cells, cell, '\t');)
                fields.push_back(cell);
            EXPECT_GE(fields.size(), 3u) << line;
            if (fields.size() >= 3 && fields[2] == "ok") outputs.insert(fields[1]);
        }
        return outputs;
    }
    std::string presetsFile() const {
        EXPECT_TRUE(platform::createDirectories(perUser()));
        return perUser() + "Presets";
    }
};

TEST_F(ScriptSwitches, SetChangesOneRunOnlyAndRefusesWhatTheTableRefuses) {
    image("a.png");
    settings::PresetList list = settings::defaultPresetList();
    ASSERT_TRUE(settings::writePresets(presetsFile(), list));
    const auto stored = test::readBytes(presetsFile());

    RunResult r =
        run("-Console " + toOut() + "-Set:renameEnabled=1 -Set:renamePattern=x_%FN% a.png");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(platform::isRegularFile(out() + "x_a.png")) << r.out << r.err;
    EXPECT_EQ(test::readBytes(presetsFile()), stored);

    // Refused before anything is loaded: the message names the field and its range.
    r = run("-Console -Set:resizeWidth=10000 " + toOut() + "a.png");
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.out, HasSubstr("resizeWidth"));
    EXPECT_THAT(r.out, HasSubstr("from 0 to 9999"));
    EXPECT_THAT(r.out, Not(HasSubstr("Loaded images")));
    r = run("-Console -Set:noSuchField=1 a.png");
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.out, HasSubstr("Unknown setting \"noSuchField\""));
    r = run("-Console -Set:quality a.png");
    EXPECT_EQ(r.status, 2);
    r = run("-Console -Set:quality=8x a.png");
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.out, HasSubstr("quality"));
    EXPECT_EQ(test::readBytes(presetsFile()), stored);

    r = run("-Help=settings");
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr("resizeWidth  0..9999, default 1024"));
    EXPECT_THAT(r.out, HasSubstr("outputDirPattern  text"));
    EXPECT_THAT(r.out, Not(HasSubstr("filterConditions")));
}

TEST_F(ScriptSwitches, ListFilesAddPathsAsTheCommandLineDoes) {
    image("a.png");
    image("b c.png");
    image("sub/d.png");
    const std::string oddName = std::string("\xE9t\xE9.png"); // Latin-1, not UTF-8
    image(oddName);
    // CR LF line ends, empty lines, a folder, a relative and an absolute path.
    test::writeText(work() + "list.txt",
                    "a.png\r\n\r\nb c.png\n" + work() + "sub\n" + oddName + "\n\n");
    RunResult r = run("-Console " + toOut() + "-List=list.txt");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_THAT(r.out, HasSubstr("Loaded images: 4"));
    EXPECT_EQ(filesBelow(out()), (std::set<std::string>{out() + "a.png", out() + "b c.png",
                                                        out() + "d.png", out() + oddName}));

    // Standard input, together with a path argument; a path listed twice is loaded once.
    ASSERT_TRUE(platform::removeDirectoryTree(out()));
    r = run("-Console " + toOut() + "-List=- a.png",
            Start{.before = "printf 'a.png\\nsub/d.png\\n' > in.txt", .input = "in.txt"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_THAT(r.out, HasSubstr("Loaded images: 2"));

    r = run("-Console " + toOut() + "-List=missing.txt a.png");
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.out, HasSubstr("Error: the list \"missing.txt\" cannot be read"));
    r = run("-Console -List= a.png");
    EXPECT_EQ(r.status, 2);
}

TEST_F(ScriptSwitches, DryRunWritesNothingAndNamesWhatTheRunThenWrites) {
    // Mirrored sub-folders, numbering, an output name already taken, a name two sources share,
    // an unreadable file.
    for (const char* name : {"in/a.png", "in/b.png", "in/s/a.png", "in/s/t/c.png"})
        image(name);
    test::writeText(work() + "in/broken.png", "not an image");
    ASSERT_TRUE(platform::createDirectories(out() + "s/"));
    ASSERT_TRUE(platform::copyFile(test::testdata("png/basn2c16.png"), out() + "(001) a.png",
                                   platform::Overwrite::Replace));
    const std::string settings = toOut() + "-Set:mirrorSubfolders=1 -Set:renameEnabled=1 ";
    ASSERT_EQ(test::runCommand("chmod -R a-w " + test::shellQuote(work() + "in")), 0);
    const auto before = snapshot(work()), outBefore = snapshot(out());

    RunResult dry = run("-Console -DryRun -Output=tsv " + settings + "in");
    EXPECT_EQ(dry.status, 1) << dry.err; // the unreadable file fails
    EXPECT_EQ(snapshot(work()), before);
    EXPECT_EQ(snapshot(out()), outBefore);
    EXPECT_THAT(dry.err, HasSubstr("Dry run")); // people's lines go to standard error
    EXPECT_THAT(dry.out, HasSubstr(work() + "in/broken.png\t\tunreadable\t"));
    EXPECT_THAT(dry.out, Not(HasSubstr("Preset:")));
    const std::set<std::string> promised = dryRunOutputs(dry.out);
    EXPECT_EQ(promised.size(), 4u);
    EXPECT_EQ(promised.count(out() + "(002) a.png"), 1u); // 001 is taken

    ASSERT_EQ(test::runCommand("chmod -R u+w " + test::shellQuote(work() + "in")), 0);
    const std::set<std::string> existing = filesBelow(out());
    RunResult real = run("-Console " + settings + "in");
    EXPECT_EQ(real.status, 1) << real.out;
    std::set<std::string> written;
    for (const std::string& file : filesBelow(out()))
        if (!existing.count(file)) written.insert(file);
    EXPECT_EQ(written, promised);

    // Run again without numbering: every output exists now and the dry run says so.
    dry = run("-Console -DryRun " + toOut() + "-Set:mirrorSubfolders=1 in");
    EXPECT_EQ(dry.status, 1);
    EXPECT_THAT(dry.out, HasSubstr(work() + "in/a.png -> " + out() + "a.png"));
    // Two sources with one output name without mirroring: the second would find the first's.
    ASSERT_TRUE(platform::removeDirectoryTree(out()));
    dry = run("-Console -DryRun -Output=tsv " + toOut() + "in/a.png in/s/a.png");
    EXPECT_EQ(dry.status, 1);
    EXPECT_THAT(dry.out, HasSubstr(work() + "in/s/a.png\t" + out() + "a.png\texists\t"));
    EXPECT_FALSE(platform::fileExists(out()));
}

TEST_F(ScriptSwitches, SeveralPresetsRunInTurnAndReportTogether) {
    image("a.png");
    test::writeText(work() + "broken.png", "not an image");
    settings::PresetList list = settings::defaultPresetList();
    for (int i : {1, 2, 3}) {
        settings::Preset& p = list.presets[std::size_t(i)];
        p.outputDirEnabled = 1;
        p.moveOriginal = 0;
        p.outputDirPattern = out() + std::to_string(i) + "/";
        p.convertFormat = 1;
        p.renameEnabled = 0;
        p.outputFormat = settings::OutputFormat{1};
        p.name = "Preset number " + std::to_string(i);
    }
    list.presets[2].moveOriginal = 1; // moves its sources
    ASSERT_TRUE(settings::writePresets(presetsFile(), list));

    RunResult r = run("-Console -Preset=1,3 a.png broken.png");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(platform::isRegularFile(out() + "1/a.png")) << r.out << r.err;
    EXPECT_TRUE(platform::isRegularFile(out() + "3/a.png"));
    EXPECT_THAT(r.out, HasSubstr("Preset: 1 -> \"Preset number 1\""));
    EXPECT_THAT(r.out, HasSubstr("Preset: 3 -> \"Preset number 3\""));
    // One log names each failure with its preset.
    const auto logBytes = test::readBytes(programDir() + "Quillmere_Errorlog.txt");
    const std::string log(logBytes.begin(), logBytes.end());
    EXPECT_THAT(log, HasSubstr("Preset: 1 -> \"Preset number 1\"\r\n"));
    EXPECT_THAT(log, HasSubstr("Preset: 3 -> \"Preset number 3\"\r\n"));

    // A preset that moves its sources runs last or not at all; a missing preset stops the run.
    r = run("-Console -Preset=2,1 a.png");
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.out, HasSubstr("can only be the last preset"));
    EXPECT_TRUE(platform::isRegularFile(work() + "a.png"));
    EXPECT_FALSE(platform::fileExists(out() + "2"));
    r = run("-Console -Preset=1,9 a.png");
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.out, HasSubstr("Preset 9 does not exist"));
    r = run("-Console -Preset=1,x a.png");
    EXPECT_EQ(r.status, 2);
    // The moving preset last: the others read the source before it goes.
    ASSERT_TRUE(platform::removeDirectoryTree(out()));
    r = run("-Console -IgnoreWarning -Preset=1,2 a.png");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(platform::isRegularFile(out() + "1/a.png"));
    EXPECT_TRUE(platform::isRegularFile(out() + "2/a.png"));
    EXPECT_FALSE(platform::fileExists(work() + "a.png"));
}

TEST_F(ScriptSwitches, ShardsShareTheListWithoutOverlap) {
    // 1,000 files, one list, four processes each with its own runtime folder (the instance
    // lock), all writing into one output folder.
    std::string listText;
    for (int i = 0; i < 1000; ++i) {
        const std::string name = "in/" + std::to_string(i % 10) + "/p" + std::to_string(i) + ".png";
        image(name);
        listText += name + "\n";
    }
    test::writeText(work() + "list.txt", listText);
    const std::string settings = toOut() + "-Set:convertFormat=0 ";
    std::string command = "cd " + test::shellQuote(work()) + " && { ";
    for (int k = 0; k < 4; ++k) {
        const std::string runtime = m_root.path() + "runtime" + std::to_string(k);
        ASSERT_TRUE(platform::createDirectory(runtime));
        command += "(HOME=" + test::shellQuote(m_root.path() + "home") +
                   " XDG_RUNTIME_DIR=" + test::shellQuote(runtime) + " " +
                   test::shellQuote(binary()) + " -Console " + settings +
                   "-List=list.txt -Shard=" + std::to_string(k) + "/4 > shard" + std::to_string(k) +
                   ".txt 2>&1; echo $? > status" + std::to_string(k) + ".txt) & ";
    }
    ASSERT_EQ(test::runCommand(command + "wait; }"), 0);
    std::size_t total = 0;
    for (int k = 0; k < 4; ++k) {
        const auto status = test::readBytes(work() + "status" + std::to_string(k) + ".txt");
        const auto printed = test::readBytes(work() + "shard" + std::to_string(k) + ".txt");
        const std::string text(printed.begin(), printed.end());
        EXPECT_EQ(std::string(status.begin(), status.end()), "0\n") << k << text;
        const std::size_t at = text.find("Loaded images: ");
        ASSERT_NE(at, std::string::npos) << text;
        const std::size_t count = std::stoul(text.substr(at + 15));
        EXPECT_GT(count, 150u); // a fair share each
        total += count;
    }
    EXPECT_EQ(total, 1000u);
    if (platform::fileExists(programDir() + "Quillmere_Errorlog.txt")) {
        const auto logBytes = test::readBytes(programDir() + "Quillmere_Errorlog.txt");
        ADD_FAILURE() << std::string(logBytes.begin(), logBytes.end());
    }
    // Each image once: no numbered duplicates, none missing; each output has its source's bytes.
    const std::set<std::string> sharded = filesBelow(out());
    EXPECT_EQ(sharded.size(), 1000u);
    for (int i = 0; i < 1000; i += 97)
        EXPECT_EQ(test::readBytes(out() + "p" + std::to_string(i) + ".png"),
                  test::readBytes(test::testdata("png/basn2c16.png")));

    RunResult r = run("-Console -Shard=4/4 in");
    EXPECT_EQ(r.status, 2);
    r = run("-Console -Shard=1 in");
    EXPECT_EQ(r.status, 2);
}

} // namespace
} // namespace quill::app
