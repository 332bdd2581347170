// Longest stall of the window's event loop while files are added and their details scanned.
// Usage: window_stall_bench [file count | FOLDER]   (default 10000 files made in one folder; or
// an existing folder tree, such as the one bench/scale_100k.sh makes; runs on the offscreen
// platform)
#include "app/ui/main_window.h"
#include "settings/language_pack.h"
#include "settings/setting_files.h"
#include "toolkit/platform/platform.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

using namespace quill;

/// Never answers anything but OK; the benchmark asks nothing.
class NoQuestions : public toolkit::qt::Questions {
public:
    toolkit::qt::Answer ask(QWidget*, toolkit::qt::BoxKind, const QString&,
                            const QString&) override {
        return toolkit::qt::Answer::Ok;
    }
};

/// Measures the longest gap between two turns of the event loop: a zero-interval timer fires on
/// every turn, so a gap is the time one GUI-thread operation took.
class StallMeter {
public:
    StallMeter() {
        m_timer.setInterval(0);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            if (m_last >= 0) m_longest = std::max(m_longest, now - m_last);
            m_last = now;
        });
    }
    void start() {
        m_longest = 0;
        m_last = -1;
        m_clock.start();
        m_timer.start();
    }
    double stopMs() {
        m_timer.stop();
        return double(m_longest) / 1e6;
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = -1;
    qint64 m_longest = 0;
};

template <class Done> double runUntil(Done done) {
    QElapsedTimer clock;
    clock.start();
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    return double(clock.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    const std::string argument = argc > 1 ? argv[1] : "10000";
    const bool given = std::filesystem::is_directory(argument);
    int count = given ? 0 : std::atoi(argument.c_str());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (!settings::loadProgramInfo() || !settings::loadUiTexts(settings::kEnglishLanguage))
        return 1;

    const std::string scratch =
        (std::filesystem::temp_directory_path() / "quill_stall_bench").string() + "/";
    std::filesystem::remove_all(scratch);
    std::filesystem::create_directories(scratch);
    const std::string folder = given ? argument : scratch;
    if (!given) {
        QImage picture(64, 48, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        picture.save(QString::fromStdString(folder + "0.png"));
        std::ifstream in(folder + "0.png", std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});
        for (int i = 1; i < count; ++i)
            std::ofstream(folder + std::to_string(i) + ".png", std::ios::binary) << bytes;
    }

    app::AppContext context;
    settings::buildDefaults(context.presetList);
    context.workingSettings = context.presetList.presets[0];
    context.workingSettings.scanImageDetails = 1;
    context.presetsFilePath = scratch + "Presets";
    context.languageFilePath = scratch + "Language";
    imagefiles::ImageList images;
    pipeline::RunFlags flags;
    NoQuestions questions;
    app::ui::MainWindow window(context, images, flags, questions);
    window.show();
    runUntil([&] { return window.isVisible(); });

    // The same measurement with nothing to do: what the machine's load alone costs.
    StallMeter meter;
    meter.start();
    QElapsedTimer idle;
    idle.start();
    runUntil([&] { return idle.elapsed() >= 1000; });
    const double idleStall = meter.stopMs();
    meter.start();
    window.addPaths({folder});
    const double addMs = runUntil([&] { return !window.loader().busy(); });
    const double addStall = meter.stopMs();
    meter.start();
    const double scanMs = runUntil([&] { return !window.scanner().running(); });
    const double scanStall = meter.stopMs();

    std::printf("idle:     %8.1f ms, longest GUI-thread stall %6.1f ms\n", 1000.0, idleStall);
    if (given) count = window.model().rowCount();
    std::printf("files: %d (rows in the view: %d)\n", count, window.model().rowCount());
    std::printf("adding:   %8.1f ms, longest GUI-thread stall %6.1f ms\n", addMs, addStall);
    std::printf("scanning: %8.1f ms, longest GUI-thread stall %6.1f ms\n", scanMs, scanStall);
    std::filesystem::remove_all(scratch);
    return addStall < 100 && scanStall < 100 ? 0 : 2;
}
