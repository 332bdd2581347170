// Live-preview latency on 12-megapixel JPEG sources: from a settings edit to the new picture
// (median of 20 edits) and from selecting another image to its picture (median of 10
// selections), measured on the GUI thread as the window sees it.
//   live_preview_latency   (QT_QPA_PLATFORM=offscreen or a display)
#include "app/ui/preview/live_preview.h"
#include "batch/ui/preview_run.h"
#include "imagefiles/format.h"
#include "imagefiles/image_list.h"
#include "imagefiles/image_saver.h"
#include "pipeline/process_loop.h"
#include "settings/language_pack.h"
#include "settings/output_naming.h"
#include "textured_photo.h"
#include "toolkit/qt/questions.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <vector>

namespace {

using quill::app::ui::LivePreview;

/// Milliseconds until the next picture arrives after `trigger`.
double timeToPicture(LivePreview& preview, const std::function<void()>& trigger) {
    QEventLoop loop;
    QElapsedTimer timer;
    auto connection =
        QObject::connect(&preview, &LivePreview::pictureReady, &loop, [&loop] { loop.quit(); });
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    timer.start();
    trigger();
    loop.exec();
    QObject::disconnect(connection);
    return double(timer.nsecsElapsed()) / 1e6;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    (void)quill::settings::loadProgramInfo();
    (void)quill::settings::loadUiTexts(quill::settings::kEnglishLanguage);

    namespace fs = std::filesystem;
    const fs::path root =
        fs::temp_directory_path() / ("quill_preview_" + std::to_string(::getpid()));
    fs::create_directories(root);
    std::vector<std::string> files;
    for (unsigned i = 0; i < 2; ++i) {
        files.push_back((root / ("photo" + std::to_string(i) + ".jpg")).string());
        if (!quill::imagefiles::saveImageFile(quill::bench::texturedPhoto(i), files.back(),
                                              quill::imagefiles::Encoder::Jpeg, {.quality = 9}, 24))
            return 1;
    }

    LivePreview preview(quill::settings::runContextFromPlatform(1, 0));
    preview.setBackground(Qt::white);
    quill::settings::Preset preset = quill::settings::defaultPreset(0, "Bench");
    preset.resizeEnabled = 1;
    preset.resizeMode = quill::settings::ResizeMode::Pixels;
    preset.resizeWidth = 1600;
    preset.resizeHeight = 1200;
    preset.brightnessEnabled = 1;
    preset.overlayEnabled = 1;
    preset.overlayKind = quill::settings::OverlayKind::Text;
    preset.overlayText = "%FN% %IW% x %IH%";
    preview.setSettings(preset, 4);

    std::vector<double> select;
    for (int i = 0; i < 10; ++i)
        select.push_back(timeToPicture(preview, [&] {
            preview.setSelection(i + 1, files[std::size_t(i % 2)],
                                 quill::imagefiles::FormatKind::Jpeg);
        }));
    std::vector<double> edit;
    for (int i = 0; i < 20; ++i)
        edit.push_back(timeToPicture(preview, [&] {
            preset.brightnessLevel = std::int16_t(80 + i);
            preview.setSettings(preset, 5);
        }));
    std::printf("selection -> picture: median %.1f ms, max %.1f ms (12 MP JPEG, 10 selections)\n",
                median(select), *std::max_element(select.begin(), select.end()));
    std::printf("edit -> picture:      median %.1f ms, max %.1f ms (20 edits)\n", median(edit),
                *std::max_element(edit.begin(), edit.end()));

    // Preview run of one image with resizing against the loop's own work on the same image (what
    // a console run spends on it, without its printing and closing pause).
    struct Opener final : quill::batch::ui::DesktopOpener {
        bool open(const std::string&) override { return true; }
        bool openFolder(const std::string&) override { return true; }
    } opener;
    struct Yes final : quill::toolkit::qt::Questions {
        quill::toolkit::qt::Answer ask(QWidget*, quill::toolkit::qt::BoxKind, const QString&,
                                       const QString&) override {
            return quill::toolkit::qt::Answer::Yes;
        }
    } yes;
    quill::settings::Preset runPreset = quill::settings::defaultPreset(0, "Bench");
    runPreset.resizeEnabled = 1;
    runPreset.resizeMode = quill::settings::ResizeMode::Pixels;
    runPreset.resizeOption = 1;
    runPreset.resizeWidth = 1600;
    runPreset.resizeHeight = 1200;
    std::vector<double> previewRuns;
    std::vector<double> loopRuns;
    for (int i = 0; i < 5; ++i) {
        quill::imagefiles::ImageList images;
        (void)quill::imagefiles::addImageRecord(files[0], images, {});
        quill::pipeline::RunFlags flags;
        bool used = false;
        quill::batch::ui::PreviewRun run({images, runPreset, flags, yes, opener,
                                          (root / "preview").string() + "/", used, "bench"},
                                         nullptr);
        QEventLoop loop;
        QObject::connect(&run, &quill::batch::ui::PreviewRun::finished, &loop, &QEventLoop::quit);
        QElapsedTimer timer;
        timer.start();
        if (!run.start(images[0].recordId)) return 1;
        loop.exec();
        previewRuns.push_back(double(timer.nsecsElapsed()) / 1e6);

        quill::settings::Preset direct = runPreset;
        direct.outputDirEnabled = 1;
        direct.outputDirPattern = (root / "direct").string() + "/";
        direct.exitAfterRun = 1;
        quill::imagefiles::ImageList list;
        (void)quill::imagefiles::addImageRecord(files[0], list, {});
        quill::imagefiles::ImageList keep;
        quill::pipeline::RunFlags loopFlags;
        loopFlags.runActive = 1;
        quill::settings::FixedCollisionPolicy replace(quill::settings::CollisionAnswer::ReplaceAll);
        struct NeverStop final : quill::pipeline::DiskFullQuestion {
            bool askStopAfterDiskFull(const std::string&) override { return false; }
        } diskFull;
        timer.restart();
        const auto settingsRun = quill::settings::deriveRunSettings(
            direct, quill::settings::runContextFromPlatform(1, 0));
        quill::pipeline::ProcessEnvironment env{list,    keep,     direct,  settingsRun, loopFlags,
                                                replace, diskFull, "bench", false};
        quill::pipeline::processImages(env);
        loopRuns.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::printf(
        "preview run:          median %.1f ms; the loop alone on the image: median %.1f ms\n",
        median(previewRuns), median(loopRuns));
    fs::remove_all(root);
    return 0;
}
