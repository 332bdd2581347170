// Test main for every window test: one QApplication on the offscreen platform, English UI texts,
// and a home folder of its own.
#include "settings/language_pack.h"
#include "test_support.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Nothing a test writes by default (a run's outputs on the desktop, the dialogs' state) goes
    // into the user's home, and nothing an earlier run left there changes what a test sees.
    const quill::test::TempDir home;
    qputenv("HOME", QByteArray::fromStdString(home.path()));
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        qunsetenv(name);
    QApplication app(argc, argv);
    (void)quill::settings::loadProgramInfo();
    (void)quill::settings::loadUiTexts(quill::settings::kEnglishLanguage);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
