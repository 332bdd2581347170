// A push button that shows a colour and opens the colour dialog.
#pragma once

#include <QPushButton>

#include <cstdint>

namespace quill::app::ui {

/// Holds a colour as 0x00BBGGRR (red in the low byte, as the presets store it).
class ColorButton : public QPushButton {
    Q_OBJECT
public:
    ColorButton(const QString& caption, QWidget* parent = nullptr);
    [[nodiscard]] std::uint32_t colour() const { return m_colour; }
    void setColour(std::uint32_t colour);
signals:
    void colourChanged(std::uint32_t colour);

private:
    void choose();
    std::uint32_t m_colour = 0;
};

} // namespace quill::app::ui
