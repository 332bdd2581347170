// The main window on a fresh configuration folder holding the default presets, shared by the
// window tests, with scripted answers, a recording opener and copies of the sample images.
#pragma once

#include "app/ui/main_window.h"
#include "app/ui/preview/presets_window.h"
#include "preview_ui_test_support.h"
#include "settings/language_pack.h"
#include "settings/setting_files.h"
#include "test_support.h"
#include "toolkit/platform/platform.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace quill::app::ui {

/// A user-interface text in the loaded language.
inline QString T(int index) {
    return QString::fromStdString(settings::uiText(index));
}

/// A caption as a screen reader or a label reads it: no mnemonic marker, no closing colon.
inline QString readable(QString caption) {
    caption.remove(QLatin1Char('&'));
    caption = caption.trimmed();
    if (caption.endsWith(QLatin1Char(':'))) caption.chop(1);
    return caption.trimmed();
}

/// The push button of `root` with the caption `caption`, else null.
inline QPushButton* buttonNamed(QWidget* root, const QString& caption) {
    for (QPushButton* button : root->findChildren<QPushButton*>())
        if (button->text() == caption) return button;
    return nullptr;
}

/// Runs the event loop until `done` holds; false when `timeoutMs` pass first.
template <class Predicate> bool waitUntil(Predicate done, int timeoutMs = 20000) {
    return QTest::qWaitFor(done, timeoutMs);
}

/// A main window over its own settings folder, images and answers, made on first use.
class MainWindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(settings::loadProgramInfo());
        ASSERT_TRUE(settings::loadUiTexts(settings::kEnglishLanguage));
        m_context.languageIndex = settings::kEnglishLanguage;
        m_context.presetsFilePath = m_dir.path() + "config/Quillmere/Presets";
        m_context.languageFilePath = m_dir.path() + "config/Quillmere/Language";
        ASSERT_TRUE(platform::createDirectories(m_dir.path() + "config/Quillmere/"));
        settings::buildDefaults(m_context.presetList);
        m_context.workingSettings = m_context.presetList.presets[0];
    }
    void TearDown() override {
        m_window.reset();
        EXPECT_TRUE(settings::loadUiTexts(settings::kEnglishLanguage));
    }

    MainWindow& window() {
        if (!m_window) {
            m_window =
                std::make_unique<MainWindow>(m_context, m_images, m_flags, m_questions, &m_opener);
            m_window->show();
            QApplication::setActiveWindow(m_window.get());
            // Without a window manager (xvfb) a window is shown but never becomes active.
            if (!QTest::qWaitForWindowActive(m_window.get(), 2000)) {
                EXPECT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
            }
        }
        return *m_window;
    }
    /// A new window, with an empty list, in `language`.
    void openIn(int language) {
        ASSERT_TRUE(settings::loadUiTexts(language));
        m_context.languageIndex = language;
        m_window.reset();
        m_images.clear();
        window();
        QCoreApplication::processEvents();
    }
    /// A new folder holding copies of the sample images (call it once a test).
    std::string sampleFolder() {
        const std::string folder = m_dir.path() + "images/";
        EXPECT_TRUE(platform::createDirectories(folder));
        for (const char* name : {"chart.bmp", "harbour.jpg", "logo.png"})
            std::filesystem::copy_file(std::string(QUILL_SOURCE_DIR) + "/samples/" + name,
                                       folder + name);
        return folder;
    }
    /// Saves a picture of the window into $QUILL_SCREENSHOT_DIR (tools/*screenshots.sh).
    void screenshot(const QString& name) {
        QTest::qWait(200);
        const QString file = qEnvironmentVariable("QUILL_SCREENSHOT_DIR") + "/" + name;
        EXPECT_TRUE(window().grab().save(file)) << file.toStdString();
    }
    /// The presets window over the fixture's presets, as Manage presets opens it (not shown).
    std::unique_ptr<PresetsWindow> managePresets() {
        return std::make_unique<PresetsWindow>(PresetsWindowEnvironment{m_context.presetList,
                                                                        m_context.workingSettings,
                                                                        m_context.currentPreset,
                                                                        "",
                                                                        m_questions,
                                                                        [] {},
                                                                        {},
                                                                        {}},
                                               PresetsWindowMode::Manage);
    }
    void loadAndWait(const std::string& path) {
        window().addPaths({path});
        ASSERT_TRUE(waitUntil([&] { return !window().loader().busy(); }));
    }

    test::TempDir m_dir;
    AppContext m_context;
    imagefiles::ImageList m_images;
    pipeline::RunFlags m_flags;
    test::ScriptedQuestions m_questions;
    test::RecordingOpener m_opener;
    std::unique_ptr<MainWindow> m_window;
};

} // namespace quill::app::ui
