// Shared helpers of the window tests: scripted answers to the boxes and a recording desktop.
#pragma once

#include "batch/ui/preview_run.h"
#include "toolkit/qt/questions.h"

#include <QString>

#include <deque>
#include <string>
#include <vector>

namespace quill::test {

/// Answers questions with `answer` and the other boxes with OK, and records every box asked.
class ScriptedQuestions : public toolkit::qt::Questions {
public:
    struct Box {
        toolkit::qt::BoxKind kind;
        QString text;
    };
    std::vector<Box> asked;
    toolkit::qt::Answer answer = toolkit::qt::Answer::No;
    /// Answers given first, one a question, before `answer` takes over.
    std::deque<toolkit::qt::Answer> next;

    toolkit::qt::Answer ask(QWidget*, toolkit::qt::BoxKind kind, const QString&,
                            const QString& text) override {
        asked.push_back({kind, text});
        if (!toolkit::qt::isQuestion(kind)) return toolkit::qt::Answer::Ok;
        if (next.empty()) return answer;
        const toolkit::qt::Answer given = next.front();
        next.pop_front();
        return given;
    }
};

/// Takes the place of the desktop: records what it was asked to open and answers `succeeds`.
struct RecordingOpener final : batch::ui::DesktopOpener {
    std::vector<std::string> opened;
    std::vector<std::string> folders;
    bool succeeds = true;
    bool open(const std::string& path) override {
        opened.push_back(path);
        return succeeds;
    }
    bool openFolder(const std::string& folder) override {
        folders.push_back(folder);
        return succeeds;
    }
};

} // namespace quill::test
