// The summary after a window run in which nothing failed: how many images were processed and
// the folder their outputs went to, with a button that opens it.
#pragma once

#include "imagefiles/image_list.h"

#include <QDialog>

#include <cstddef>
#include <string>

class QLineEdit;
class QPushButton;

namespace quill::batch::ui {

class DesktopOpener;

/// What a finished run did, read from its records before the list is refilled.
struct RunSummary {
    std::size_t processed = 0; ///< records whose output was written
    std::string outputFolder;  ///< folder of the first output in list order, as bytes; "" if none
};
[[nodiscard]] RunSummary summarizeRun(const imagefiles::ImageList& images);

/// Modeless; it closes with OK, Escape or its close button and then emits finished().
class SummaryWindow : public QDialog {
    Q_OBJECT
public:
    SummaryWindow(const RunSummary& summary, DesktopOpener& opener, QWidget* parent = nullptr);

    /// The "Open output folder" button's action.
    void openOutputFolder();

private:
    DesktopOpener& m_opener;
    std::string m_outputFolder;
};

} // namespace quill::batch::ui
