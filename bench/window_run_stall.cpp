// The longest time the GUI thread does not return to its event loop while a window run
// processes a batch: a 5 ms timer notes every gap between its ticks.
//   window_run_stall [images=300]   (QT_QPA_PLATFORM=offscreen or a display)
#include "batch/ui/window_run.h"
#include "imagefiles/image_list.h"
#include "settings/language_pack.h"
#include "settings/preset.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

class YesToEverything final : public quill::toolkit::qt::Questions {
public:
    quill::toolkit::qt::Answer ask(QWidget*, quill::toolkit::qt::BoxKind, const QString&,
                                   const QString&) override {
        return quill::toolkit::qt::Answer::Yes;
    }
};

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    (void)quill::settings::loadProgramInfo();
    (void)quill::settings::loadUiTexts(quill::settings::kEnglishLanguage);
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;

    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("quill_stall_" + std::to_string(::getpid()));
    fs::create_directories(root / "in");
    fs::create_directories(root / "out");
    quill::imagefiles::ImageList images;
    for (int i = 0; i < count; ++i) {
        const fs::path file = root / "in" / ("img" + std::to_string(i) + ".jpg");
        fs::copy_file(QUILL_TESTDATA_DIR "/jpeg/cat.jpg", file);
        (void)quill::imagefiles::addImageRecord(
            file.string(), images,
            {.includeHiddenFiles = true, .videos = quill::imagefiles::Videos::Included});
    }
    quill::settings::Preset preset = quill::settings::defaultPreset(0, "Bench");
    preset.outputDirEnabled = 1;
    preset.outputDirPattern = (root / "out").string() + "/";
    preset.convertFormat = 1;
    preset.outputFormat = quill::settings::OutputFormat::Png;
    preset.sortEnabled = 1; // a preparation phase too
    preset.sortKey = quill::settings::SortKey::FileSize;
    preset.keepFailedSources = 1;
    preset.keepUnprocessedImages = 1;
    quill::pipeline::RunFlags flags;
    YesToEverything questions;

    quill::batch::ui::WindowRun run(
        {images, preset, flags, questions, true, "Quillmere", "Quillmere"}, nullptr);
    QElapsedTimer clock;
    qint64 last = 0, longest = 0, ticks = 0;
    double longestAt = 0;
    int longestPhase = 0;
    QTimer tick;
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (ticks++ > 0 && now - last > longest) {
            longest = now - last;
            longestAt = double(now) / 1e9;
            longestPhase = flags.runPhase.load();
        }
        last = now;
    });
    QEventLoop loop;
    QObject::connect(&run, &quill::batch::ui::WindowRun::finished, &loop, &QEventLoop::quit);
    clock.start();
    tick.start();
    if (!run.start()) return 1;
    loop.exec();
    tick.stop();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    std::printf("images %d  run %.2f s  ticks %lld  longest GUI-thread gap %.1f ms (timer 5 ms) "
                "at %.2f s in phase %d\n",
                count, seconds, static_cast<long long>(ticks), double(longest) / 1e6, longestAt,
                longestPhase);
    fs::remove_all(root);
    return 0;
}
