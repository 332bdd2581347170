// Showing a file in the desktop's file manager.
#pragma once

#include <string>

namespace quill::toolkit::qt {

/// Asks the desktop's file manager to open the file's folder with the file selected
/// (org.freedesktop.FileManager1.ShowItems over D-Bus); without such a service, or when the file
/// is gone, opens the folder itself. Returns at once; an empty path does nothing.
void showInFileManager(const std::string& path);

} // namespace quill::toolkit::qt
