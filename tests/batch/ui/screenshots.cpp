// Saves pictures of the run's windows for a person to look at: the progress window (paused),
// the result window and the text dialog. Run it on a real display or under xvfb-run:
//   xvfb-run -a build/asan/tests/batch/ui/batch_ui_screenshots <folder> [language code]
#include "batch/ui/progress_window.h"
#include "batch/ui/result_window.h"
#include "batch/ui/ui_texts.h"
#include "batch/ui/window_run.h"
#include "batch/ui/window_test_support.h"
#include "settings/language_pack.h"
#include "toolkit/qt/text_dialog.h"

#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <cstdio>
#include <filesystem>
#include <memory>

namespace {

bool save(QWidget* widget, const QString& path) {
    QTest::qWait(300); // let the window settle and paint
    const bool ok = widget->grab().save(path);
    std::printf("%s %s (%dx%d)\n", ok ? "saved" : "FAILED", qPrintable(path), widget->width(),
                widget->height());
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <folder for the pictures> [language code]\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    std::filesystem::create_directories(argv[1]);
    (void)quill::settings::loadProgramInfo();
    (void)quill::settings::loadUiTexts(argc > 2 ? quill::settings::languageIndexForCode(argv[2])
                                                : quill::settings::kEnglishLanguage);

    using namespace quill;
    test::WindowBatch batch;
    // A deep folder and a long name show how the lines shorten.
    const std::string deep = "holiday pictures 2026/second week/Lake & mountains/";
    std::filesystem::create_directories(batch.in(deep));
    batch.addBytes(std::vector<std::uint8_t>(20, 0x41), "broken.jpg");
    batch.addBytes(std::vector<std::uint8_t>(200, 0x41), "not really a picture.jpg");
    for (int i = 0; i < 60; ++i)
        batch.add("jpeg/cat.jpg", deep + "A rather long file name of a cat picture " +
                                      std::to_string(100 + i) + ".jpg");
    batch.questions.answer = toolkit::qt::Answer::Yes;

    int failures = 0;
    batch::ui::WindowRun run(batch.environment(), nullptr);
    QObject::connect(&run, &batch::ui::WindowRun::resultWindowOpened, &run,
                     [&](batch::ui::ResultWindow* window) {
                         if (!save(window, folder + "/result_window.png")) ++failures;
                         const auto help = batch::ui::resultHelp(window->failureKinds());
                         std::unique_ptr<QDialog> dialog(toolkit::qt::createTextDialog(
                             window, batch::ui::uiQ(389), help.text, help.layout));
                         dialog->show();
                         if (!save(dialog.get(), folder + "/text_dialog.png")) ++failures;
                         dialog.reset();
                         window->accept();
                     });
    QSignalSpy finished(&run, &batch::ui::WindowRun::finished);
    if (!run.start()) return 1;
    if (!QTest::qWaitFor([&] { return batch.flags.currentImageId.load() > 3; }, 30000)) return 1;
    auto* progress = run.progressWindow();
    QTest::mouseClick(progress->findChild<QPushButton*>("pauseButton"), Qt::LeftButton);
    QTest::qWait(700);
    if (!save(progress, folder + "/progress_paused.png")) ++failures;
    QTest::mouseClick(progress->findChild<QPushButton*>("cancelButton"), Qt::LeftButton);
    if (!finished.wait(30000)) return 1;
    return failures == 0 ? 0 : 1;
}
