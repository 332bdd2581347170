// Handing a file or a folder to the desktop through QDesktopServices.
#include "batch/ui/desktop_opener.h"

#include <QDesktopServices>
#include <QFile>
#include <QUrl>

namespace quill::batch::ui {
namespace {

/// Paths are bytes: decode them the way the file system's names are decoded.
QUrl localUrl(const std::string& path) {
    return QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(path)));
}

class QtDesktopOpener final : public DesktopOpener {
public:
    bool open(const std::string& path) override {
        return QDesktopServices::openUrl(localUrl(path));
    }
    bool openFolder(const std::string& folder) override {
        return QDesktopServices::openUrl(localUrl(folder));
    }
};

} // namespace

DesktopOpener& desktopOpener() {
    static QtDesktopOpener opener;
    return opener;
}

} // namespace quill::batch::ui
