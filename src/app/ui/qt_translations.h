// Qt's own texts (the edit fields' context menu, the file dialogs, the message boxes' buttons) in
// the program's language.
#pragma once

#include <QString>

#include <optional>

namespace quill::app::ui {

/// The file of Qt's translations for a user-interface language (0..10), from the translations
/// that the Qt installation carries (the qt6-translations-l10n package); nothing when Qt has
/// none for it (English, and languages without a catalogue, keep Qt's English texts).
[[nodiscard]] std::optional<QString> qtTranslationFile(int languageIndex);

/// Makes Qt's own texts follow the language: installs its catalogue into the application in
/// place of the one installed before. Call again after every language change.
void useQtTranslations(int languageIndex);

} // namespace quill::app::ui
