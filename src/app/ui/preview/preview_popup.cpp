// The image preview popup.
#include "app/ui/preview/preview_popup.h"

#include "settings/language_pack.h"
#include "settings/ui_text_ids.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSvgRenderer>

namespace quill::app::ui {
namespace {

constexpr int kInset = 5;
constexpr int kStripWidth = 27;
constexpr int kArrowWidth = 17;
constexpr int kArrowHeight = 50;
/// Side of the program's icon on the busy picture.
constexpr int kBusyIconSide = 96;

namespace text = settings::text;

QString ui(int index) {
    return QString::fromStdString(settings::uiText(index));
}

/// Valid settings with every operation off: the popup shows the image as it is.
settings::Preset unprocessed() {
    settings::Preset p = settings::defaultPreset(0, "");
    p.cropEnabled = p.rotateEnabled = p.resizeEnabled = 0;
    p.brightnessEnabled = p.saturationEnabled = p.contrastEnabled = p.gammaEnabled = 0;
    p.channelAdjustEnabled = p.canvasEnabled = p.overlayEnabled = 0;
    return p;
}

} // namespace

QImage programIcon(int side) {
    QImage icon(side, side, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    QSvgRenderer renderer(QStringLiteral(":/quillmere/quillmere.svg"));
    QPainter painter(&icon);
    renderer.render(&painter);
    return icon;
}

QImage busyPicture(QColor background) {
    // Drawn once: the busy picture appears on every change of the selection.
    static const QImage icon = programIcon(kBusyIconSide);
    QImage picture(kPreviewSide, kPreviewSide, QImage::Format_ARGB32_Premultiplied);
    picture.fill(background);
    QPainter painter(&picture);
    painter.drawImage((kPreviewSide - icon.width()) / 2, (kPreviewSide - icon.height()) / 2, icon);
    return picture;
}

QRect PreviewPopup::leftStrip() {
    return {kInset, kInset, kStripWidth, kSide - 2 * kInset};
}

QRect PreviewPopup::rightStrip() {
    return {kSide - kInset - kStripWidth, kInset, kStripWidth, kSide - 2 * kInset};
}

PreviewPopup::PreviewPopup(settings::RunContext context, QWidget* parent)
    : QWidget(parent), m_preview(std::move(context)) {
    setObjectName(QStringLiteral("Image preview window"));
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setFixedSize(kSide, kSide);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::ToolTipBase));
    setPalette(pal);
    setMouseTracking(true);
    setToolTip(ui(text::kDoubleClick));

    m_picture = new QLabel(this);
    m_picture->setGeometry(kInset, kInset, kPreviewSide, kPreviewSide);
    m_picture->setAlignment(Qt::AlignCenter);
    m_picture->setWordWrap(true); // the reason when there is no picture
    m_picture->setMouseTracking(true);
    m_picture->installEventFilter(this);

    m_previous = new QPushButton(QStringLiteral("<"), this);
    m_next = new QPushButton(QStringLiteral(">"), this);
    const int y = (kSide - kArrowHeight) / 2;
    m_previous->setGeometry(kInset, y, kArrowWidth, kArrowHeight);
    m_next->setGeometry(kSide - kInset - kArrowWidth, y, kArrowWidth, kArrowHeight);
    m_previous->setToolTip(ui(text::kPreviousImage));
    m_next->setToolTip(ui(text::kNextImage));
    for (QPushButton* b : {m_previous, m_next}) {
        b->hide();
        b->setFocusPolicy(Qt::NoFocus);
        b->setMouseTracking(true);
        b->installEventFilter(this);
    }
    connect(m_previous, &QPushButton::clicked, this, [this] {
        if (!m_runActive) emit previousRequested();
    });
    connect(m_next, &QPushButton::clicked, this, [this] {
        if (!m_runActive) emit nextRequested();
    });

    m_preview.setBackground(pal.color(QPalette::ToolTipBase));
    m_preview.setSettings(unprocessed(), 0);
    connect(&m_preview, &LivePreview::pictureReady, this, [this](const QImage& picture) {
        m_lastPicture = picture;
        if (!m_runActive) m_picture->setPixmap(QPixmap::fromImage(picture));
    });
    connect(&m_preview, &LivePreview::busy, this, [this] {
        m_lastPicture = QImage();
        m_picture->setPixmap(
            QPixmap::fromImage(busyPicture(palette().color(QPalette::ToolTipBase))));
    });
    connect(&m_preview, &LivePreview::cleared, this, [this](const QString& why) {
        m_lastPicture = QImage();
        m_picture->clear();
        m_picture->setText(why);
    });
}

void PreviewPopup::setSelection(std::int32_t recordId, const std::string& path,
                                imagefiles::FormatKind formatKind) {
    m_preview.setSelection(recordId, path, formatKind);
}

void PreviewPopup::setImageCount(int count) {
    m_imageCount = count;
    updateArrows(mapFromGlobal(QCursor::pos()));
}

void PreviewPopup::setPreviewRunActive(bool active) {
    m_runActive = active;
    if (active)
        m_picture->setPixmap(
            QPixmap::fromImage(busyPicture(palette().color(QPalette::ToolTipBase))));
    else if (!m_lastPicture.isNull())
        m_picture->setPixmap(QPixmap::fromImage(m_lastPicture));
    updateArrows(mapFromGlobal(QCursor::pos()));
}

void PreviewPopup::setPlaceholderWindowOpen(bool open) {
    m_placeholderOpen = open;
    updateArrows(mapFromGlobal(QCursor::pos()));
}

bool PreviewPopup::arrowsAllowed() const {
    return !m_runActive && !m_placeholderOpen && m_imageCount > 1;
}

void PreviewPopup::updateArrows(QPoint pointer) {
    const bool allowed = arrowsAllowed() && rect().contains(pointer);
    m_previous->setVisible(allowed && leftStrip().contains(pointer));
    m_next->setVisible(allowed && rightStrip().contains(pointer));
}

void PreviewPopup::mouseMoveEvent(QMouseEvent* event) {
    updateArrows(event->position().toPoint());
    QWidget::mouseMoveEvent(event);
}

void PreviewPopup::leaveEvent(QEvent* event) {
    m_previous->hide();
    m_next->hide();
    QWidget::leaveEvent(event);
}

void PreviewPopup::mouseDoubleClickEvent(QMouseEvent* event) {
    if (!m_runActive) emit previewRunRequested();
    QWidget::mouseDoubleClickEvent(event);
}

void PreviewPopup::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

bool PreviewPopup::eventFilter(QObject* watched, QEvent* event) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget && event->type() == QEvent::MouseMove) {
        const auto* move = static_cast<QMouseEvent*>(event);
        updateArrows(widget->mapTo(this, move->position().toPoint()));
    } else if (widget == m_picture && event->type() == QEvent::MouseButtonDblClick) {
        if (!m_runActive) emit previewRunRequested();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace quill::app::ui
