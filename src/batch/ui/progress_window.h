// The progress window of a window run: phase, current image, progress bar, pause and cancel.
#pragma once

#include "pipeline/run_control.h"
#include "toolkit/qt/questions.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QString>

#include <atomic>
#include <cstdint>

class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace quill::batch::ui {

class ElidedLabel;

/// Shows the state of a run by polling its flags every 100 ms; its buttons write the pause and
/// cancel flags. It never waits for the run: the run's threads read what it writes.
class ProgressWindow : public QDialog {
    Q_OBJECT
public:
    /// `phaseTotal` is the number of units of the current phase, written by the run before it
    /// changes `flags.runPhase`.
    ProgressWindow(pipeline::RunFlags& flags, const std::atomic<std::int32_t>& phaseTotal,
                   toolkit::qt::Questions& questions, QString standardTitle,
                   QWidget* parent = nullptr);
    ~ProgressWindow() override;

    /// The run is over: the window may close and closes.
    void finish();
    /// True while one of the window's own questions is open.
    [[nodiscard]] bool asking() const { return m_asking; }
    /// The phase the window shows (Idle before the first).
    [[nodiscard]] pipeline::RunPhase shownPhase() const { return m_phase; }

    /// Polls the flags once (the timer does this every 100 ms).
    void update();

signals:
    /// The window switched to showing `phase`.
    void phaseShown(quill::pipeline::RunPhase phase);
    /// One of the window's questions was answered.
    void questionAnswered();

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void togglePause();
    /// What stopping the run leads to.
    enum class StopKind {
        Cancel, ///< the cancel button: the run stops, the program stays
        Quit,   ///< closing the window: the run stops and the program ends
    };
    /// The cancel question or the close question.
    void askToStop(StopKind kind);
    void showPhase(pipeline::RunPhase phase);
    [[nodiscard]] QString percentText() const;
    /// Sets the bar to `value` and its accessible description to the whole percent.
    void showBarValue(int value);
    /// "Progress: " and the text of the phase or of the pause.
    [[nodiscard]] QString frameTitle(int stateText) const;

    pipeline::RunFlags& m_flags;
    const std::atomic<std::int32_t>& m_phaseTotal;
    toolkit::qt::Questions& m_questions;
    QString m_standardTitle;

    QGroupBox* m_frame = nullptr;
    QLabel* m_singleLine = nullptr;
    QWidget* m_currentLines = nullptr;
    ElidedLabel* m_fileName = nullptr;
    ElidedLabel* m_folder = nullptr;
    QProgressBar* m_bar = nullptr;
    QPushButton* m_pause = nullptr;
    QPushButton* m_cancel = nullptr;
    QTimer* m_timer = nullptr;

    pipeline::RunPhase m_phase = pipeline::RunPhase::Idle;
    int m_phaseText = 0; ///< UI text of the phase shown
    std::int32_t m_total = 0;
    std::int32_t m_shownImageId = -1;
    bool m_pausedTitleShown = false;
    QElapsedTimer m_sinceTitle;
    bool m_asking = false;
    bool m_finished = false;
};

} // namespace quill::batch::ui
