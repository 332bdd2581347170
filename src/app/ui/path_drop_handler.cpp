// Paths dropped on the main window's add buttons and image list, handed on for loading.
#include "app/ui/path_drop_handler.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

#include <utility>

namespace quill::app::ui {

imagefiles::PathList droppedPaths(const QMimeData& data) {
    imagefiles::PathList paths;
    // A URL carries any file name; plain text can only name one path per line.
    if (data.hasUrls()) {
        for (const QUrl& url : data.urls()) {
            if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
        }
        return paths;
    }
    if (data.hasText()) {
        for (const QString& line : data.text().split(QLatin1Char('\n'))) {
            const QString path = line.trimmed();
            if (path.startsWith(QLatin1Char('/'))) paths.push_back(path.toStdString());
        }
    }
    return paths;
}

PathDropHandler::PathDropHandler(Receiver receiver, QObject* parent)
    : QObject(parent), m_receiver(std::move(receiver)) {}

void PathDropHandler::watch(QWidget* widget) {
    widget->setAcceptDrops(true);
    widget->installEventFilter(this);
}

bool PathDropHandler::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (drag->mimeData()->hasUrls() || drag->mimeData()->hasText()) {
            drag->acceptProposedAction();
            return true;
        }
    } else if (event->type() == QEvent::Drop) {
        auto* drop = static_cast<QDropEvent*>(event);
        m_receiver(droppedPaths(*drop->mimeData()));
        drop->acceptProposedAction();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace quill::app::ui
