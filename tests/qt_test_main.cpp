// Test main for every window test: one QApplication on the offscreen platform, English UI texts.
#include "settings/language_pack.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    (void)quill::settings::loadProgramInfo();
    (void)quill::settings::loadUiTexts(quill::settings::kEnglishLanguage);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
