// Helpers of the window-run tests.
#include "batch/ui/window_test_support.h"

#include "batch/ui/result_window.h"

#include <QSignalSpy>
#include <QTimer>

#include <filesystem>

namespace quill::test {

WindowBatch::WindowBatch() : preset(settings::defaultPreset(0, "Test")) {
    std::filesystem::create_directories(in());
    std::filesystem::create_directories(out());
    preset.outputDirEnabled = 1;
    preset.outputDirPattern = out();
    preset.renameEnabled = 0;
    preset.convertFormat = 1;
    preset.outputFormat = settings::OutputFormat::Png;
}

void WindowBatch::add(const std::string& sample, const std::string& as) {
    writeBytes(in(as), readBytes(testdata(sample)));
    (void)imagefiles::addImageRecord(
        in(as), images, {.includeHiddenFiles = true, .videos = imagefiles::Videos::Included});
}

void WindowBatch::addBytes(const std::vector<std::uint8_t>& bytes, const std::string& as) {
    writeBytes(in(as), bytes);
    (void)imagefiles::addImageRecord(
        in(as), images, {.includeHiddenFiles = true, .videos = imagefiles::Videos::Included});
}

batch::ui::WindowRunEnvironment WindowBatch::environment() {
    return {images, preset, flags, questions, false, "Quillmere", "Quillmere 4.6"};
}

bool WindowBatch::runToEnd(batch::ui::WindowRun& run, bool* quitProgram,
                           const std::function<void(batch::ui::ResultWindow*)>& onResult) {
    QSignalSpy finished(&run, &batch::ui::WindowRun::finished);
    QObject::connect(&run, &batch::ui::WindowRun::resultWindowOpened, &run,
                     [&onResult](batch::ui::ResultWindow* window) {
                         if (onResult)
                             onResult(window);
                         else
                             QTimer::singleShot(0, window, &QDialog::accept);
                     });
    if (!run.start()) return false;
    if (finished.isEmpty() && !finished.wait(60000)) return false;
    if (quitProgram) *quitProgram = finished.first().first().toBool();
    return true;
}

std::vector<std::string> WindowBatch::listedNames() const {
    std::vector<std::string> names;
    for (const auto& record : images.records())
        names.push_back(std::filesystem::path(record.sourcePath).filename().string());
    return names;
}

} // namespace quill::test
