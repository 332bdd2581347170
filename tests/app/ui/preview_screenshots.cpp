// Pictures of the presets window, the preview popup with an arrow, the live preview on each
// operation page and the pattern preview window, for a person to look at (not a test).
//   preview_ui_screenshots <output folder>   (under xvfb-run)
#include "app/ui/live_preview.h"
#include "app/ui/pattern_preview_window.h"
#include "app/ui/presets_window.h"
#include "app/ui/preview_popup.h"
#include "imagefiles/format.h"
#include "preview_ui_test_support.h"
#include "settings/language_pack.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QTest>

#include <cstdio>

using namespace quill;

namespace {

void save(QWidget& widget, const QString& folder, const char* name) {
    QApplication::processEvents();
    widget.grab().save(folder + "/" + name);
}

void waitFor(app::ui::LivePreview& preview) {
    for (int i = 0; i < 500 && !preview.current(); ++i)
        QTest::qWait(10);
    QTest::qWait(100);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    (void)settings::loadProgramInfo();
    (void)settings::loadUiTexts(settings::kEnglishLanguage);
    const QString folder = argc > 1 ? argv[1] : ".";
    const std::string photo = QUILL_TESTDATA_DIR "/jpeg/cat.jpg";
    const auto context = settings::runContextFromPlatform(1, 0);

    // Presets window.
    settings::PresetList presets = settings::defaultPresetList();
    settings::Preset working = settings::defaultPreset(0, "w");
    test::ScriptedQuestions questions;
    app::ui::PresetsWindow presetsWindow(
        {presets, working, folder.toStdString() + "/Presets", questions, {}, {}}, 0);
    presetsWindow.show();
    presetsWindow.presetList()->setCurrentRow(1);
    save(presetsWindow, folder, "presets_window.png");
    presetsWindow.hide();

    // Popup with the left arrow showing.
    app::ui::PreviewPopup popup(context);
    popup.setSelection(1, photo, imagefiles::FormatJpeg);
    popup.setImageCount(3);
    popup.show();
    waitFor(popup.preview());
    QTest::mouseMove(&popup, {8, 77});
    QTest::qWait(200);
    save(popup, folder, "preview_popup.png");

    // Live preview on each operation page.
    QWidget pages;
    auto* grid = new QGridLayout(&pages);
    struct Page {
        int page;
        const char* name;
        void (*setup)(settings::Preset&);
    };
    const Page list[] = {
        {0, "file list", [](settings::Preset&) {}},
        {2, "crop",
         [](settings::Preset& p) {
             p.cropEnabled = 1;
             p.cropLeft = p.cropRight = 80;
             p.cropTop = 40;
         }},
        {3, "rotate",
         [](settings::Preset& p) {
             p.rotateEnabled = 1;
             p.rotateMode = 1;
         }},
        {4, "resize",
         [](settings::Preset& p) {
             p.resizeEnabled = 1;
             p.resizeMode = settings::ResizeMode::Pixels;
             p.resizeOption = 1;
             p.resizeWidth = 320;
             p.resizeHeight = 320;
         }},
        {5, "colour",
         [](settings::Preset& p) {
             p.saturationEnabled = 1;
             p.saturationLevel = 0;
         }},
        {6, "canvas",
         [](settings::Preset& p) {
             p.canvasEnabled = 1;
             p.canvasWidth = 700;
             p.canvasHeight = 700;
             p.canvasColor = 0x00204080;
         }},
        {7, "overlay",
         [](settings::Preset& p) {
             p.overlayEnabled = 1;
             p.overlayKind = settings::OverlayKind::Text;
             p.overlayText = "%FN% %IW%x%IH%";
             p.overlayFontName = "Helvetica";
             p.overlayFontSize = 36;
             p.overlayOutline = 1;
         }},
        {5, "out of range",
         [](settings::Preset& p) {
             p.brightnessEnabled = 1;
             p.brightnessLevel = 30000;
         }},
    };
    std::vector<std::unique_ptr<app::ui::LivePreview>> previews;
    int column = 0;
    for (const Page& page : list) {
        settings::Preset p = settings::defaultPreset(0, "w");
        page.setup(p);
        previews.push_back(std::make_unique<app::ui::LivePreview>(context));
        auto& preview = *previews.back();
        preview.setBackground(pages.palette().color(QPalette::ToolTipBase));
        preview.setSettings(p, page.page);
        auto* panel = new app::ui::LivePreviewPanel(preview, &pages);
        grid->addWidget(new QLabel(page.name, &pages), 0, column);
        grid->addWidget(panel, 1, column++);
        preview.setSelection(1, photo, imagefiles::FormatJpeg);
    }
    pages.show();
    for (auto& preview : previews)
        waitFor(*preview);
    save(pages, folder, "live_preview_pages.png");

    // Pattern preview window.
    settings::Preset patterns = settings::defaultPreset(0, "w");
    patterns.overlayEnabled = 1;
    patterns.overlayKind = settings::OverlayKind::Text;
    patterns.overlayText = "%FN% (%IW% x %IH%)\r\nTaken %DD%.%DM%.%DY% %DH%:%DI%";
    patterns.commentEnabled = 1;
    patterns.commentText =
        "Camera file %FN%, %FSK% KiB, brightness %IB%, a rather long comment line";
    patterns.renameEnabled = 1;
    patterns.renamePattern = "(%001%) %FN%";
    patterns.outputDirEnabled = 1;
    patterns.outputDirPattern = "%PF%\\%DY%\\%DM%\\";
    app::ui::PatternPreviewWindow patternWindow(patterns, context.folders);
    patternWindow.show();
    save(patternWindow, folder, "pattern_preview.png");
    std::printf("pictures written to %s\n", qPrintable(folder));
    return 0;
}
