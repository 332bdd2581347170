// Showing a file in the desktop's file manager.
#include "toolkit/qt/file_manager.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace quill::toolkit::qt {
namespace {

/// The path as a file URL without a round trip through text: file names are bytes.
QUrl fileUrl(const std::string& path) {
    return QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(path)));
}

bool showItemsOverDBus(const std::string& path) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) return false;
    const QString service = QStringLiteral("org.freedesktop.FileManager1");
    // A file manager that is not running yet but can be started by the bus counts too.
    const auto registered = bus.interface()->isServiceRegistered(service);
    const auto activatable = bus.interface()->activatableServiceNames();
    if (!registered.value() && !(activatable.isValid() && activatable.value().contains(service)))
        return false;
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/FileManager1"),
                                       service, QStringLiteral("ShowItems"));
    call << QStringList{fileUrl(path).toString()} << QString();
    // Fire and forget: the GUI thread does not wait for the file manager.
    return bus.send(call);
}

} // namespace

void showInFileManager(const std::string& path) {
    if (path.empty()) return;
    const QFileInfo file(QFile::decodeName(QByteArray::fromStdString(path)));
    if (file.exists() && showItemsOverDBus(path)) return;
    QDesktopServices::openUrl(QUrl::fromLocalFile(file.absolutePath()));
}

} // namespace quill::toolkit::qt
