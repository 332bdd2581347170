// The window run against the real widgets: the boxes before a run, the progress window with its
// phases, pause and cancel, the questions during a run, the keep options, and the result window
// or the summary afterwards.
#include "batch/ui/desktop_opener.h"
#include "batch/ui/progress_window.h"
#include "batch/ui/result_window.h"
#include "batch/ui/summary_window.h"
#include "batch/ui/ui_texts.h"
#include "batch/ui/window_run.h"
#include "imagefiles/image_list.h"
#include "settings/filter_conditions.h"
#include "settings/language_pack.h"
#include "test_support.h"
#include "toolkit/qt/questions.h"
#include "toolkit/qt/text_dialog.h"

#include <QApplication>
#include <QClipboard>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>

namespace quill::test {
namespace {

namespace fs = std::filesystem;
using batch::ui::ProgressWindow;
using batch::ui::ResultWindow;
using batch::ui::SummaryWindow;
using batch::ui::WindowRun;
using pipeline::RunPhase;
namespace text = settings::text;
using toolkit::qt::Answer;
using toolkit::qt::BoxKind;

/// Answers every box with a fixed answer and records what was shown.
class ScriptedQuestions final : public toolkit::qt::Questions {
public:
    struct Box {
        BoxKind kind;
        QString text;
    };
    Answer ask(QWidget*, BoxKind kind, const QString&, const QString& text) override {
        boxes.push_back({kind, text});
        if (onAsk) onAsk();
        return toolkit::qt::isQuestion(kind) ? answer : Answer::Ok;
    }
    std::vector<Box> boxes;
    Answer answer = Answer::Yes;
    std::function<void()> onAsk;
};

/// Takes the place of the desktop's file manager.
struct RecordingOpener final : batch::ui::DesktopOpener {
    bool open(const std::string& path) override {
        files.push_back(path);
        return true;
    }
    bool openFolder(const std::string& folder) override {
        folders.push_back(folder);
        return true;
    }
    std::vector<std::string> files;
    std::vector<std::string> folders;
};

/// Images copied into in/, a preset writing PNG files into out/, flags and questions.
struct WindowBatch {
    WindowBatch() : preset(settings::defaultPreset(0, "Test")) {
        fs::create_directories(in());
        fs::create_directories(out());
        preset.outputDirPattern = out();
        preset.outputFormat = settings::OutputFormat::Png;
    }
    [[nodiscard]] std::string in(const std::string& name = {}) const {
        return dir.file("in/" + name);
    }
    [[nodiscard]] std::string out(const std::string& name = {}) const {
        return dir.file("out/" + name);
    }
    /// Writes `bytes` into in/`as` and lists it (videos included).
    void addBytes(const std::vector<std::uint8_t>& bytes, const std::string& as) {
        writeBytes(in(as), bytes);
        (void)imagefiles::addImageRecord(
            in(as), images, {.includeHiddenFiles = true, .videos = imagefiles::Videos::Included});
    }
    /// Copies a sample of tests/data/thirdparty into in/ under `as` and lists it.
    void add(const std::string& sample, const std::string& as) {
        addBytes(readBytes(testdata(sample)), as);
    }
    batch::ui::WindowRunEnvironment environment() {
        return {.images = images,
                .settings = preset,
                .flags = flags,
                .questions = questions,
                .standardTitle = "Quillmere",
                .pdfCreator = "Quillmere 4.6",
                .opener = &opener};
    }
    /// Starts a run without minimum phase durations and waits until it finished; false when it
    /// did not start or end in time. A result window or summary is closed at once unless
    /// `onResult` or `onSummary` handles it.
    bool runToEnd(WindowRun& run, bool* quitProgram = nullptr,
                  const std::function<void(ResultWindow*)>& onResult = {},
                  const std::function<void(SummaryWindow*)>& onSummary = {}) {
        QSignalSpy finished(&run, &WindowRun::finished);
        QObject::connect(&run, &WindowRun::resultWindowOpened, &run, [&](ResultWindow* window) {
            if (onResult)
                onResult(window);
            else
                QTimer::singleShot(0, window, &QDialog::accept);
        });
        QObject::connect(&run, &WindowRun::summaryWindowOpened, &run, [&](SummaryWindow* window) {
            if (onSummary)
                onSummary(window);
            else
                QTimer::singleShot(0, window, &QDialog::accept);
        });
        run.setMinimumPhaseDurations(false);
        if (!run.start()) return false;
        if (finished.isEmpty() && !finished.wait(60000)) return false;
        if (quitProgram) *quitProgram = finished.first().first().toBool();
        return true;
    }
    /// The file names of the list.
    [[nodiscard]] std::set<std::string> listedNames() const {
        std::set<std::string> names;
        for (const auto& record : images.records())
            names.insert(fs::path(record.sourcePath).filename().string());
        return names;
    }

    TempDir dir;
    imagefiles::ImageList images;
    settings::Preset preset;
    pipeline::RunFlags flags;
    ScriptedQuestions questions;
    RecordingOpener opener;
};

/// Closes every summary of `run` as soon as it opens.
void closeSummaries(WindowRun& run) {
    QObject::connect(&run, &WindowRun::summaryWindowOpened, &run, [](SummaryWindow* window) {
        QTimer::singleShot(0, window, &QDialog::accept);
    });
}

QString ui(int index) {
    return QString::fromStdString(settings::uiText(index));
}

std::set<std::string> filesIn(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

TEST(WindowPreRunChecks, EachKindOfRefusalShowsItsBoxAndStopsTheRun) {
    struct Case {
        const char* name;
        std::function<void(WindowBatch&)> setup;
        BoxKind kind;
        int text; ///< the UI text the box's text starts with; 0: refused without a box
    };
    const std::vector<Case> cases = {
        {"empty list", [](WindowBatch& b) { b.images.clear(); }, BoxKind::Information, 436},
        {"loader active", [](WindowBatch& b) { b.flags.loadingPaths.store(1); }, {}, 0},
        {"contradictory",
         [](WindowBatch& b) {
             b.preset.cropEnabled = 1;
             b.preset.cropMode = settings::CropMode::Margins;
             b.preset.cropLeft = b.preset.cropRight = b.preset.cropTop = b.preset.cropBottom = 0;
         },
         BoxKind::Warning, 433},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WindowBatch batch;
        batch.add("jpeg/hopper.jpg", "a.jpg");
        c.setup(batch);
        const std::size_t listed = batch.images.size();
        WindowRun run(batch.environment(), nullptr);
        EXPECT_FALSE(run.start());
        ASSERT_EQ(batch.questions.boxes.size(), c.text ? 1u : 0u);
        EXPECT_EQ(batch.images.size(), listed);
        EXPECT_EQ(batch.flags.runActive.load(), 0);
        if (!c.text) continue;
        const auto& box = batch.questions.boxes.front();
        EXPECT_EQ(box.kind, c.kind);
        EXPECT_TRUE(box.text.startsWith(ui(c.text))) << box.text.toStdString();
        EXPECT_FALSE(box.text.endsWith(": ")) << "the problem list is missing";
    }
}

TEST(WindowPreRunChecks, EnterInTheBoxesThatReplaceOrRemoveSourcesStopsTheRun) {
    struct Case {
        const char* name;
        std::function<void(settings::Preset&)> setup;
        int text;
    };
    const Case cases[] = {
        {"replacing", [](settings::Preset& p) { p.outputDirEnabled = 0; }, 421},
        {"moving", [](settings::Preset& p) { p.moveOriginal = 1; }, 422},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WindowBatch batch;
        batch.add("jpeg/hopper.jpg", "a.jpg");
        c.setup(batch.preset);
        // A user who trusts the default button presses Enter.
        QString shown;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            QWidget* box = QApplication::activeModalWidget();
            if (!box || !box->isVisible()) return;
            shown = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))->text();
            poll.stop();
            QTest::keyClick(box, Qt::Key_Return);
        });
        poll.start(10);
        settings::RunSettings run;
        EXPECT_FALSE(batch::ui::preRunChecksWindow(batch.images, batch.preset, false, run,
                                                   toolkit::qt::dialogQuestions(), nullptr));
        EXPECT_EQ(shown, ui(c.text));
        EXPECT_EQ(batch.flags.runActive.load(), 0);
    }
}

TEST(WindowRun, PhasesInOrderAndPauseCancelOrCloseKeepOnlyCompleteOutputs) {
    enum class Stop { None, CancelButton, CloseButton, Escape };
    struct Case {
        const char* name;
        Stop stop;
        Answer answer;
        int count; ///< images
    };
    const Case cases[] = {
        {"to the end", Stop::None, Answer::Yes, 4},
        {"pause, cancel", Stop::CancelButton, Answer::Yes, 60},
        {"close, yes", Stop::CloseButton, Answer::Yes, 40},
        {"escape, yes", Stop::Escape, Answer::Yes, 40},
        {"close, no", Stop::CloseButton, Answer::No, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WindowBatch batch;
        for (int i = 0; i < c.count; ++i)
            batch.add("jpeg/cat.jpg", "img" + std::to_string(100 + i) + ".jpg");
        batch.preset.keepUnprocessedImages = 1;
        batch.preset.sortEnabled = 1; // by file size: the preparation phase runs
        batch.preset.sortKey = settings::SortKey::FileSize;
        batch.preset.moveOriginal = 1; // not asked about: warnings are ignored
        auto env = batch.environment();
        env.ignoreWarnings = true;
        WindowRun run(env, nullptr);
        closeSummaries(run);
        QSignalSpy finished(&run, &WindowRun::finished);
        if (c.stop != Stop::None) run.setMinimumPhaseDurations(false);
        ASSERT_TRUE(run.start());
        ProgressWindow* window = run.progressWindow();
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(window->isVisible());
        std::vector<RunPhase> phases;
        auto* pause = window->findChild<QPushButton*>("pauseButton");
        auto* cancel = window->findChild<QPushButton*>("cancelButton");
        bool buttonsWhileFinishing = true;
        QObject::connect(window, &ProgressWindow::phaseShown, window, [&](RunPhase phase) {
            phases.push_back(phase);
            // Finishing only updates the list: there is nothing left to pause or cancel.
            if (phase == RunPhase::Finishing)
                buttonsWhileFinishing = pause->isEnabled() || cancel->isEnabled();
        });
        const auto working = [&] { return batch.flags.currentImageId.load() != 0; };
        ASSERT_TRUE(c.stop == Stop::None || QTest::qWaitFor(working, 30000));
        auto* frame = window->findChild<QGroupBox*>("phaseFrame");
        if (c.stop == Stop::CancelButton) {
            EXPECT_FALSE(window->windowTitle().contains(ui(text::kPaused)));
            EXPECT_FALSE(frame->title().endsWith(ui(text::kPaused)));
            QTest::mouseClick(pause, Qt::LeftButton);
            EXPECT_EQ(batch.flags.runPaused.load(), 1);
            // The image in progress ends; then the counter holds. A single encode of a loaded
            // machine can keep one count for a while, so the counter must stay for 1.5 s first.
            int held = batch.flags.progressCounter.load();
            for (int i = 0, steady = 0; i < 60 && steady < 5; ++i) {
                QTest::qWait(300);
                const int now = batch.flags.progressCounter.load();
                steady = now == held ? steady + 1 : 0;
                held = now;
            }
            QTest::qWait(1000);
            EXPECT_EQ(batch.flags.progressCounter.load(), held);
            // The title says so, not the "Processing" of a running one.
            EXPECT_TRUE(window->windowTitle().contains(ui(text::kPaused)))
                << window->windowTitle().toStdString();
            EXPECT_TRUE(frame->title().endsWith(ui(text::kPaused)));
            // Going on says "Processing" again.
            QTest::mouseClick(pause, Qt::LeftButton);
            QTest::qWait(300);
            EXPECT_FALSE(window->windowTitle().contains(ui(text::kPaused)));
            EXPECT_TRUE(frame->title().endsWith(ui(text::kProcessing)));
            QTest::mouseClick(pause, Qt::LeftButton);
        }
        batch.questions.answer = c.answer;
        if (c.stop == Stop::CancelButton) QTest::mouseClick(cancel, Qt::LeftButton);
        if (c.stop == Stop::CloseButton) window->close();
        if (c.stop == Stop::Escape) QTest::keyClick(window, Qt::Key_Escape);
        if (c.stop != Stop::None) {
            ASSERT_EQ(batch.questions.boxes.size(), 1u);
            EXPECT_EQ(batch.questions.boxes[0].text, ui(c.stop == Stop::CancelButton ? 425 : 426));
        }
        const bool quit = c.stop >= Stop::CloseButton && c.answer == Answer::Yes;
        EXPECT_EQ(batch.flags.quitRequested.load(), quit ? 1 : 0);
        if (c.stop == Stop::CancelButton) {
            EXPECT_EQ(batch.flags.runCancelled.load(), 1);
            EXPECT_EQ(batch.flags.runPaused.load(), 0);
            EXPECT_FALSE(pause->isEnabled());
            EXPECT_FALSE(cancel->isEnabled());
        }
        ASSERT_TRUE(finished.wait(30000));
        EXPECT_EQ(finished.first().first().toBool(), quit);
        if (c.stop == Stop::None) {
            EXPECT_EQ(phases, (std::vector<RunPhase>{RunPhase::Preparing, RunPhase::Processing,
                                                     RunPhase::Finishing}));
            EXPECT_FALSE(buttonsWhileFinishing);
            EXPECT_TRUE(batch.questions.boxes.empty());
        }

        // Every output is complete under its name; no temporary file is left behind.
        const auto written = filesIn(batch.out());
        for (const auto& name : written) {
            EXPECT_NE(name.front(), '.') << name;
            const auto bytes = readBytes(batch.out(name));
            ASSERT_GT(bytes.size(), 8u);
            EXPECT_EQ(bytes[1], 'P'); // PNG signature
        }
        const bool stopped = c.answer == Answer::Yes && c.stop != Stop::None;
        EXPECT_EQ(written.size() < std::size_t(c.count), stopped) << written.size();
        EXPECT_EQ(written.size() + filesIn(batch.in()).size(), std::size_t(c.count)); // moved
        // Cancelled, what was not done is back in the list (keepUnprocessedImages).
        if (c.stop != Stop::CancelButton) continue;
        EXPECT_GT(written.size(), 0u);
        EXPECT_EQ(filesIn(batch.in()).size(), batch.images.size());
        for (const auto& name : batch.listedNames())
            EXPECT_FALSE(fs::exists(batch.out(fs::path(name).stem().string() + ".png"))) << name;
    }
}

/// Checks the result window of a batch in which bad.jpg (not an image) and tiny.jpg (too short
/// to be read) failed.
void checkResultWindow(const WindowBatch& batch, ResultWindow& window) {
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.windowTitle(), ui(384));
    QTreeWidget* list = window.list();
    ASSERT_EQ(list->topLevelItemCount(), 2);
    const auto expectRow = [&](int row, const std::string& source, const std::string& output,
                               int reason) {
        EXPECT_EQ(list->topLevelItem(row)->text(0).toStdString(), source);
        EXPECT_EQ(list->topLevelItem(row)->text(1).toStdString(), output);
        EXPECT_EQ(list->topLevelItem(row)->text(2), ui(reason));
    };
    // The output path of bad.jpg was computed before its failure.
    expectRow(0, batch.in("bad.jpg"), batch.out("bad.png"), 396);
    expectRow(1, batch.in("tiny.jpg"), "", 390);

    std::vector<batch::ui::ResultHelp> helps;
    window.setShowHelp([&](const batch::ui::ResultHelp& help) { helps.push_back(help); });
    QTest::mouseClick(window.findChild<QPushButton*>("helpButton"), Qt::LeftButton);
    ASSERT_EQ(helps.size(), 1u);
    for (const int reason : {390, 396})
        EXPECT_TRUE(helps[0].text.contains(ui(reason) + "\r\n" + ui(reason + 1) + "\r\n"));

    // A double click on a row shows its source; one on empty space does nothing.
    std::vector<std::string> shownFiles;
    window.setShowFile([&](const std::string& path) { shownFiles.push_back(path); });
    const QRect cell = list->visualItemRect(list->topLevelItem(1));
    const auto doubleClick = [&](QPoint at) {
        // A view takes a double click only on the item the press went to.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    };
    doubleClick(cell.center());
    doubleClick(QPoint(cell.center().x(), list->viewport()->height() - 2));
    EXPECT_EQ(shownFiles, std::vector<std::string>{batch.in("tiny.jpg")});
}

TEST(WindowRun, TheResultWindowListsTheFailuresAndEachKeepOptionRefillsTheList) {
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
         {"a.jpg", "b.jpg", "bad.jpg", "tiny.jpg"}},
        {"failed sources", &settings::Preset::keepFailedSources, {"bad.jpg", "tiny.jpg"}},
        {"outputs", &settings::Preset::loadOutputImages, {"a.png", "b.png"}},
        {"exit after the run: the program ends", &settings::Preset::exitAfterRun, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WindowBatch batch;
        batch.add("jpeg/hopper.jpg", "a.jpg");
        batch.add("jpeg/cat.jpg", "b.jpg");
        batch.addBytes(std::vector<std::uint8_t>(200, 0x41), "bad.jpg");
        batch.add("jpeg/hopper.jpg", "skip.jpg");
        batch.addBytes(std::vector<std::uint8_t>(20, 0x41), "tiny.jpg");
        batch.preset.filterEnabled = 1;
        batch.preset.filterConditions = {
            {settings::kConditionActive, settings::PropertyFileName, 0, "skip", 2}};
        for (auto option :
             {&settings::Preset::keepFilteredImages, &settings::Preset::keepProcessedSources,
              &settings::Preset::keepFailedSources, &settings::Preset::loadOutputImages,
              &settings::Preset::keepUnprocessedImages, &settings::Preset::exitAfterRun})
            batch.preset.*option = option == c.option ? 1 : 0;
        WindowRun run(batch.environment(), nullptr);
        bool resultShown = false;
        bool quit = false;
        ASSERT_TRUE(batch.runToEnd(run, &quit, [&](ResultWindow* window) {
            resultShown = true;
            if (!c.option) checkResultWindow(batch, *window);
            window->accept();
        }));
        const bool exit = c.option == &settings::Preset::exitAfterRun;
        EXPECT_EQ(resultShown, !exit);
        EXPECT_EQ(quit, exit);
        if (exit) continue;
        EXPECT_EQ(batch.listedNames(), c.expected);
        for (const auto& record : batch.images.records())
            EXPECT_EQ(record.resultState, imagefiles::ImageResult::Pending);
    }
}

/// Runs the batch to its end and gives the reasons its result window lists.
std::vector<QString> failureReasons(WindowBatch& batch) {
    WindowRun run(batch.environment(), nullptr);
    std::vector<QString> reasons;
    EXPECT_TRUE(batch.runToEnd(run, nullptr, [&](ResultWindow* window) {
        for (int i = 0; i < window->list()->topLevelItemCount(); ++i)
            reasons.push_back(window->list()->topLevelItem(i)->text(2));
        window->accept();
    }));
    return reasons;
}

TEST(WindowRun, OverwriteQuestionIsAskedOnTheGuiThreadWhileTheWorkerWaits) {
    for (const Answer answer : {Answer::No, Answer::Yes}) {
        SCOPED_TRACE(answer == Answer::Yes ? "replace" : "skip");
        WindowBatch batch;
        batch.add("jpeg/hopper.jpg", "a.jpg");
        writeText(batch.out("a.png"), "an older output");
        batch.questions.answer = answer;
        bool onGuiThread = false;
        int questionOpen = 0;
        batch.questions.onAsk = [&] {
            onGuiThread = QThread::currentThread() == qApp->thread();
            questionOpen = batch.flags.questionOpen.load();
        };
        // A skipped image is reported.
        EXPECT_EQ(failureReasons(batch),
                  answer == Answer::No ? std::vector<QString>{ui(392)} : std::vector<QString>{});
        ASSERT_EQ(batch.questions.boxes.size(), 1u);
        EXPECT_EQ(batch.questions.boxes[0].text.toStdString(),
                  ui(392).toStdString() + ":\r\n" + batch.out("a.png"));
        EXPECT_TRUE(onGuiThread);
        EXPECT_GE(questionOpen, 1);
        EXPECT_EQ(batch.flags.questionOpen.load(), 0);
        const auto bytes = readBytes(batch.out("a.png"));
        EXPECT_EQ(bytes.size() > 8 && bytes[1] == 'P', answer == Answer::Yes);
    }
}

TEST(WindowRun, AQuestionStillOpenWhenTheRunEndsIsAnsweredFirst) {
    WindowBatch batch;
    batch.add("jpeg/hopper.jpg", "a.jpg");
    batch.questions.answer = Answer::No; // the program stays
    WindowRun run(batch.environment(), nullptr);
    closeSummaries(run);
    QSignalSpy finished(&run, &WindowRun::finished);
    ASSERT_TRUE(run.start());
    ProgressWindow* window = run.progressWindow();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return window->shownPhase() == RunPhase::Finishing; }, 30000));
    // The box stays open (its own event loop runs) until the run is over.
    batch.questions.onAsk = [&] {
        EXPECT_TRUE(QTest::qWaitFor([&] { return batch.flags.runActive.load() == 0; }, 30000));
        QTest::qWait(200);
        EXPECT_TRUE(finished.isEmpty());
    };
    window->close();
    ASSERT_EQ(batch.questions.boxes.size(), 1u);
    EXPECT_EQ(batch.questions.boxes[0].text, ui(text::kReallyExit));
    ASSERT_TRUE(!finished.isEmpty() || finished.wait(30000));
    EXPECT_FALSE(finished.first().first().toBool());
    EXPECT_TRUE(fs::exists(batch.out("a.png")));
}

TEST(WindowRun, ARunWithoutFailuresEndsWithASummaryThatOpensTheOutputFolder) {
    struct Case {
        const char* name;
        std::function<void(WindowBatch&)> setup;
        const char* processed;    ///< the number the summary shows
        std::string outputFolder; ///< relative to the batch folder; "": none shown
    };
    const std::vector<Case> cases = {
        {"all written", [](WindowBatch&) {}, "3", "out/"},
        {"outputs beside their sources",
         [](WindowBatch& b) {
             b.preset.outputDirEnabled = 0;
             b.preset.renameEnabled = 1;
             b.preset.renamePattern = "%FN% small";
         },
         "3", "in/"},
        {"everything filtered",
         [](WindowBatch& b) {
             b.preset.filterEnabled = 1;
             b.preset.filterConditions = {
                 {settings::kConditionActive, settings::PropertyExtension, 0, "jpg", 2}};
         },
         "0", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WindowBatch batch;
        for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
            batch.add("jpeg/hopper.jpg", name);
        c.setup(batch);
        auto env = batch.environment();
        env.ignoreWarnings = true;
        QWidget mainWindow;
        mainWindow.show();
        WindowRun run(env, &mainWindow);
        bool summaryShown = false;
        ASSERT_TRUE(batch.runToEnd(run, nullptr, {}, [&](SummaryWindow* window) {
            summaryShown = true;
            ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
            EXPECT_FALSE(mainWindow.isVisible()); // back once the summary is closed
            EXPECT_EQ(window->windowTitle(), ui(text::kFinished));
            auto* count = window->findChild<QLabel*>("processedCount");
            ASSERT_NE(count, nullptr);
            EXPECT_EQ(count->text(), c.processed);
            auto* open = window->findChild<QPushButton*>("openFolderButton");
            auto* folder = window->findChild<QLineEdit*>("outputFolder");
            ASSERT_NE(open, nullptr);
            EXPECT_EQ(open->isVisible(), !c.outputFolder.empty());
            EXPECT_EQ(folder != nullptr, !c.outputFolder.empty());
            if (folder) {
                EXPECT_EQ(folder->text().toStdString(), batch.dir.file(c.outputFolder));
                QTest::mouseClick(open, Qt::LeftButton);
                EXPECT_EQ(batch.opener.folders,
                          std::vector<std::string>{batch.dir.file(c.outputFolder)});
            }
            QTest::keyClick(window, Qt::Key_Escape);
        }));
        EXPECT_TRUE(summaryShown);
        EXPECT_TRUE(mainWindow.isVisible());
        EXPECT_TRUE(batch.opener.files.empty());
    }
}

TEST(ResultWindow, ColumnsShareTheWidthByContentAndTheWholeListCopiesAsText) {
    WindowBatch batch;
    const std::string deep = "holiday pictures 2026/second week/lake and mountains/";
    fs::create_directories(batch.in(deep));
    // A tab in a name would split its line of the copied text.
    const std::vector<std::string> names = {deep + "a rather long file name of a picture.jpg",
                                            deep + "another long name.jpg", deep + "tab\there.jpg"};
    for (const auto& name : names)
        batch.addBytes(std::vector<std::uint8_t>(200, 0x41), name);
    for (auto& record : batch.images.records()) {
        record.resultState = imagefiles::ImageResult::LoadFailed;
        record.resultText = batch.out(deep + fs::path(record.sourcePath).stem().string() + ".png");
    }
    ResultWindow window(batch.images);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTreeWidget* list = window.list();
    ASSERT_EQ(list->topLevelItemCount(), 3);
    QHeaderView* header = list->header();
    const QAbstractItemView* view = list; // QTreeView hides the measure of a column's cells

    // Narrow, the paths share what the short error column leaves; wide, every cell is whole.
    // Either way the columns fill the list without a horizontal scroll bar.
    std::vector<int> pathWidths;
    for (const int width : {420, 700, 2400}) {
        SCOPED_TRACE(width);
        window.resize(width, 300);
        QTest::qWait(50);
        const int columns =
            header->sectionSize(0) + header->sectionSize(1) + header->sectionSize(2);
        EXPECT_EQ(columns, list->viewport()->width());
        EXPECT_GE(header->sectionSize(2), view->sizeHintForColumn(2));
        if (width < 2400) {
            EXPECT_LE(std::abs(header->sectionSize(0) - header->sectionSize(1)), 1); // rounding
        }
        for (int c = 0; c < 2 && width == 2400; ++c)
            EXPECT_GE(header->sectionSize(c), view->sizeHintForColumn(c)) << c;
        pathWidths.push_back(header->sectionSize(0));
    }
    EXPECT_LT(pathWidths[0], pathWidths[1]); // widening the window widens the paths too
    EXPECT_LT(pathWidths[1], pathWidths[2]);

    // The button and Ctrl+C copy the whole list, whatever is selected, titles first.
    QString expected = ui(text::kImage) + "\t" + ui(text::kOutput) + "\t" + ui(text::kError) + "\n";
    for (int row = 0; row < 3; ++row) {
        const std::string& source = batch.images.records()[std::size_t(row)].sourcePath;
        std::string output = batch.images.records()[std::size_t(row)].resultText;
        std::string shownSource = source;
        std::replace(shownSource.begin(), shownSource.end(), '\t', ' ');
        std::replace(output.begin(), output.end(), '\t', ' ');
        expected += QString::fromStdString(shownSource) + "\t" + QString::fromStdString(output) +
                    "\t" + list->topLevelItem(row)->text(2) + "\n";
    }
    QClipboard* clipboard = QApplication::clipboard();
    clipboard->clear();
    QTest::mouseClick(window.findChild<QPushButton*>("copyButton"), Qt::LeftButton);
    EXPECT_EQ(clipboard->text(), expected);
    clipboard->clear();
    list->setCurrentItem(list->topLevelItem(1));
    list->setFocus();
    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard->text(), expected);
}

// Pictures of the progress window (paused), the result window and its help text, and the summary,
// in English and German, for a person to look at; tools/screenshots.sh runs it with a picture
// folder under a real X server. A picture has no title bar, so the paused title is printed.
TEST(WindowRunPictures, Screenshots) {
    const QString folder = qEnvironmentVariable("QUILL_SCREENSHOT_DIR");
    if (folder.isEmpty()) GTEST_SKIP() << "no picture folder";
    const int before = settings::currentLanguage();
    for (const char* code : {"en", "de"}) {
        SCOPED_TRACE(code);
        ASSERT_TRUE(settings::loadUiTexts(settings::languageIndexForCode(code)));
        const auto save = [&](QWidget* widget, const char* name) {
            QTest::qWait(300); // let the window settle and paint
            const QString file = folder + "/" + name + "_" + code + ".png";
            EXPECT_TRUE(widget->grab().save(file)) << file.toStdString();
        };
        WindowBatch batch;
        // A deep folder and long names show how the lines shorten; two broken files fail.
        const std::string deep = "holiday pictures 2026/second week/Lake & mountains/";
        fs::create_directories(batch.in(deep));
        batch.addBytes(std::vector<std::uint8_t>(20, 0x41), "broken.jpg");
        batch.addBytes(std::vector<std::uint8_t>(200, 0x41), "not really a picture.jpg");
        for (int i = 0; i < 60; ++i)
            batch.add("jpeg/cat.jpg", deep + "A rather long file name of a cat picture " +
                                          std::to_string(100 + i) + ".jpg");
        WindowRun run(batch.environment(), nullptr);
        QObject::connect(&run, &WindowRun::resultWindowOpened, &run, [&](ResultWindow* window) {
            save(window, "result_window");
            const auto help = batch::ui::resultHelp(window->failureKinds());
            std::unique_ptr<QDialog> dialog(toolkit::qt::createTextDialog(
                window, batch::ui::uiQ(text::kExplanations), help.text, help.layout));
            dialog->show();
            save(dialog.get(), "text_dialog");
            dialog.reset();
            window->accept();
        });
        QSignalSpy finished(&run, &WindowRun::finished);
        ASSERT_TRUE(run.start());
        // Paused once the window has shown an image, so that the picture has a name and a bar.
        ProgressWindow* progress = nullptr;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                progress = run.progressWindow();
                return progress && progress->findChild<QProgressBar*>()->value() > 0;
            },
            30000));
        QTest::mouseClick(progress->findChild<QPushButton*>("pauseButton"), Qt::LeftButton);
        QTest::qWait(700);
        save(progress, "progress_paused");
        std::printf("paused title (%s): %s\n", code, progress->windowTitle().toUtf8().constData());
        QTest::mouseClick(progress->findChild<QPushButton*>("cancelButton"), Qt::LeftButton);
        ASSERT_TRUE(finished.wait(30000));

        // A run without failures into a deep output folder ends with the summary.
        WindowBatch good;
        for (int i = 0; i < 39; ++i)
            good.add("jpeg/hopper.jpg", "picture " + std::to_string(i) + ".jpg");
        good.preset.outputDirPattern = good.out(deep);
        WindowRun goodRun(good.environment(), nullptr);
        ASSERT_TRUE(good.runToEnd(goodRun, nullptr, {}, [&](SummaryWindow* window) {
            save(window, "summary");
            window->accept();
        }));
    }
    ASSERT_TRUE(settings::loadUiTexts(before));
}

} // namespace
} // namespace quill::test
