// Qt's own texts in the program's language.
#include "app/ui/qt_translations.h"

#include "settings/language_pack.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>

#include <string_view>

namespace quill::app::ui {
namespace {

/// Object name of the installed translator, so that a language change finds and replaces it
/// without keeping it in a global.
constexpr auto kTranslatorName = "quillQtTranslator";

/// Qt's catalogue names for a language code of the program, best first. Qt names its Chinese
/// catalogues after the region and has Portuguese as spoken in Brazil, which the program's
/// tables are written in; "qt_" catalogues cover languages that have no "qtbase_" one (Swedish).
QStringList catalogueNames(std::string_view code) {
    QStringList locales;
    if (code == "zh")
        locales = {QStringLiteral("zh_TW")};
    else if (code == "pt")
        locales = {QStringLiteral("pt_BR"), QStringLiteral("pt")};
    else
        locales = {QString::fromLatin1(code.data(), qsizetype(code.size()))};
    QStringList names;
    for (const QString& prefix : {QStringLiteral("qtbase_"), QStringLiteral("qt_")})
        for (const QString& locale : locales)
            names << prefix + locale + QStringLiteral(".qm");
    return names;
}

} // namespace

std::optional<QString> qtTranslationFile(int languageIndex) {
    const auto languages = settings::languages();
    if (languageIndex < 0 || languageIndex >= int(languages.size()) ||
        languageIndex == settings::kEnglishLanguage)
        return std::nullopt;
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    for (const QString& name : catalogueNames(languages[std::size_t(languageIndex)].code)) {
        const QString path = folder + QLatin1Char('/') + name;
        if (QFileInfo::exists(path)) return path;
    }
    return std::nullopt;
}

void useQtTranslations(int languageIndex) {
    QCoreApplication* application = QCoreApplication::instance();
    if (!application) return;
    delete application->findChild<QTranslator*>(QString::fromLatin1(kTranslatorName),
                                                Qt::FindDirectChildrenOnly);
    const std::optional<QString> file = qtTranslationFile(languageIndex);
    if (!file) return;
    auto* translator = new QTranslator(application);
    translator->setObjectName(QString::fromLatin1(kTranslatorName));
    if (!translator->load(*file)) {
        delete translator;
        return;
    }
    QCoreApplication::installTranslator(translator);
}

} // namespace quill::app::ui
