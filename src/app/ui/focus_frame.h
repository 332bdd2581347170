// A frame that a scrolling control draws itself, so that the keyboard focus shows on it.
#pragma once

class QAbstractScrollArea;

namespace quill::app::ui {

enum class OwnFrame {
    /// Drawn in the highlight colour while the control has the focus, otherwise the style's.
    WhenFocused,
    /// Drawn always, in the highlight colour while the control has the focus: for controls whose
    /// style frame falls between device pixels at a fractional screen scale and loses lines.
    Always,
};

/// Draws a 1-pixel frame along the edge of `area`, over the style's, as `frame` says. The style
/// shows focus on a table's current cell only, so an empty table would not show it at all.
void drawOwnFrame(QAbstractScrollArea* area, OwnFrame frame);

} // namespace quill::app::ui
