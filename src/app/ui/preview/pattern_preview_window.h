// The pattern preview window: what the enabled patterns of the working settings yield for a
// sample image.
#pragma once

#include "settings/placeholders.h"
#include "settings/preset.h"

#include <QDialog>
#include <QString>

#include <vector>

class QFontMetrics;

namespace quill::app::ui {

/// The image folder that "%PF%" stands for in the preview.
inline constexpr const char* kSampleImageFolder = "~/Images/";

/// One line of the preview: the pattern's caption (only on its first line) and a text line.
struct PreviewLine {
    QString caption;
    QString text;
};

/// The expanded overlay text, comment, rename pattern and output directory, for those that are
/// switched on, with the sample image's values and the real folders behind the path tokens.
[[nodiscard]] std::vector<PreviewLine> patternPreviewLines(const settings::Preset& preset,
                                                           const settings::ShellFolders& folders);

/// `line` as it fits into `width` pixels: whole, or shortened and ended with "...".
[[nodiscard]] QString shortenLine(const QString& line, const QFontMetrics& metrics, int width);

class PatternPreviewWindow : public QDialog {
    Q_OBJECT
public:
    PatternPreviewWindow(const settings::Preset& preset, const settings::ShellFolders& folders,
                         QWidget* parent = nullptr);
    [[nodiscard]] const std::vector<PreviewLine>& lines() const { return m_lines; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<PreviewLine> m_lines;
};

} // namespace quill::app::ui
