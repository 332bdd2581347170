// Handing a file or a folder to the desktop: its program for the file's type, its file manager.
#pragma once

#include <string>

namespace quill::batch::ui {

/// What the windows ask of the desktop. Behind an interface so that tests can make the desktop
/// succeed or fail without one.
class DesktopOpener {
public:
    virtual ~DesktopOpener() = default;
    /// Opens a file with the program the desktop associates with its type; false when the
    /// desktop has none or could not start it.
    virtual bool open(const std::string& path) = 0;
    /// Opens a folder in the desktop's file manager; false when that failed.
    virtual bool openFolder(const std::string& folder) = 0;
};

/// The desktop implementation (QDesktopServices::openUrl).
DesktopOpener& desktopOpener();

} // namespace quill::batch::ui
