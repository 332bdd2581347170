// Time from pressing Cancel in the progress window (the question answered Yes at once) to the
// progress window closing, while a window run has eight 12-megapixel JPEGs in flight (QUILL_THREADS
// workers, 8 unless set). Prints min / median / max over the runs in milliseconds.
//   cancel_latency [runs=10]   (QT_QPA_PLATFORM=offscreen or a display)
#include "batch/ui/progress_window.h"
#include "batch/ui/summary_window.h"
#include "batch/ui/window_run.h"
#include "imagefiles/image_list.h"
#include "imagefiles/image_saver.h"
#include "settings/language_pack.h"
#include "settings/preset.h"
#include "textured_photo.h"
#include "toolkit/qt/questions.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <vector>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using quill::toolkit::qt::Answer;
using quill::toolkit::qt::BoxKind;

class YesToEverything final : public quill::toolkit::qt::Questions {
public:
    Answer ask(QWidget*, BoxKind, const QString&, const QString&) override { return Answer::Yes; }
};

/// Notes the moment its window is hidden.
class HideWatch : public QObject {
public:
    explicit HideWatch(QElapsedTimer& clock) : m_clock(clock) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Hide && hiddenAt < 0) hiddenAt = m_clock.nsecsElapsed();
        return QObject::eventFilter(watched, event);
    }
    qint64 hiddenAt = -1;

private:
    QElapsedTimer& m_clock;
};

/// Runs the event loop until `done` or `ms` passed; false on the timeout.
template <typename Done> bool waitFor(Done done, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Eight workers, so that eight images are loaded, edited and encoded at once.
    ::setenv("QUILL_THREADS", "8", 0);
    QApplication app(argc, argv);
    (void)quill::settings::loadProgramInfo();
    (void)quill::settings::loadUiTexts(quill::settings::kEnglishLanguage);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    constexpr int kImages = 24; // more than are ever in flight

    const fs::path root =
        fs::temp_directory_path() / ("quill_cancel_" + std::to_string(::getpid()));
    fs::create_directories(root / "in");
    const std::string first = (root / "in" / "img00.jpg").string();
    if (!quill::imagefiles::saveImageFile(quill::bench::texturedPhoto(1), first,
                                          quill::imagefiles::Encoder::Jpeg,
                                          quill::imagefiles::EncodeOptions{.quality = 9}, 24)) {
        std::fprintf(stderr, "cannot write %s\n", first.c_str());
        return 1;
    }
    quill::imagefiles::ImageList images;
    for (int i = 0; i < kImages; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "img%02d.jpg", i);
        const fs::path file = root / "in" / name;
        if (i > 0) fs::copy_file(first, file);
        (void)quill::imagefiles::addImageRecord(file.string(), images, {});
    }
    quill::settings::Preset preset = quill::settings::defaultPreset(0, "Bench");
    preset.outputDirEnabled = 1;
    preset.outputDirPattern = (root / "out").string() + "/";
    preset.outputFormat = quill::settings::OutputFormat::Jpeg;
    preset.brightnessEnabled = 1; // decoded, edited and encoded: every stage of the work
    preset.brightnessLevel = 110;
    preset.keepUnprocessedImages = 1; // the list stays whole for the next run
    preset.keepProcessedSources = 1;
    quill::pipeline::RunFlags flags;
    YesToEverything questions;

    std::vector<double> times;
    for (int r = 0; r < runs; ++r) {
        fs::remove_all(root / "out");
        fs::create_directories(root / "out");
        quill::batch::ui::WindowRun run(
            {images, preset, flags, questions, true, "Quillmere", "Quillmere"}, nullptr);
        QObject::connect(&run, &quill::batch::ui::WindowRun::summaryWindowOpened, &run,
                         [](quill::batch::ui::SummaryWindow* window) {
                             QTimer::singleShot(0, window, &QDialog::accept);
                         });
        QEventLoop loop;
        QObject::connect(&run, &quill::batch::ui::WindowRun::finished, &loop, &QEventLoop::quit);
        if (!run.start()) return 1;
        auto* window = run.progressWindow();
        QElapsedTimer clock;
        clock.start();
        HideWatch watch(clock);
        window->installEventFilter(&watch);
        // Every worker busy with an image, each at a different stage from run to run.
        if (!waitFor([&] { return flags.currentImageId.load() != 0; }, 60000)) return 1;
        const qint64 wait = clock.elapsed() + 400 + 53 * r;
        (void)waitFor([&] { return clock.elapsed() >= wait; }, 10000);
        const qint64 pressed = clock.nsecsElapsed();
        window->findChild<QPushButton*>("cancelButton")->click();
        loop.exec();
        if (watch.hiddenAt < 0) return 1;
        times.push_back(double(watch.hiddenAt - pressed) / 1e6);
        std::printf("run %d: %.1f ms\n", r + 1, times.back());
        std::fflush(stdout);
    }
    std::sort(times.begin(), times.end());
    const double median = times.size() % 2
                              ? times[times.size() / 2]
                              : (times[times.size() / 2 - 1] + times[times.size() / 2]) / 2;
    std::printf(
        "Cancel to progress window closed, %d runs, QUILL_THREADS=%s: min %.1f  median %.1f  "
        "max %.1f ms\n",
        runs, std::getenv("QUILL_THREADS"), times.front(), median, times.back());
    fs::remove_all(root);
    return 0;
}
