// The live preview worker and its rendering.
#include "app/ui/preview/live_preview.h"

#include "batch/prepare.h"
#include "imagefiles/format.h"
#include "imagefiles/image_list.h"
#include "imagefiles/image_loader.h"
#include "imagefiles/jpeg_decoder.h"
#include "pipeline/edit_chain.h"
#include "pipeline/image_steps.h"
#include "pipeline/resize.h"
#include "settings/filter_conditions.h"
#include "settings/language_pack.h"
#include "settings/placeholders.h"
#include "settings/preset_range.h"
#include "settings/ui_text_ids.h"
#include "toolkit/platform/platform.h"
#include "toolkit/qt/image_convert.h"

#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <variant>

namespace quill::app::ui {
namespace {

namespace text = settings::text;

QString ui(int index) {
    return QString::fromStdString(settings::uiText(index));
}

/// The reduced size of a full-size image: the resize operation's measurement for fitting
/// 144 x 144 without enlarging.
bool measureReduced(int fullWidth, int fullHeight, int& width, int& height) {
    const auto size = pipeline::measureScale({.limit = pipeline::ScaleLimit::NeverEnlarge,
                                              .targetX = float(kPreviewSide),
                                              .targetY = float(kPreviewSide)},
                                             fullWidth, fullHeight);
    if (!size) return false;
    width = size->width;
    height = size->height;
    return width > 0 && height > 0;
}

/// Whether a positive size may scale down to 0 (a margin may vanish, a width may not).
enum class Small { MayVanish, StaysPositive };

int scaled(int value, float scale, Small small) {
    const int result = int(std::lround(double(value) * double(scale)));
    return (small == Small::StaysPositive && value > 0 && result < 1) ? 1 : result;
}

/// The size a run writes for the full image: the full size through the size-changing steps of
/// the working settings, measured as the run measures them. Scaling the reduced result back
/// instead misses by a few pixels, as every step rounds at the reduced size. Only a trim, which
/// depends on the pixels, is taken from the reduced image (`reducedAfterCrop`) and scaled back.
std::optional<pipeline::EditedSize> fullResultSize(const PreviewGeometry& g,
                                                   const settings::Preset& working,
                                                   const settings::RunContext& context,
                                                   pipeline::EditedSize reducedAfterCrop,
                                                   std::int32_t orientation) {
    settings::Preset sizing = working;
    sizing.overlayEnabled = 0; // keeps the size; its image file need not be read
    const pipeline::EditPlan plan =
        pipeline::makeEditPlan(sizing, settings::deriveRunSettings(sizing, context));
    std::optional<pipeline::EditedSize> trimmed;
    if (plan.crop && std::holds_alternative<pipeline::TrimOptions>(*plan.crop) && g.scale > 0) {
        trimmed = pipeline::EditedSize{
            std::min(g.sourceWidth, int(std::lround(reducedAfterCrop.width / double(g.scale)))),
            std::min(g.sourceHeight, int(std::lround(reducedAfterCrop.height / double(g.scale))))};
    }
    return pipeline::measureEditChain(plan, g.sourceWidth, g.sourceHeight, trimmed, orientation);
}

/// The picture: the result centred on the background with a grey outline, and a red mark in the
/// corner when the settings are out of range or a step failed. A result larger than the picture
/// (an enlarging resize or canvas, most of all on a small image, which is not reduced first) is
/// reduced to fit, so that the whole of it shows, never a magnified part.
QImage composePicture(const toolkit::Image& result, QColor background, bool marked) {
    QImage picture(kPreviewSide, kPreviewSide, QImage::Format_ARGB32_Premultiplied);
    picture.fill(background);
    QPainter painter(&picture);
    if (!result.empty()) {
        QImage shown = toolkit::qt::toQImage(result);
        if (shown.width() > kPreviewSide || shown.height() > kPreviewSide)
            shown = shown.scaled(kPreviewSide, kPreviewSide, Qt::KeepAspectRatio,
                                 Qt::SmoothTransformation);
        const int x = (kPreviewSide - shown.width()) / 2;
        const int y = (kPreviewSide - shown.height()) / 2;
        painter.drawImage(x, y, shown);
        painter.setPen(QColor(128, 128, 128));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(x - 1, y - 1, shown.width() + 1, shown.height() + 1);
    }
    if (marked) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(200, 30, 30));
        painter.drawEllipse(QRectF(kPreviewSide - 17, 3, 14, 14));
        painter.setBrush(Qt::white);
        painter.drawRect(QRectF(kPreviewSide - 11, 5.5, 2, 6));
        painter.drawRect(QRectF(kPreviewSide - 11, 12.5, 2, 2));
    }
    return picture;
}

} // namespace

PreviewSource reduceForPreview(toolkit::Image decoded, int fullWidth, int fullHeight) {
    PreviewSource source;
    int width = 0;
    int height = 0;
    if (decoded.empty() || !measureReduced(fullWidth, fullHeight, width, height)) return source;
    if (!pipeline::resizeImageSmooth(decoded, width, height)) return source;
    source.image = std::move(decoded);
    auto& g = source.geometry;
    g.sourceWidth = fullWidth;
    g.sourceHeight = fullHeight;
    g.reducedWidth = g.resultWidth = width;
    g.reducedHeight = g.resultHeight = height;
    g.scale = std::min(float(width) / float(fullWidth), float(height) / float(fullHeight));
    return source;
}

namespace {

/// The file decoded (a JPEG reduced in its DCT) and reduced for the preview.
PreviewSource loadReduced(const std::string& path, imagefiles::FormatKind formatKind,
                          const std::function<bool()>& keepWaiting) {
    if (formatKind == imagefiles::FormatKind::Jpeg) {
        const auto bytes = platform::readFile(path, std::size_t(1) << 30);
        imagefiles::ImageRect full;
        int width = 0;
        int height = 0;
        if (bytes && imagefiles::readImageSizeFromBytes(*bytes, full) &&
            measureReduced(full.width, full.height, width, height)) {
            toolkit::Image decoded = imagefiles::decodeJpegReduced(*bytes, width, height);
            if (!decoded.empty())
                return reduceForPreview(std::move(decoded), full.width, full.height);
        }
    }
    toolkit::Image image = imagefiles::loadImageFileBudgeted(path, formatKind, keepWaiting).image;
    const int width = image.width();
    const int height = image.height();
    return reduceForPreview(std::move(image), width, height);
}

} // namespace

PreviewSource loadPreviewSource(const std::string& path, imagefiles::FormatKind formatKind,
                                const std::function<bool()>& keepWaiting) {
    if (formatKind == imagefiles::FormatKind::None)
        formatKind = imagefiles::detectFormatByExtension(path, imagefiles::Videos::Excluded);
    PreviewSource source = loadReduced(path, formatKind, keepWaiting);
    source.orientation = pipeline::uprightOrientation(path, formatKind);
    return source;
}

settings::Preset scaledForPreview(const settings::Preset& preset, float scale) {
    settings::Preset s = preset;
    s.cropLeft = std::int16_t(scaled(s.cropLeft, scale, Small::MayVanish));
    s.cropRight = std::int16_t(scaled(s.cropRight, scale, Small::MayVanish));
    s.cropTop = std::int16_t(scaled(s.cropTop, scale, Small::MayVanish));
    s.cropBottom = std::int16_t(scaled(s.cropBottom, scale, Small::MayVanish));
    s.resizeWidth = std::int16_t(scaled(s.resizeWidth, scale, Small::StaysPositive));
    s.resizeHeight = std::int16_t(scaled(s.resizeHeight, scale, Small::StaysPositive));
    s.canvasWidth = std::int16_t(scaled(s.canvasWidth, scale, Small::StaysPositive));
    s.canvasHeight = std::int16_t(scaled(s.canvasHeight, scale, Small::StaysPositive));
    s.overlayFontSize = std::uint8_t(scaled(s.overlayFontSize, scale, Small::StaysPositive));
    s.overlayLineSpacing = std::int8_t(scaled(s.overlayLineSpacing, scale, Small::MayVanish));
    s.overlayOutlineWidth =
        std::uint8_t(scaled(s.overlayOutlineWidth, scale, Small::StaysPositive));
    s.overlayHorizontalMargin =
        std::int16_t(scaled(s.overlayHorizontalMargin, scale, Small::MayVanish));
    s.overlayVerticalMargin =
        std::int16_t(scaled(s.overlayVerticalMargin, scale, Small::MayVanish));
    return s;
}

bool pageShowsSizes(int page, const settings::Preset& p) {
    return (page == 2 && p.cropEnabled) || (page == 3 && p.rotateEnabled) ||
           (page == 4 && p.resizeEnabled) || (page == 6 && p.canvasEnabled);
}

PreviewRendering renderPreview(const PreviewSource& source, const settings::Preset& working,
                               const settings::RunContext& context, QColor background, int page) {
    PreviewRendering out;
    out.geometry = source.geometry;
    if (source.image.empty()) return out;
    pipeline::EditedSize afterCrop; // of the reduced image
    out.outOfRange = std::string(settings::fieldOutOfRange(working));
    out.inRange = out.outOfRange.empty();
    if (out.inRange) {
        const float scale = source.geometry.scale;
        const settings::Preset s = scaledForPreview(working, scale);
        const settings::RunSettings run = settings::deriveRunSettings(s, context);
        pipeline::EditPlan plan = pipeline::makeEditPlan(s, run);
        if (plan.overlay && !plan.overlay->image.empty() && scale < 1.0f) {
            toolkit::Image& overlayImage = plan.overlay->image;
            const int w = std::max(1, scaled(overlayImage.width(), scale, Small::StaysPositive));
            const int h = std::max(1, scaled(overlayImage.height(), scale, Small::StaysPositive));
            (void)pipeline::resizeImageSmooth(overlayImage, w, h);
        }
        const pipeline::EditTools tools(plan);
        const std::string text = settings::expandImageTokens(
            run.overlayTextRun, settings::samplePlaceholderValues(), s.noZeroPadding != 0);
        toolkit::Image image = source.image.clone();
        const pipeline::EditOutcome outcome = pipeline::applyEditChain(
            image, plan, tools, text,
            [&](pipeline::EditStep step) {
                if (step == pipeline::EditStep::Crop) afterCrop = {image.width(), image.height()};
            },
            std::nullopt, source.orientation);
        if (outcome.result == pipeline::ImageResult::Done && !image.empty())
            out.result = std::move(image);
        else
            out.failed = true;
    }
    if (out.result.empty()) out.result = source.image.clone();
    out.geometry.resultWidth = out.result.width();
    out.geometry.resultHeight = out.result.height();
    out.picture = composePicture(out.result, background, !out.inRange || out.failed);
    if (pageShowsSizes(page, working) && out.inRange && !out.failed) {
        const auto& g = out.geometry;
        if (const auto full = fullResultSize(g, working, context, afterCrop, source.orientation)) {
            out.caption = QStringLiteral("%1: %2 x %3\n%4: %5 x %6")
                              .arg(QString::fromStdString(settings::uiText(text::kOriginal)))
                              .arg(g.sourceWidth)
                              .arg(g.sourceHeight)
                              .arg(QString::fromStdString(settings::uiText(text::kPreviewResult)))
                              .arg(full->width)
                              .arg(full->height);
        }
    }
    return out;
}

QString unloadableReason(const std::string& path) {
    // A file that opens and gives its first bytes is there to read; one whose header names a
    // size is an image that failed to decode.
    auto file = platform::InputFile::open(path);
    std::array<std::uint8_t, 64> head{};
    if (!file || !file->readAt(0, head)) return ui(text::kUnreadableFile);
    imagefiles::ImageRect size;
    int readError = 0;
    if (imagefiles::readImageSize(path, size, &readError)) return ui(text::kLoadingFailed);
    return ui(readError != 0 ? text::kUnreadableFile : text::kNotAnImage);
}

bool leftOutByFilter(const std::string& path, const settings::Preset& working,
                     const settings::RunContext& context) {
    if (working.filterEnabled != 1 ||
        std::none_of(working.filterConditions.begin(), working.filterConditions.end(),
                     settings::isActive))
        return false;
    // A record of its own, as the loader makes it, prepared as a preview run prepares it.
    imagefiles::ImageList images;
    if (!imagefiles::addImageRecord(
            path, images, {.includeHiddenFiles = true, .videos = imagefiles::Videos::Included}))
        return false;
    images.setCurrentIndex(0);
    imagefiles::ImageList keep(images.lastRecordId());
    const settings::RunSettings run = settings::deriveRunSettings(working, context);
    pipeline::RunFlags flags;
    flags.runActive = 1;
    batch::PrepareEnvironment environment{.images = images,
                                          .keepList = keep,
                                          .settings = working,
                                          .run = run,
                                          .flags = flags,
                                          .previewRun = true};
    batch::prepare(environment);
    return !images.empty() && images[0].resultState == imagefiles::ImageResult::Pending &&
           images[0].resultCode == imagefiles::DetailFiltered;
}

PreviewDecision PreviewEnabling::evaluate(int page, bool rowSelected, const settings::Preset& p) {
    bool enabled = false;
    switch (page) {
    case 0:
        enabled = rowSelected;
        break;
    case 2:
        enabled = p.cropEnabled;
        break;
    case 3:
        enabled = p.rotateEnabled;
        break;
    case 4:
        enabled = p.resizeEnabled;
        break;
    case 5:
        enabled = p.brightnessEnabled || p.saturationEnabled || p.contrastEnabled ||
                  p.gammaEnabled || p.channelAdjustEnabled;
        break;
    case 6:
        enabled = p.canvasEnabled;
        break;
    case 7:
        enabled = p.overlayEnabled;
        break;
    default:
        break;
    }
    const bool refresh = enabled && page != m_lastPage;
    if (!enabled && page != 0 && page == m_lastPage && m_lastEnabled) enabled = true;
    m_lastPage = page;
    m_lastEnabled = enabled;
    return {.enabled = enabled, .refresh = refresh};
}

LivePreview::LivePreview(settings::RunContext context, QObject* parent)
    : QObject(parent), m_context(std::move(context)) {
    m_thread = std::thread([this] { workerLoop(); });
}

LivePreview::~LivePreview() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void LivePreview::setSelection(std::int32_t recordId, const std::string& path,
                               imagefiles::FormatKind formatKind) {
    if (recordId == m_heldRecordId) return;
    m_heldRecordId = recordId;
    ++m_selection;
    m_current.reset();
    {
        std::lock_guard lock(m_mutex);
        m_request.recordId = recordId;
        m_request.path = path;
        m_request.formatKind = formatKind;
        m_request.selection = m_selection;
        ++m_request.change;
    }
    m_wake.notify_all();
    if (recordId < 0)
        emit cleared(QString());
    else
        emit busy();
}

void LivePreview::setSettings(const settings::Preset& working, int page) {
    {
        std::lock_guard lock(m_mutex);
        m_request.preset = working;
        m_request.page = page;
        ++m_request.change;
    }
    m_wake.notify_all();
}

void LivePreview::setBackground(QColor background) {
    {
        std::lock_guard lock(m_mutex);
        m_request.background = background;
        ++m_request.change;
    }
    m_wake.notify_all();
}

void LivePreview::workerLoop() {
    std::uint64_t doneChange = 0;
    std::uint64_t heldSelection = 0;
    PreviewSource source;
    QString sourceProblem; ///< why the held selection gives no picture
    // The filter's decision for the held selection, kept while the settings it depends on stay.
    struct FilterDecision {
        bool known = false;
        std::uint8_t enabled = 0;
        std::uint8_t exifDate = 0;
        std::vector<settings::FilterCondition> conditions;
        bool leftOut = false;
    } filter;
    for (;;) {
        Request request;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [&] { return m_stop || m_request.change != doneChange; });
            if (m_stop) return;
            request = m_request;
        }
        if (request.selection != heldSelection) {
            source = PreviewSource{};
            sourceProblem.clear();
            filter = {};
            if (request.recordId >= 0) {
                m_loading = true;
                // A run may hold the memory budget: wait for room until the preview stops.
                source = loadPreviewSource(request.path, request.formatKind, [this] {
                    std::lock_guard lock(m_mutex);
                    return !m_stop;
                });
                if (source.image.empty()) sourceProblem = unloadableReason(request.path);
                m_loading = false;
            }
            heldSelection = request.selection;
            // A newer selection that arrived while loading is taken first.
            std::lock_guard lock(m_mutex);
            if (m_request.selection != heldSelection) continue;
        }
        doneChange = request.change;
        if (request.recordId < 0) continue;
        const settings::Preset& p = request.preset;
        if (sourceProblem.isEmpty() && settings::presetInRange(p) &&
            (!filter.known || filter.enabled != p.filterEnabled ||
             filter.exifDate != p.useExifDate || filter.conditions != p.filterConditions)) {
            filter = {.known = true,
                      .enabled = p.filterEnabled,
                      .exifDate = p.useExifDate,
                      .conditions = p.filterConditions,
                      .leftOut = leftOutByFilter(request.path, p, m_context)};
        }
        auto rendering = std::make_shared<PreviewRendering>();
        if (!sourceProblem.isEmpty())
            rendering->emptyReason = sourceProblem;
        else if (filter.known && filter.leftOut && settings::presetInRange(p))
            rendering->emptyReason = ui(text::kExcludedByFilter);
        else
            *rendering = renderPreview(source, p, m_context, request.background, request.page);
        QMetaObject::invokeMethod(
            this,
            [this, selection = request.selection, rendering] { deliver(selection, rendering); },
            Qt::QueuedConnection);
    }
}

void LivePreview::deliver(std::uint64_t selection, std::shared_ptr<PreviewRendering> rendering) {
    if (selection != m_selection) return; // made for an earlier selection
    if (rendering->picture.isNull()) {
        m_current.reset();
        emit cleared(rendering->emptyReason);
        return;
    }
    m_current = std::move(rendering);
    emit pictureReady(m_current->picture, m_current->caption);
}

LivePreviewPanel::LivePreviewPanel(LivePreview& preview, QWidget* parent)
    : QWidget(parent), m_preview(preview) {
    m_picture = new QLabel(this);
    m_picture->setFixedSize(kPreviewSide, kPreviewSide);
    m_picture->setAlignment(Qt::AlignCenter);
    m_picture->setWordWrap(true); // the reason when there is no picture
    m_caption = new QLabel(this);
    m_caption->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    // Room for the two lines of the caption, with sides of up to four digits, whether it shows
    // or not: such a caption never widens the panel and moves its neighbours.
    const QFontMetrics metrics = m_caption->fontMetrics();
    int widest = kPreviewSide;
    for (int label : {text::kOriginal, text::kPreviewResult})
        widest = std::max(
            widest, metrics.horizontalAdvance(QString::fromStdString(settings::uiText(label)) +
                                              QStringLiteral(": 8888 x 8888")));
    m_caption->setMinimumSize(widest, 2 * metrics.lineSpacing());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_picture, 0, Qt::AlignHCenter);
    layout->addWidget(m_caption);
    // The panel keeps its place while hidden, so that nothing beside it moves when it appears,
    // and it is never squeezed over its neighbours.
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    policy.setRetainSizeWhenHidden(true);
    setSizePolicy(policy);
    connect(&preview, &LivePreview::pictureReady, this, &LivePreviewPanel::showPicture);
    connect(&preview, &LivePreview::busy, this, [this] {
        m_picture->setPixmap({});
        m_picture->setText(QStringLiteral("..."));
        m_picture->setToolTip(QString());
        m_caption->clear();
    });
    connect(&preview, &LivePreview::cleared, this, [this](const QString& why) {
        m_picture->setPixmap({});
        m_picture->setText(why);
        m_picture->setToolTip(QString());
        m_caption->clear();
    });
}

void LivePreviewPanel::showPicture(const QImage& picture, const QString& caption) {
    m_picture->setPixmap(QPixmap::fromImage(picture));
    m_caption->setText(caption);
    // The red mark's tooltip says what it marks.
    QString tip;
    if (const PreviewRendering* shown = m_preview.current()) {
        if (!shown->inRange) {
            const QString name = m_namer ? m_namer(shown->outOfRange) : QString();
            tip = ui(text::kSettingOutOfRange) + QLatin1Char('\n') +
                  (name.isEmpty() ? QString::fromStdString(shown->outOfRange) : name);
        } else if (shown->failed) {
            tip = ui(text::kProcessingFailed);
        }
    }
    m_picture->setToolTip(tip);
}

} // namespace quill::app::ui
