// The pattern preview window.
#include "app/ui/preview/pattern_preview_window.h"

#include "settings/language_pack.h"
#include "settings/ui_text_ids.h"

#include <QFontMetrics>
#include <QPainter>

namespace quill::app::ui {
namespace {

namespace text = settings::text;

QString ui(int index) {
    return QString::fromStdString(settings::uiText(index));
}
QString q(const std::string& s) {
    return QString::fromStdString(s);
}

void addLines(std::vector<PreviewLine>& out, int caption, const QString& value) {
    const QStringList parts = value.split('\n');
    for (int i = 0; i < parts.size(); ++i)
        out.push_back({i == 0 ? ui(caption) : QString(), parts[i]});
}

constexpr int kMargin = 10;
constexpr int kCaptionWidth = 130;
constexpr int kTextWidth = 360;

} // namespace

std::vector<PreviewLine> patternPreviewLines(const settings::Preset& preset,
                                             const settings::ShellFolders& folders) {
    const settings::PlaceholderValues sample = settings::samplePlaceholderValues();
    const bool noPad = preset.noZeroPadding != 0;
    std::vector<PreviewLine> lines;
    if (preset.overlayEnabled && preset.overlayKind == settings::OverlayKind::Text) {
        const std::string text = settings::prepareOverlayText(preset.overlayText);
        addLines(lines, text::kOverlayText, q(settings::expandImageTokens(text, sample, noPad)));
    }
    if (preset.commentEnabled) {
        const std::string text = settings::normaliseTokens(preset.commentText);
        addLines(lines, text::kCommentText, q(settings::expandImageTokens(text, sample, noPad)));
    }
    if (preset.renameEnabled) {
        const settings::NumberingToken numbering =
            settings::locateNumberingToken(settings::normaliseTokens(preset.renamePattern));
        std::string pattern = numbering.start >= 0
                                  ? numbering.pattern
                                  : settings::normaliseTokens(preset.renamePattern);
        if (numbering.start >= 0) {
            const std::string marker(settings::kNumberingMarker);
            const auto at = pattern.find(marker);
            pattern.replace(at, marker.size(),
                            settings::padNumber(numbering.start, noPad ? 0 : numbering.width));
        }
        addLines(lines, text::kNamePattern, q(settings::expandNamePattern(pattern, sample, noPad)));
    }
    if (preset.outputDirEnabled) {
        std::string pattern = settings::withForwardSlashes(preset.outputDirPattern);
        std::string directory;
        if (settings::leadingPathToken(pattern) == settings::PathToken::ImageFolder) {
            std::string rest = pattern.substr(4);
            if (!rest.empty() && rest.front() == '/') rest.erase(0, 1);
            directory = kSampleImageFolder + rest;
            if (directory.back() != '/') directory += '/';
        } else {
            directory = settings::pathExpand(pattern, folders);
        }
        addLines(lines, text::kDirectoryPattern,
                 q(settings::expandDirectoryPattern(directory, sample, noPad)));
    }
    return lines;
}

QString shortenLine(const QString& line, const QFontMetrics& metrics, int width) {
    if (metrics.horizontalAdvance(line) <= width) return line;
    const QString ellipsis = QStringLiteral("...");
    QString shortened = line;
    while (!shortened.isEmpty() && metrics.horizontalAdvance(shortened + ellipsis) > width)
        shortened.chop(1);
    return shortened + ellipsis;
}

PatternPreviewWindow::PatternPreviewWindow(const settings::Preset& preset,
                                           const settings::ShellFolders& folders, QWidget* parent)
    : QDialog(parent), m_lines(patternPreviewLines(preset, folders)) {
    setWindowTitle(ui(text::kPreview));
    const QFontMetrics metrics(font());
    const int rows = std::max<int>(1, int(m_lines.size()));
    setFixedSize(2 * kMargin + kCaptionWidth + kTextWidth,
                 2 * kMargin + rows * metrics.lineSpacing());
}

void PatternPreviewWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QFontMetrics metrics(font());
    int y = kMargin + metrics.ascent();
    for (const PreviewLine& line : m_lines) {
        painter.drawText(kMargin, y, shortenLine(line.caption, metrics, kCaptionWidth - 8));
        painter.drawText(kMargin + kCaptionWidth, y, shortenLine(line.text, metrics, kTextWidth));
        y += metrics.lineSpacing();
    }
}

} // namespace quill::app::ui
