// Showing a file in the desktop's file manager.
#include "toolkit/qt/file_manager.h"

#if QUILL_WITH_DBUS
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#endif
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace quill::toolkit::qt {

void showInFileManager(const std::string& path) {
    if (path.empty()) return;
    // File names are bytes: decode them the way the file system's names are decoded.
    const QFileInfo file(QFile::decodeName(QByteArray::fromStdString(path)));
    const QUrl folder = QUrl::fromLocalFile(file.absolutePath());
#if QUILL_WITH_DBUS
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!file.exists() || !bus.isConnected()) {
        QDesktopServices::openUrl(folder);
        return;
    }
    const QString service = QStringLiteral("org.freedesktop.FileManager1");
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/FileManager1"),
                                       service, QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(file.absoluteFilePath()).toString()} << QString();
    // Asynchronous, so the GUI thread never waits for the bus; without a file manager service
    // the call fails and the folder is opened instead.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [folder](QDBusPendingCallWatcher* finished) {
                         if (finished->isError()) QDesktopServices::openUrl(folder);
                         finished->deleteLater();
                     });
#else
    // Built without D-Bus: the folder is opened, with nothing selected.
    QDesktopServices::openUrl(folder);
#endif
}

} // namespace quill::toolkit::qt
