// Shared helpers of the tests of the windows beside the main window.
#pragma once

#include "toolkit/qt/questions.h"

#include <deque>
#include <string>
#include <vector>

namespace quill::test {

/// Answers every box from a queue (Yes when it runs dry) and records what was asked.
class ScriptedQuestions : public toolkit::qt::Questions {
public:
    std::deque<toolkit::qt::Answer> answers;
    std::vector<std::string> texts;
    toolkit::qt::Answer ask(QWidget*, toolkit::qt::BoxKind, const QString&,
                            const QString& text) override {
        texts.push_back(text.toStdString());
        if (answers.empty()) return toolkit::qt::Answer::Yes;
        const auto a = answers.front();
        answers.pop_front();
        return a;
    }
};

} // namespace quill::test
