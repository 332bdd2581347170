// The Help menu's windows: the help topics, the licence, the version and the about window.
#pragma once

#include "app/app_context.h"
#include "toolkit/qt/questions.h"

class QWidget;

namespace quill::app::ui {

/// Every help topic in one text dialog, titled like the Help menu's first item.
void showAllHelpTopics(QWidget* parent);
/// One help topic, 0 .. kHelpTopicCount - 1, in the text dialog.
void showHelpTopic(QWidget* parent, int topic);
/// The copyright and the licence in the text dialog.
void showLicense(QWidget* parent);
/// The program's version and the Qt version it runs on, in an information box.
void showVersion(QWidget* parent, toolkit::qt::Questions& questions);
/// The about window, modal: the program's name, description and where the settings are kept.
void showAbout(QWidget* parent, const AppContext& context);

} // namespace quill::app::ui
