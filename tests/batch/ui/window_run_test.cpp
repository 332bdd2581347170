// The window run against the real widgets: checks and their boxes, outputs, phases, pause and
// cancel, the keep options and the result window.
#include "batch/console_run.h"
#include "batch/ui/progress_window.h"
#include "batch/ui/result_window.h"
#include "batch/ui/window_run.h"
#include "batch/ui/window_test_support.h"
#include "settings/filter_conditions.h"
#include "settings/language_pack.h"
#include "settings/problem_list.h"
#include "settings/run_settings.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

namespace quill::test {
namespace {

namespace fs = std::filesystem;
using batch::ui::ProgressWindow;
using batch::ui::ResultWindow;
using batch::ui::WindowRun;
using toolkit::qt::Answer;
using toolkit::qt::BoxKind;

QString ui(int index) {
    return QString::fromStdString(settings::uiText(index));
}

std::string problems(settings::ValidationResult result, const settings::Preset& preset,
                     std::size_t count) {
    const auto run =
        settings::deriveRunSettings(preset, settings::runContextFromPlatform(count, 0));
    return settings::problemList(result, preset, run, settings::currentUiTexts());
}

std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

settings::FilterCondition nameIs(const std::string& name) {
    settings::FilterCondition condition;
    condition.flags = settings::kConditionActive;
    condition.property = settings::PropertyFileName;
    condition.operator_ = 0;
    condition.value = name;
    condition.valueKind = 2;
    return condition;
}

TEST(WindowPreRunChecks, EveryRefusalShowsItsBox) {
    struct Case {
        const char* name;
        std::function<void(WindowBatch&)> setup;
        int boxes; ///< 0: refused silently
        BoxKind kind;
        int title;
        std::function<QString(WindowBatch&)> text;
    };
    const auto plain = [](int index) { return [index](WindowBatch&) { return ui(index); }; };
    const std::vector<Case> cases = {
        {"empty list", [](WindowBatch&) {}, 1, BoxKind::Information, 427, plain(436)},
        {"loader active", [](WindowBatch& b) { b.flags.loadingPaths.store(1); }, 0, {}, 0, {}},
        {"out of range", [](WindowBatch& b) { b.preset.quality = 11; }, 1, BoxKind::Warning, 431,
         plain(434)},
        {"contradictory",
         [](WindowBatch& b) {
             b.preset.cropEnabled = 1;
             b.preset.cropMode = settings::CropMode::Margins;
             b.preset.cropLeft = b.preset.cropRight = b.preset.cropTop = b.preset.cropBottom = 0;
         },
         1, BoxKind::Warning, 431,
         [](WindowBatch& b) {
             return ui(433) + ": " +
                    QString::fromStdString(problems(settings::ValidationResult::Contradictory,
                                                    b.preset, b.images.size()));
         }},
        {"nothing to do",
         [](WindowBatch& b) {
             b.preset.convertFormat = 0;
             b.preset.outputDirEnabled = 0;
             b.preset.keepMetadata = 1;
         },
         1, BoxKind::Information, 427, plain(432)},
        {"videos need details",
         [](WindowBatch& b) {
             b.addBytes(std::vector<std::uint8_t>(100, 7), "clip.mp4");
             b.preset.sortEnabled = 1;
             b.preset.sortKey = settings::SortKey::Width;
         },
         1, BoxKind::Question, 416, plain(423)},
        {"bad filter value",
         [](WindowBatch& b) {
             b.preset.filterEnabled = 1;
             auto condition = nameIs("x");
             condition.property = settings::PropertyWidth;
             condition.value = "0";
             condition.valueKind = 1;
             b.preset.filterConditions = {condition};
         },
         1, BoxKind::Warning, 431,
         [](WindowBatch& b) {
             return ui(435) + ": \r\n" +
                    QString::fromStdString(problems(settings::ValidationResult::BadFilterValue,
                                                    b.preset, b.images.size()));
         }},
        {"replacing", [](WindowBatch& b) { b.preset.outputDirEnabled = 0; }, 1, BoxKind::Question,
         416, plain(421)},
        {"moving", [](WindowBatch& b) { b.preset.moveOriginal = 1; }, 1, BoxKind::Question, 416,
         plain(422)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WindowBatch batch;
        if (std::string(c.name) != "empty list") batch.add("jpeg/hopper.jpg", "a.jpg");
        c.setup(batch);
        batch.questions.answer = Answer::No;
        const std::size_t listed = batch.images.size();
        WindowRun run(batch.environment(), nullptr);
        EXPECT_FALSE(run.start());
        ASSERT_EQ(batch.questions.boxes.size(), std::size_t(c.boxes));
        EXPECT_EQ(batch.images.size(), listed);
        EXPECT_EQ(batch.flags.runActive.load(), 0);
        if (c.boxes == 0) continue;
        const auto& box = batch.questions.boxes.front();
        EXPECT_EQ(box.kind, c.kind);
        EXPECT_EQ(box.title, ui(c.title));
        EXPECT_EQ(box.text, c.text(batch));
        EXPECT_FALSE(box.text.endsWith(": ")) << "the problem list is missing";
    }
}

TEST(WindowPreRunChecks, IgnoredWarningsAskNothing) {
    WindowBatch batch;
    batch.add("jpeg/hopper.jpg", "a.jpg");
    batch.preset.outputDirEnabled = 1;
    batch.preset.moveOriginal = 1;
    auto env = batch.environment();
    env.ignoreWarnings = true;
    WindowRun run(env, nullptr);
    run.setMinimumPhaseDurations(false);
    ASSERT_TRUE(batch.runToEnd(run));
    EXPECT_TRUE(batch.questions.boxes.empty());
    EXPECT_FALSE(fs::exists(batch.in("a.jpg"))); // moved
    EXPECT_TRUE(fs::exists(batch.out("a.png")));
}

TEST(WindowRun, OutputsAreByteIdenticalToAConsoleRun) {
    WindowBatch batch;
    for (const char* sample : {"jpeg/hopper.jpg", "jpeg/cat.jpg", "bmp/pal1.bmp", "gif/chi.gif"})
        batch.add(sample, fs::path(sample).filename().string());
    batch.preset.qualityEnabled = 1;
    batch.preset.outputFormat = settings::OutputFormat::Jpeg;
    batch.preset.quality = 7;
    QWidget mainWindow;
    mainWindow.show();
    WindowRun run(batch.environment(), &mainWindow);
    run.setMinimumPhaseDurations(false);
    QObject::connect(&run, &WindowRun::finished, &mainWindow,
                     [&] { EXPECT_TRUE(mainWindow.isVisible()); });
    bool quit = true;
    ASSERT_TRUE(batch.runToEnd(run, &quit));
    EXPECT_FALSE(quit);
    EXPECT_TRUE(batch.images.empty()); // no keep option
    EXPECT_TRUE(batch.questions.boxes.empty());

    // The console run of the same preset over the same files, into another folder.
    imagefiles::ImageList images;
    for (const auto& name : filesIn(batch.in()))
        (void)imagefiles::addImageRecord(
            batch.in(name), images,
            {.includeHiddenFiles = true, .videos = imagefiles::Videos::Included});
    settings::Preset preset = batch.preset;
    preset.outputDirPattern = batch.dir.file("console/");
    fs::create_directories(preset.outputDirPattern);
    pipeline::RunFlags flags;
    batch::ConsoleRunEnvironment console{images,      preset,          flags, false,
                                         "Quillmere", "Quillmere 4.6", {},    false};
    ASSERT_EQ(batch::consoleRun(console), batch::ConsoleRunOutcome::AllDone);

    const auto written = filesIn(batch.out());
    ASSERT_EQ(written.size(), 4u);
    EXPECT_EQ(written, filesIn(preset.outputDirPattern));
    for (const auto& name : written)
        EXPECT_EQ(readBytes(batch.out(name)), readBytes(preset.outputDirPattern + name)) << name;
}

TEST(WindowRun, ProgressWindowShowsThePhasesInOrder) {
    WindowBatch batch;
    batch.add("jpeg/hopper.jpg", "a.jpg");
    batch.add("jpeg/cat.jpg", "b.jpg");
    batch.preset.sortEnabled = 1;
    batch.preset.sortKey = settings::SortKey::FileSize; // file size: the preparation phase runs
    WindowRun run(batch.environment(), nullptr);
    std::vector<int> phases;
    std::vector<QString> captions, lines;
    ASSERT_TRUE(run.start());
    ProgressWindow* window = run.progressWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    QObject::connect(window, &ProgressWindow::phaseShown, window, [&](int phase) {
        phases.push_back(phase);
        captions.push_back(window->findChild<QGroupBox*>("phaseFrame")->title());
        lines.push_back(window->findChild<QLabel*>("singleLine")->text());
    });
    QSignalSpy finished(&run, &WindowRun::finished);
    ASSERT_TRUE(finished.wait(30000));
    EXPECT_EQ(phases, (std::vector<int>{1, 2, 3}));
    ASSERT_EQ(captions.size(), 3u);
    EXPECT_EQ(captions[0], ui(363) + ": " + ui(364));
    EXPECT_EQ(captions[1], ui(363) + ": " + ui(366));
    EXPECT_EQ(captions[2], ui(363) + ": " + ui(369));
    EXPECT_EQ(lines[0], ui(365) + "...");
    EXPECT_EQ(lines[2], ui(370));
    EXPECT_EQ(batch.flags.runActive.load(), 0);
}

/// A batch of `count` copies of one image, with the progress window waited into phase 2.
struct BusyRun {
    explicit BusyRun(int count) {
        for (int i = 0; i < count; ++i)
            batch.add("jpeg/cat.jpg", "img" + std::to_string(100 + i) + ".jpg");
        batch.preset.keepUnprocessedImages = 1;
    }
    bool startAndWaitForProcessing(WindowRun& run) {
        run.setMinimumPhaseDurations(false);
        if (!run.start()) return false;
        if (!QTest::qWaitFor([this] { return batch.flags.currentImageId.load() != 0; }, 30000))
            return false;
        return run.progressWindow() != nullptr;
    }
    WindowBatch batch;
};

TEST(WindowRun, PauseHoldsTheRunAndCancelKeepsWhatIsDone) {
    BusyRun busy(60);
    auto& batch = busy.batch;
    WindowRun run(batch.environment(), nullptr);
    QSignalSpy finished(&run, &WindowRun::finished);
    ASSERT_TRUE(busy.startAndWaitForProcessing(run));
    ProgressWindow* window = run.progressWindow();
    auto* pause = window->findChild<QPushButton*>("pauseButton");
    auto* cancel = window->findChild<QPushButton*>("cancelButton");

    QTest::mouseClick(pause, Qt::LeftButton);
    EXPECT_EQ(batch.flags.runPaused.load(), 1);
    EXPECT_EQ(pause->text(), ui(372));
    // The image in progress ends; then the counter holds.
    int held = batch.flags.progressCounter.load();
    for (int i = 0; i < 30; ++i) {
        QTest::qWait(300);
        if (batch.flags.progressCounter.load() == held) break;
        held = batch.flags.progressCounter.load();
    }
    QTest::qWait(500);
    EXPECT_EQ(batch.flags.progressCounter.load(), held);
    EXPECT_TRUE(window->windowTitle().contains("% " + ui(362) + " - Quillmere"))
        << window->windowTitle().toStdString();

    batch.questions.answer = Answer::Yes;
    QTest::mouseClick(cancel, Qt::LeftButton);
    ASSERT_EQ(batch.questions.boxes.size(), 1u);
    EXPECT_EQ(batch.questions.boxes[0].title, ui(416));
    EXPECT_EQ(batch.questions.boxes[0].text, ui(425));
    EXPECT_EQ(batch.flags.runCancelled.load(), 1);
    EXPECT_EQ(batch.flags.runPaused.load(), 0);
    EXPECT_FALSE(pause->isEnabled());
    EXPECT_FALSE(cancel->isEnabled());
    ASSERT_TRUE(finished.wait(30000));
    EXPECT_FALSE(finished.first().first().toBool());

    // What was done is written; everything else is back in the list (keepUnprocessedImages).
    const auto written = filesIn(batch.out());
    EXPECT_GT(written.size(), 0u);
    EXPECT_LT(written.size(), 60u);
    EXPECT_EQ(written.size() + batch.images.size(), 60u);
    for (const auto& name : batch.listedNames())
        EXPECT_FALSE(fs::exists(batch.out(fs::path(name).stem().string() + ".png"))) << name;
}

TEST(WindowRun, ClosingTheProgressWindowEndsTheProgramAfterTheCurrentImage) {
    struct Case {
        const char* name;
        bool escape; ///< Escape instead of the close button
        Answer answer;
    };
    for (const Case& c :
         {Case{"close, yes", false, Answer::Yes}, Case{"escape, yes", true, Answer::Yes},
          Case{"close, no", false, Answer::No}}) {
        SCOPED_TRACE(c.name);
        BusyRun busy(c.answer == Answer::Yes ? 40 : 8);
        auto& batch = busy.batch;
        WindowRun run(batch.environment(), nullptr);
        QSignalSpy finished(&run, &WindowRun::finished);
        ASSERT_TRUE(busy.startAndWaitForProcessing(run));
        batch.questions.answer = c.answer;
        ProgressWindow* window = run.progressWindow();
        if (c.escape)
            QTest::keyClick(window, Qt::Key_Escape);
        else
            window->close();
        ASSERT_EQ(batch.questions.boxes.size(), 1u);
        EXPECT_EQ(batch.questions.boxes[0].text, ui(426));
        const bool quit = c.answer == Answer::Yes;
        EXPECT_EQ(batch.flags.quitRequested.load(), quit ? 1 : 0);
        EXPECT_EQ(window->isVisible(), !quit || finished.isEmpty());
        ASSERT_TRUE(finished.wait(30000));
        EXPECT_EQ(finished.first().first().toBool(), quit);
        // Every output is complete under its name; no temporary file is left behind.
        const auto written = filesIn(batch.out());
        for (const auto& name : written) {
            EXPECT_NE(name.front(), '.') << name;
            const auto bytes = readBytes(batch.out(name));
            ASSERT_GT(bytes.size(), 8u);
            EXPECT_EQ(bytes[1], 'P'); // PNG signature
        }
        if (quit)
            EXPECT_LT(written.size(), 40u);
        else
            EXPECT_EQ(written.size(), 8u);
    }
}

TEST(WindowRun, EachKeepOptionRefillsTheList) {
    struct Case {
        const char* name;
        std::uint8_t settings::Preset::*option;
        std::set<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"none", nullptr, {}},
        {"filtered", &settings::Preset::keepFilteredImages, {"skip.jpg"}},
        {"processed sources",
         &settings::Preset::keepProcessedSources,
         {"a.jpg", "b.jpg", "bad.jpg"}},
        {"failed sources", &settings::Preset::keepFailedSources, {"bad.jpg"}},
        {"outputs", &settings::Preset::loadOutputImages, {"a.png", "b.png"}},
        {"unprocessed", &settings::Preset::keepUnprocessedImages, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WindowBatch batch;
        batch.add("jpeg/hopper.jpg", "a.jpg");
        batch.add("jpeg/cat.jpg", "b.jpg");
        batch.addBytes(std::vector<std::uint8_t>(200, 0x41), "bad.jpg");
        batch.add("jpeg/hopper.jpg", "skip.jpg");
        batch.preset.filterEnabled = 1;
        batch.preset.filterConditions = {nameIs("skip")};
        for (auto option :
             {&settings::Preset::keepFilteredImages, &settings::Preset::keepProcessedSources,
              &settings::Preset::keepFailedSources, &settings::Preset::loadOutputImages,
              &settings::Preset::keepUnprocessedImages})
            batch.preset.*option = option == c.option ? 1 : 0;
        WindowRun run(batch.environment(), nullptr);
        run.setMinimumPhaseDurations(false);
        bool resultShown = false;
        ASSERT_TRUE(batch.runToEnd(run, nullptr, [&](ResultWindow* window) {
            resultShown = true;
            window->accept();
        }));
        EXPECT_TRUE(resultShown); // bad.jpg failed
        const auto names = batch.listedNames();
        EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), c.expected);
        for (const auto& record : batch.images.records())
            EXPECT_EQ(record.resultState, imagefiles::ImageResult::Pending);
    }
}

TEST(WindowRun, ExitAfterRunQuitsWithoutResultWindowOrKeepList) {
    WindowBatch batch;
    batch.add("jpeg/hopper.jpg", "a.jpg");
    batch.addBytes(std::vector<std::uint8_t>(200, 0x41), "bad.jpg");
    batch.preset.exitAfterRun = 1;
    batch.preset.keepFailedSources = 1;
    WindowRun run(batch.environment(), nullptr);
    run.setMinimumPhaseDurations(false);
    bool resultShown = false;
    bool quit = false;
    ASSERT_TRUE(batch.runToEnd(run, &quit, [&](ResultWindow*) { resultShown = true; }));
    EXPECT_TRUE(quit);
    EXPECT_FALSE(resultShown);
    EXPECT_TRUE(fs::exists(batch.out("a.png")));
}

/// Runs the batch and hands the open result window to `check`.
void withResultWindow(WindowBatch& batch, const std::function<void(ResultWindow&)>& check) {
    WindowRun run(batch.environment(), nullptr);
    run.setMinimumPhaseDurations(false);
    bool shown = false;
    ASSERT_TRUE(batch.runToEnd(run, nullptr, [&](ResultWindow* window) {
        shown = true;
        check(*window);
        window->accept();
    }));
    EXPECT_TRUE(shown);
}

TEST(ResultWindow, ListsAFailingFileWithItsReasonAndHelp) {
    struct Case {
        const char* name;
        std::size_t size; ///< bytes of "A": not an image
        int title;        ///< UI text of the failure kind
        bool outputNamed; ///< the output path was computed before the failure
    };
    const Case cases[] = {
        {"tiny file", 20, 390, false},
        {"not an image", 200, 396, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WindowBatch batch;
        batch.add("jpeg/hopper.jpg", "a.jpg");
        batch.addBytes(std::vector<std::uint8_t>(c.size, 0x41), "bad.jpg");
        withResultWindow(batch, [&](ResultWindow& window) {
            ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
            EXPECT_EQ(window.windowTitle(), ui(384));
            QTreeWidget* list = window.list();
            ASSERT_EQ(list->topLevelItemCount(), 1);
            QTreeWidgetItem* row = list->topLevelItem(0);
            EXPECT_EQ(row->text(0).toStdString(), batch.in("bad.jpg"));
            EXPECT_EQ(row->text(1).toStdString(), c.outputNamed ? batch.out("bad.png") : "");
            EXPECT_EQ(row->text(2), ui(c.title));

            std::vector<batch::ui::ResultHelp> helps;
            window.setShowHelp([&](const batch::ui::ResultHelp& help) { helps.push_back(help); });
            QTest::mouseClick(window.findChild<QPushButton*>("helpButton"), Qt::LeftButton);
            ASSERT_EQ(helps.size(), 1u);
            EXPECT_EQ(helps[0].text, ui(c.title) + "\r\n" + ui(c.title + 1) + "\r\n");

            // A double click on the row shows the source; one on empty space does nothing.
            std::vector<std::string> shownFiles;
            window.setShowFile([&](const std::string& path) { shownFiles.push_back(path); });
            const QRect cell = list->visualItemRect(row);
            const auto doubleClick = [&](QPoint at) {
                // A view takes a double click only on the item the press went to.
                QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
                QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
            };
            doubleClick(cell.center());
            doubleClick(QPoint(cell.center().x(), list->viewport()->height() - 2));
            EXPECT_EQ(shownFiles, std::vector<std::string>{batch.in("bad.jpg")});
        });
    }
}

TEST(ResultWindow, ListsEveryImageOfAnOutputFolderThatCannotBeWritten) {
    // A read-only folder stops only users without the right to override it; a folder path that
    // runs through a file stops everyone.
    for (const bool readOnly : {true, false}) {
        SCOPED_TRACE(readOnly ? "read-only folder" : "folder through a file");
        WindowBatch batch;
        batch.add("jpeg/hopper.jpg", "a.jpg");
        batch.add("jpeg/cat.jpg", "b.jpg");
        if (readOnly) {
            fs::permissions(batch.out(), fs::perms::owner_read | fs::perms::owner_exec);
            if (std::FILE* probe = std::fopen(batch.out("probe").c_str(), "w")) {
                std::fclose(probe);
                fs::permissions(batch.out(), fs::perms::owner_all);
                continue; // permissions are not enforced for this user
            }
        } else {
            writeText(batch.dir.file("blocker"), "a file, not a folder");
            batch.preset.outputDirPattern = batch.dir.file("blocker/out/");
        }
        withResultWindow(batch, [&](ResultWindow& window) {
            ASSERT_EQ(window.list()->topLevelItemCount(), 2);
            for (int i = 0; i < 2; ++i)
                EXPECT_EQ(window.list()->topLevelItem(i)->text(2), ui(402));
            EXPECT_EQ(batch::ui::resultHelp(window.failureKinds()).text,
                      ui(402) + "\r\n" + ui(403) + "\r\n");
        });
        fs::permissions(batch.out(), fs::perms::owner_all);
        EXPECT_TRUE(filesIn(batch.out()).empty());
    }
}

TEST(WindowRun, OverwriteQuestionIsAskedOnTheGuiThreadWhileTheWorkerWaits) {
    struct Case {
        Answer answer;
        bool resultWindow; ///< the skipped image is reported
    };
    for (const Case& c : {Case{Answer::No, true}, Case{Answer::Yes, false}}) {
        SCOPED_TRACE(c.answer == Answer::Yes ? "replace" : "skip");
        WindowBatch batch;
        batch.add("jpeg/hopper.jpg", "a.jpg");
        writeText(batch.out("a.png"), "an older output");
        batch.questions.answer = c.answer;
        bool onGuiThread = false;
        int questionOpen = 0;
        batch.questions.onAsk = [&] {
            onGuiThread = QThread::currentThread() == qApp->thread();
            questionOpen = batch.flags.questionOpen.load();
        };
        WindowRun run(batch.environment(), nullptr);
        run.setMinimumPhaseDurations(false);
        std::vector<QString> failures;
        ASSERT_TRUE(batch.runToEnd(run, nullptr, [&](ResultWindow* window) {
            for (int i = 0; i < window->list()->topLevelItemCount(); ++i)
                failures.push_back(window->list()->topLevelItem(i)->text(2));
            window->accept();
        }));
        ASSERT_EQ(batch.questions.boxes.size(), 1u);
        EXPECT_EQ(batch.questions.boxes[0].title, ui(416));
        EXPECT_EQ(batch.questions.boxes[0].text.toStdString(),
                  ui(392).toStdString() + ":\r\n" + batch.out("a.png"));
        EXPECT_TRUE(onGuiThread);
        EXPECT_GE(questionOpen, 1);
        EXPECT_EQ(batch.flags.questionOpen.load(), 0);
        EXPECT_EQ(failures,
                  c.resultWindow ? std::vector<QString>{ui(392)} : std::vector<QString>{});
        const auto bytes = readBytes(batch.out("a.png"));
        EXPECT_EQ(bytes.size() > 8 && bytes[1] == 'P', c.answer == Answer::Yes);
    }
}

TEST(WindowRun, AQuestionStillOpenWhenTheRunEndsIsAnsweredFirst) {
    WindowBatch batch;
    batch.add("jpeg/hopper.jpg", "a.jpg");
    WindowRun run(batch.environment(), nullptr);
    QSignalSpy finished(&run, &WindowRun::finished);
    ASSERT_TRUE(run.start());
    ProgressWindow* window = run.progressWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->shownPhase() == 3; }, 30000));
    // The box stays open (its own event loop runs) until the run is over.
    batch.questions.onAsk = [&] {
        EXPECT_TRUE(QTest::qWaitFor([&] { return batch.flags.runActive.load() == 0; }, 30000));
        QTest::qWait(200);
        EXPECT_TRUE(finished.isEmpty());
    };
    QTest::mouseClick(window->findChild<QPushButton*>("cancelButton"), Qt::LeftButton);
    ASSERT_TRUE(!finished.isEmpty() || finished.wait(30000));
    EXPECT_FALSE(finished.first().first().toBool());
    EXPECT_TRUE(fs::exists(batch.out("a.png")));
}

} // namespace
} // namespace quill::test
