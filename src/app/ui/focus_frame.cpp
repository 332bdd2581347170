#include "app/ui/focus_frame.h"

#include <QAbstractScrollArea>
#include <QEvent>
#include <QPainter>

namespace quill::app::ui {
namespace {

/// Watches one scroll area: paints it as usual, then its frame; repaints it when the focus comes
/// or goes.
class FrameDrawer : public QObject {
public:
    FrameDrawer(QAbstractScrollArea* area, OwnFrame frame) : QObject(area), m_frame(frame) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* area = static_cast<QAbstractScrollArea*>(watched);
        switch (event->type()) {
        case QEvent::FocusIn:
        case QEvent::FocusOut:
            area->update();
            return false;
        case QEvent::Paint: {
            // The area's own painting first (its style frame), then the frame over it.
            static_cast<QObject*>(area)->event(event);
            const bool focused = area->hasFocus();
            if (!focused && m_frame == OwnFrame::WhenFocused) return true;
            QPainter painter(area);
            painter.setRenderHint(QPainter::Antialiasing);
            // The outline colour of the style's frames.
            painter.setPen(QPen(focused ? area->palette().color(QPalette::Highlight)
                                        : area->palette().color(QPalette::Window).darker(140),
                                1));
            painter.setBrush(Qt::NoBrush);
            // Antialiased, half a pixel in: a line that covers its pixels at any scale.
            painter.drawRect(QRectF(area->rect()).adjusted(0.5, 0.5, -0.5, -0.5));
            return true;
        }
        default:
            return false;
        }
    }

private:
    OwnFrame m_frame;
};

} // namespace

void drawOwnFrame(QAbstractScrollArea* area, OwnFrame frame) {
    area->installEventFilter(new FrameDrawer(area, frame));
}

} // namespace quill::app::ui
