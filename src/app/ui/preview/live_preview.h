// The live preview: a small picture of what the working settings make of the selected image,
// kept current by a worker thread. The picture is made by the editing chain of the processing
// loop, run on a reduced copy of the image with the pixel-valued settings scaled down to it.
#pragma once

#include "imagefiles/format.h"
#include "settings/preset.h"
#include "settings/run_settings.h"
#include "toolkit/image.h"

#include <QColor>
#include <QImage>
#include <QObject>
#include <QString>
#include <QWidget>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

class QLabel;

namespace quill::app::ui {

/// Side of the square preview picture.
inline constexpr int kPreviewSide = 144;

/// Sizes of the image held by the preview.
struct PreviewGeometry {
    int sourceWidth = 0;
    int sourceHeight = 0;
    int reducedWidth = 0;
    int reducedHeight = 0;
    int resultWidth = 0;
    int resultHeight = 0;
    float scale = 1.0f; ///< the smaller of reduced / full width and reduced / full height
};

/// The selected image reduced to fit the picture.
struct PreviewSource {
    toolkit::Image image;
    PreviewGeometry geometry;
    std::int32_t orientation = 0; ///< the EXIF orientation an upright turn follows (0: none)
};

/// Reduces a decoded image of the full size fullWidth x fullHeight (the image itself may already
/// be smaller, from a reduced decode) to fit 144 x 144 with the resize operation (both sides,
/// aspect kept, never enlarged). Empty image on failure.
[[nodiscard]] PreviewSource reduceForPreview(toolkit::Image decoded, int fullWidth, int fullHeight);
/// Loads the file (JPEG through the decoder's reduced decoding) and reduces it; FormatKind::None
/// takes the format from the extension. A full decode is counted against the process memory
/// budget (imagefiles::loadImageFileBudgeted, waiting for room while `keepWaiting` says so).
[[nodiscard]] PreviewSource loadPreviewSource(const std::string& path,
                                              imagefiles::FormatKind formatKind,
                                              const std::function<bool()>& keepWaiting = {});

/// The working settings with every pixel-valued setting multiplied by `scale` and rounded to the
/// nearest integer: crop margins, resize width and height (pixel mode), canvas width and height,
/// the overlay's font size, line spacing, outline width and both margins. A value that was
/// above 0 stays at least 1 where 0 would switch the setting's meaning (sizes, font, outline).
[[nodiscard]] settings::Preset scaledForPreview(const settings::Preset& preset, float scale);

/// Settings pages on which the source and result sizes are written under the picture.
[[nodiscard]] bool pageShowsSizes(int page, const settings::Preset& preset);

/// One rendering of the preview.
struct PreviewRendering {
    /// kPreviewSide x kPreviewSide, the result centred with an outline (reduced to fit, never
    /// cut); null when there is nothing to show.
    QImage picture;
    toolkit::Image result;  ///< the edited reduced image (or the reduced image, unprocessed)
    bool inRange = true;    ///< false: a setting is out of range, the result is unprocessed
    std::string outOfRange; ///< the field (as the field table names it) that is out of range
    bool failed = false;    ///< an editing step failed; the result is unprocessed
    QString emptyReason;    ///< why there is no picture, for the user
    PreviewGeometry geometry;
    QString caption; ///< source and result size at full scale, on the pages that show it
};

/// Why no picture of the file at `path` could be made: "Unreadable file" when it cannot be opened
/// or read, "Not an image" otherwise.
[[nodiscard]] QString unloadableReason(const std::string& path);

/// Whether the filter conditions of `working` leave the file at `path` out, decided as a preview
/// run decides it: the details the conditions need are read from the file first.
[[nodiscard]] bool leftOutByFilter(const std::string& path, const settings::Preset& working,
                                   const settings::RunContext& context);

/// Renders the preview of `source` for the working settings. Overlay placeholders take the
/// sample image's values.
[[nodiscard]] PreviewRendering renderPreview(const PreviewSource& source,
                                             const settings::Preset& working,
                                             const settings::RunContext& context, QColor background,
                                             int page);

/// What the enabling rule decided for the page on show.
struct PreviewDecision {
    bool enabled = false;
    bool refresh = false; ///< the picture must be rendered again because the page changed
};

/// The enabling rule of the preview, with its memory of the previous evaluation.
class PreviewEnabling {
public:
    /// Evaluates the rule for the page on show, given whether a row of the list is selected.
    PreviewDecision evaluate(int page, bool rowSelected, const settings::Preset& preset);

private:
    int m_lastPage = -1;
    bool m_lastEnabled = false;
};

/// The worker that keeps the picture current. Requests never block the GUI thread: they are
/// handed over and the worker takes the latest one; results arrive as queued signals, and a
/// result for an earlier selection is dropped.
class LivePreview : public QObject {
    Q_OBJECT
public:
    explicit LivePreview(settings::RunContext context, QObject* parent = nullptr);
    ~LivePreview() override;

    /// A new selection (recordId -1: none). Shows the busy state at once unless it is the image
    /// already held.
    void setSelection(std::int32_t recordId, const std::string& path,
                      imagefiles::FormatKind formatKind);
    /// New working settings or another page: renders again.
    void setSettings(const settings::Preset& working, int page);
    void setBackground(QColor background);
    /// True while the selected image is being loaded.
    [[nodiscard]] bool loading() const { return m_loading.load(); }
    /// The last picture shown (null before the first).
    [[nodiscard]] const PreviewRendering* current() const { return m_current.get(); }

signals:
    /// The selected image is being loaded.
    void busy();
    /// A picture for the current selection and settings.
    void pictureReady(const QImage& picture, const QString& caption);
    /// Nothing to show: `why` says why (empty without a selection).
    void cleared(const QString& why);

private:
    struct Request {
        std::int32_t recordId = -1;
        std::string path;
        imagefiles::FormatKind formatKind = imagefiles::FormatKind::None;
        std::uint64_t selection = 0; ///< counts selections
        settings::Preset preset;
        int page = 0;
        QColor background;
        std::uint64_t change = 0; ///< counts every request
    };
    void workerLoop();
    void deliver(std::uint64_t selection, std::shared_ptr<PreviewRendering> rendering);

    settings::RunContext m_context;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    Request m_request;   ///< guarded by m_mutex
    bool m_stop = false; ///< guarded by m_mutex
    std::atomic<bool> m_loading{false};
    std::int32_t m_heldRecordId = -1; ///< GUI side: selection last requested
    std::uint64_t m_selection = 0;    ///< GUI side: current selection count
    std::shared_ptr<PreviewRendering> m_current;
    std::thread m_thread;
};

/// The picture area: the picture and the size caption under it. Where there is no picture, the
/// picture's place says why; the red mark of settings out of range has a tooltip that names the
/// setting.
class LivePreviewPanel : public QWidget {
    Q_OBJECT
public:
    /// The name a user knows a field by (the field table's name in, "Page: label" out).
    using SettingNamer = std::function<QString(std::string_view field)>;

    explicit LivePreviewPanel(LivePreview& preview, QWidget* parent = nullptr);
    void setSettingNamer(SettingNamer namer) { m_namer = std::move(namer); }
    [[nodiscard]] QLabel* pictureLabel() const { return m_picture; }
    [[nodiscard]] QLabel* captionLabel() const { return m_caption; }

private:
    void showPicture(const QImage& picture, const QString& caption);

    LivePreview& m_preview;
    QLabel* m_picture;
    QLabel* m_caption;
    SettingNamer m_namer;
};

} // namespace quill::app::ui
