// Paths dropped on the main window's add buttons and image list, handed on for loading.
#pragma once

#include "imagefiles/image_list.h"

#include <QObject>

#include <functional>

class QMimeData;
class QWidget;

namespace quill::app::ui {

/// Paths carried by a drop: local files of URLs, else lines of text that are absolute paths.
/// Anything else (words, web addresses) is not a path and is ignored.
[[nodiscard]] imagefiles::PathList droppedPaths(const QMimeData& data);

/// Takes drops of URLs or text on the widgets it watches and hands their paths to a receiver.
class PathDropHandler : public QObject {
    Q_OBJECT
public:
    using Receiver = std::function<void(const imagefiles::PathList&)>;
    PathDropHandler(Receiver receiver, QObject* parent);

    /// Lets `widget` take drops; its dropped paths go to the receiver.
    void watch(QWidget* widget);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Receiver m_receiver;
};

} // namespace quill::app::ui
