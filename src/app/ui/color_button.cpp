// A push button that shows a colour and opens the colour dialog.
#include "app/ui/color_button.h"

#include "settings/language_pack.h"
#include "settings/ui_text_ids.h"

#include <QColorDialog>
#include <QPainter>
#include <QPixmap>

namespace quill::app::ui {

namespace text = settings::text;

ColorButton::ColorButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {
    connect(this, &QPushButton::clicked, this, &ColorButton::choose);
    setColour(0);
}

void ColorButton::setColour(std::uint32_t colour) {
    colour &= 0xFFFFFFu;
    const bool changed = colour != m_colour;
    m_colour = colour;
    // The swatch keeps a transparent strip on its right, so the caption does not touch it.
    QPixmap swatch(22, 16);
    swatch.fill(Qt::transparent);
    {
        QPainter painter(&swatch);
        painter.fillRect(
            0, 0, 16, 16,
            QColor(int(colour & 0xFF), int((colour >> 8) & 0xFF), int((colour >> 16) & 0xFF)));
        painter.drawRect(0, 0, 15, 15);
    }
    setIconSize(swatch.size());
    setIcon(QIcon(swatch));
    if (changed) emit colourChanged(m_colour);
}

void ColorButton::choose() {
    const QColor initial(int(m_colour & 0xFF), int((m_colour >> 8) & 0xFF),
                         int((m_colour >> 16) & 0xFF));
    const QColor chosen = QColorDialog::getColor(
        initial, this, QString::fromStdString(settings::uiText(text::kChooseColour)));
    if (!chosen.isValid()) return;
    setColour(std::uint32_t(chosen.red()) | (std::uint32_t(chosen.green()) << 8) |
              (std::uint32_t(chosen.blue()) << 16));
}

} // namespace quill::app::ui
