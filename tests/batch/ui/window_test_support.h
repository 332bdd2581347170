// Helpers of the window-run tests: scripted answers to every box, and a batch set up in a
// temporary folder.
#pragma once

#include "batch/ui/window_run.h"
#include "imagefiles/image_list.h"
#include "settings/preset.h"
#include "test_support.h"
#include "toolkit/qt/questions.h"

#include <QString>

#include <functional>
#include <string>
#include <vector>

namespace quill::test {

/// Answers every box with a fixed answer and records what was shown.
class ScriptedQuestions final : public toolkit::qt::Questions {
public:
    struct Box {
        toolkit::qt::BoxKind kind;
        QString title;
        QString text;
    };
    toolkit::qt::Answer ask(QWidget*, toolkit::qt::BoxKind kind, const QString& title,
                            const QString& text) override {
        boxes.push_back({kind, title, text});
        if (onAsk) onAsk();
        return kind == toolkit::qt::BoxKind::Question ? answer : toolkit::qt::Answer::Ok;
    }
    std::vector<Box> boxes;
    toolkit::qt::Answer answer = toolkit::qt::Answer::Yes;
    std::function<void()> onAsk;
};

/// Images copied into `in/`, a preset writing PNG files into `out/`, flags and questions.
class WindowBatch {
public:
    WindowBatch();
    [[nodiscard]] std::string in(const std::string& name = {}) const {
        return dir.file("in/" + name);
    }
    [[nodiscard]] std::string out(const std::string& name = {}) const {
        return dir.file("out/" + name);
    }
    /// Copies a sample of tests/data/thirdparty into in/ under `as` and lists it.
    void add(const std::string& sample, const std::string& as);
    /// Writes `bytes` into in/`as` and lists it (videos included).
    void addBytes(const std::vector<std::uint8_t>& bytes, const std::string& as);
    [[nodiscard]] batch::ui::WindowRunEnvironment environment();
    /// Starts a run and waits until it finished; false when it did not start or end in time.
    /// A result window is closed at once unless `onResult` handles it.
    bool runToEnd(batch::ui::WindowRun& run, bool* quitProgram = nullptr,
                  const std::function<void(batch::ui::ResultWindow*)>& onResult = {});
    /// The file names of the list, in order.
    [[nodiscard]] std::vector<std::string> listedNames() const;

    TempDir dir;
    imagefiles::ImageList images;
    settings::Preset preset;
    pipeline::RunFlags flags;
    ScriptedQuestions questions;
};

} // namespace quill::test
