// The image preview popup: a borderless window with a picture of the selected image, arrows on
// its edge strips to step through the image list, and a double click that asks for a preview
// run.
#pragma once

#include "app/ui/preview/live_preview.h"

#include <QWidget>

#include <cstdint>
#include <string>

class QLabel;
class QPushButton;

namespace quill::app::ui {

class PreviewPopup : public QWidget {
    Q_OBJECT
public:
    /// Side of the popup.
    static constexpr int kSide = 154;

    PreviewPopup(settings::RunContext context, QWidget* parent = nullptr);

    /// The selected image (recordId -1: none); its picture follows once loaded.
    void setSelection(std::int32_t recordId, const std::string& path,
                      imagefiles::FormatKind formatKind);
    /// Number of images in the list; the arrows need at least two.
    void setImageCount(int count);
    /// While a preview run is active the popup shows the busy picture and no arrows.
    void setPreviewRunActive(bool active);
    /// While a placeholder window is open the arrows stay hidden.
    void setPlaceholderWindowOpen(bool open);

    [[nodiscard]] QPushButton* previousButton() const { return m_previous; }
    [[nodiscard]] QPushButton* nextButton() const { return m_next; }
    [[nodiscard]] QLabel* pictureLabel() const { return m_picture; }
    [[nodiscard]] LivePreview& preview() { return m_preview; }

    /// The strips along the left and right edges over which the arrows appear.
    [[nodiscard]] static QRect leftStrip();
    [[nodiscard]] static QRect rightStrip();

signals:
    void previousRequested();
    void nextRequested();
    /// A double click on the popup.
    void previewRunRequested();

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    /// A thin frame sets the borderless popup apart from the list beneath it.
    void paintEvent(QPaintEvent* event) override;

private:
    void updateArrows(QPoint pointer);
    [[nodiscard]] bool arrowsAllowed() const;

    LivePreview m_preview;
    QLabel* m_picture;
    QPushButton* m_previous;
    QPushButton* m_next;
    QImage m_lastPicture;
    int m_imageCount = 0;
    bool m_runActive = false;
    bool m_placeholderOpen = false;
};

/// The program's own icon, the picture its desktop entry shows (data/quillmere.svg, carried in
/// the program), drawn `side` pixels square on a transparent ground.
[[nodiscard]] QImage programIcon(int side);
/// The busy picture shown while an image loads or a preview run works: the program's icon
/// centred on a kPreviewSide square of `background` (the tooltip colour).
[[nodiscard]] QImage busyPicture(QColor background);

} // namespace quill::app::ui
