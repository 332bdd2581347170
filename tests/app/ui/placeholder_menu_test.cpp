// Insertion menus, their replacement rules, and the pattern preview's sample expansion.
#include "app/ui/preview/pattern_preview_window.h"
#include "app/ui/preview/placeholder_menu.h"
#include "settings/language_pack.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>

#include <gtest/gtest.h>

namespace quill::app::ui {
namespace {

TEST(PlaceholderMenu, InsertionAndReplacementRules) {
    struct Case {
        InsertField field;
        const char* text;
        int caret;
        const char* entry;
        const char* expected;
        int expectedCaret;
    };
    const Case cases[] = {
        // The numbering token is replaced wherever it is; the caret goes to the end.
        {InsertField::RenamePattern, "(%005%) %FN%", 0, "%001%", "(%001%) %FN%", 12},
        {InsertField::RenamePattern, "%FN%_", 4, "%001%", "%FN%%001%_", 9},
        {InsertField::RenamePattern, "a%1234567890%", 1, "%001%", "a%001%%1234567890%", 6},
        // A path token replaces the leading one in any letter case, or goes to the front.
        {InsertField::OutputDirPattern, "%PD%\\output\\", 5, "%PP%", "%PP%\\output\\", 12},
        {InsertField::OutputDirPattern, "%pc%\\x", 2, "%PF%", "%PF%\\x", 6},
        {InsertField::OutputDirPattern, "output\\", 3, "%PC%", "%PC%output\\", 4},
        {InsertField::OutputDirPattern, "%PD%\\", 5, "%DY%", "%PD%\\%DY%", 9},
        {InsertField::OverlayText, "ab", 99, "%IW%", "ab%IW%", 6},
        {InsertField::FilterValue, "IMG", 1, "*", "I*MG", 2},
    };
    for (const Case& c : cases) {
        const Insertion result = insertEntry(c.field, c.text, c.caret, c.entry);
        EXPECT_EQ(result.text.toStdString(), c.expected) << c.text << " + " << c.entry;
        EXPECT_EQ(result.caret, c.expectedCaret) << c.text << " + " << c.entry;
    }
}

// Every entry of every Insert menu shows what it stands for, in every language, beside the
// token; choosing it still inserts only the token.
TEST(PlaceholderMenu, EveryEntryShowsItsMeaningInEveryLanguage) {
    const InsertField fields[] = {InsertField::FilterValue, InsertField::OverlayText,
                                  InsertField::CommentText, InsertField::RenamePattern,
                                  InsertField::OutputDirPattern};
    for (int language = 0; language < settings::kLanguageCount; ++language) {
        ASSERT_TRUE(settings::loadUiTexts(language));
        for (const InsertField field : fields) {
            QLineEdit edit;
            QMenu* menu = makeInsertionMenu(&edit, &edit, field);
            const QStringList entries = insertionEntries(field);
            ASSERT_EQ(menu->actions().size(), entries.size());
            for (qsizetype i = 0; i < entries.size(); ++i) {
                const QString meaning = insertionMeaning(entries[i]);
                EXPECT_FALSE(meaning.isEmpty()) << language << " " << entries[i].toStdString();
                EXPECT_EQ(menu->actions()[i]->text(), entries[i] + '\t' + meaning);
            }
            edit.clear();
            menu->actions().back()->trigger();
            EXPECT_EQ(edit.text(), entries.back());
        }
    }
    ASSERT_TRUE(settings::loadUiTexts(settings::kEnglishLanguage));
}

TEST(PlaceholderMenu, MenusWriteTheField) {
    QLineEdit edit("(%005%) %FN%");
    edit.setCursorPosition(2);
    QMenu* menu = makeInsertionMenu(&edit, &edit, InsertField::RenamePattern);
    menu->actions().front()->trigger();
    EXPECT_EQ(edit.text(), "(%001%) %FN%");
    EXPECT_EQ(edit.cursorPosition(), 12);

    int percent = 0;
    makePercentMenu(&edit, [&](int p) { percent = p; })->actions().back()->trigger();
    EXPECT_EQ(percent, 200);
    // The last size entry is the screen's.
    QSize chosen;
    makeSizeMenu(&edit, [&](int w, int h) { chosen = QSize(w, h); })->actions().back()->trigger();
    EXPECT_EQ(chosen, QGuiApplication::primaryScreen()->size());
}

TEST(PatternPreview, ExpandsEnabledPatternsWithTheSampleImage) {
    settings::Preset preset = settings::defaultPreset(0, "p");
    preset.overlayEnabled = 1;
    preset.overlayKind = settings::OverlayKind::Text;
    preset.overlayText = "%fn% %IW%x%IH%\r\n%DY%-%DM%-%DD%";
    preset.commentEnabled = 0; // not shown
    preset.renameEnabled = 1;
    preset.renamePattern = "(%005%) %FN%";
    preset.outputDirEnabled = 1;
    preset.outputDirPattern = "%PF%\\%DY%\\";
    settings::ShellFolders folders{"/home/u/Desktop/", "/home/u/Documents/", "/opt/q/"};

    QStringList texts;
    for (const auto& line : patternPreviewLines(preset, folders))
        texts << line.text;
    EXPECT_EQ(texts, (QStringList{"IMG0087 2592x1944", "2012-06-25", "(005) IMG0087",
                                  QString(kSampleImageFolder) + "2012/"}));

    // Only the enabled patterns, and a real folder as it is.
    preset.outputDirPattern = "%PD%\\out";
    preset.overlayEnabled = preset.renameEnabled = 0;
    const auto real = patternPreviewLines(preset, folders);
    ASSERT_EQ(real.size(), 1u);
    EXPECT_EQ(real[0].text, "/home/u/Desktop/out/");
}

} // namespace
} // namespace quill::app::ui
