// The window side of a preview run.
#include "batch/ui/preview_run.h"

#include "batch/preview_run.h"
#include "batch/ui/ui_texts.h"
#include "batch/ui/window_run.h"
#include "settings/run_settings.h"
#include "toolkit/platform/platform.h"
#include "toolkit/qt/questions.h"

#include <QFile>
#include <QTimer>

namespace quill::batch::ui {

/// The checks of a preview run, in boxes over the main window; warnings are not asked, since
/// nothing of the user's is replaced or moved.
class PreviewRun::Face final : public PreviewRunFace {
public:
    explicit Face(PreviewRun& run) : m_run(run) {}
    bool passChecks(const imagefiles::ImageList& images, const settings::Preset& settings,
                    settings::RunSettings& run) override {
        constexpr bool ignoreWarnings = true;
        return preRunChecksWindow(images, settings, ignoreWarnings, run, m_run.m_env.questions,
                                  m_run.m_mainWindow);
    }

private:
    PreviewRun& m_run;
};

PreviewRun::PreviewRun(PreviewRunEnvironment environment, QWidget* mainWindow, QObject* parent)
    : QObject(parent), m_env(std::move(environment)), m_mainWindow(mainWindow),
      m_timer(new QTimer(this)) {
    // Polls for the end of the preview worker; 20 ms keeps the result box prompt without
    // keeping the GUI thread busy.
    m_timer->setInterval(20);
    connect(m_timer, &QTimer::timeout, this, &PreviewRun::poll);
}

PreviewRun::~PreviewRun() {
    if (m_thread.joinable()) m_thread.join();
}

bool PreviewRun::start(std::int32_t recordId) {
    auto& flags = m_env.flags;
    if (m_thread.joinable() || flags.previewRun.load() || flags.runActive.load() ||
        flags.loadingPaths.load())
        return false;
    const std::ptrdiff_t index = m_env.images.indexOfId(recordId);
    if (index < 0) {
        m_env.questions.ask(m_mainWindow, toolkit::qt::BoxKind::Information,
                            uiQ(text::kInformation), uiQ(text::kNoImageSelected));
        return false;
    }

    m_settings = std::make_unique<settings::Preset>(
        previewRunSettings(m_env.settings, m_env.previewDirectory));
    m_face = std::make_unique<Face>(*this);
    m_driver = std::make_unique<RunDriver>(RunSetup{.images = m_env.images,
                                                    .settings = *m_settings,
                                                    .flags = flags,
                                                    .pdfCreator = m_env.pdfCreator,
                                                    .scope = RunScope::CurrentImage},
                                           *m_face);
    if (!m_driver->begin()) return false;

    flags.previewRun.store(1);
    flags.loadingPaths.store(1);
    m_done = false;
    emit started();
    m_thread = std::thread([this, index] {
        const PreviewRunResult result = runPreviewOnRecord(*m_driver, std::size_t(index));
        m_state = result.resultState;
        m_code = result.resultCode;
        m_output = result.outputPath;
        m_done = true;
    });
    m_timer->start();
    return true;
}

void PreviewRun::poll() {
    if (!m_done.load()) return;
    m_timer->stop();
    m_thread.join();
    auto& flags = m_env.flags;
    flags.loadingPaths.store(0);
    flags.previewRun.store(0);
    flags.enterPhase(pipeline::RunPhase::Idle);
    m_env.previewDirectoryUsed = true;

    PreviewRunResult result;
    result.resultState = m_state;
    result.resultCode = m_code;
    result.outputPath = m_output;
    bool opened = false;
    if (result.done()) {
        opened = m_env.opener.open(result.outputPath);
        if (!opened) offerOutputFolder(result.outputPath);
    } else {
        m_env.questions.ask(
            m_mainWindow, toolkit::qt::BoxKind::Information, uiQ(text::kInformation),
            QString::fromStdString(previewFailureText(result, settings::currentUiTexts())));
    }
    emit finished(opened);
}

void PreviewRun::offerOutputFolder(const std::string& outputPath) {
    // Without a program for the type (or a desktop at all) the user would see nothing: the path
    // tells where the preview is, and its folder lets the user open it some other way.
    const QString text = uiQ(text::kPreviewNotOpened) + QStringLiteral(":\r\n") +
                         QFile::decodeName(QByteArray::fromStdString(outputPath)) +
                         QStringLiteral("\r\n\r\n") + uiQ(text::kOpenContainingFolder);
    if (m_env.questions.ask(m_mainWindow, toolkit::qt::BoxKind::Question, uiQ(text::kQuestion),
                            text) == toolkit::qt::Answer::Yes)
        (void)m_env.opener.openFolder(platform::directoryPart(outputPath));
}

} // namespace quill::batch::ui
