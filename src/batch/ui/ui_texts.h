// The UI texts of the run's windows by name, and their lookup as QString.
#pragma once

#include "settings/language_pack.h"

#include <QString>

namespace quill::batch::ui {

namespace text {
inline constexpr int kPausedTitle = 362;
inline constexpr int kProgress = 363;
inline constexpr int kPreparing = 364;
inline constexpr int kReadingDetails = 365;
inline constexpr int kProcessing = 366;
inline constexpr int kFile = 367;
inline constexpr int kFolder = 368;
inline constexpr int kFinishing = 369;
inline constexpr int kUpdatingList = 370;
inline constexpr int kPause = 371;
inline constexpr int kContinue = 372;
inline constexpr int kCancel = 373;
inline constexpr int kResult = 384;
inline constexpr int kSomeFailed = 385;
inline constexpr int kImage = 386;
inline constexpr int kOutput = 387;
inline constexpr int kError = 388;
inline constexpr int kExplanations = 389;
inline constexpr int kOutputExists = 392;
inline constexpr int kWritingFailed = 402;
inline constexpr int kWritingFailedExplained = 403;
inline constexpr int kQuestion = 416;
inline constexpr int kReallyCancel = 425;
inline constexpr int kReallyExit = 426;
} // namespace text

/// A UI text of the current language.
[[nodiscard]] inline QString uiQ(int index) {
    return QString::fromStdString(settings::uiText(index));
}

} // namespace quill::batch::ui
