#include "imaging/ImageControl.h"

#include "core/Error.h"
#include "core/VerifiedFile.h"

#include <QBuffer>

#include <QGuiApplication>
#include <QImageWriter>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QStyleHints>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <optional>

namespace qc {

namespace {

// Far beyond any frame or zoom the station uses; keeps pixel arithmetic inside int.
constexpr double MaxExtent = 1 << 28;

int toPixel(double value)
{
    return static_cast<int>(std::clamp(std::round(value), -MaxExtent, MaxExtent));
}

int buttonCode(Qt::MouseButtons buttons)
{
    int code = 0;
    if (buttons & Qt::LeftButton)
        code |= 1;
    if (buttons & Qt::RightButton)
        code |= 2;
    if (buttons & Qt::MiddleButton)
        code |= 4;
    return code;
}

int shiftCode(Qt::KeyboardModifiers modifiers)
{
    int code = 0;
    if (modifiers & Qt::ShiftModifier)
        code |= 1;
    if (modifiers & Qt::ControlModifier)
        code |= 2;
    if (modifiers & Qt::AltModifier)
        code |= 4;
    return code;
}

// The outline of a band as a region a few pixels thick, so that moving the band repaints
// its old and new edges and not the image inside it.
QRegion outline(const QRect& rect)
{
    if (rect.isNull())
        return {};
    const QRect outer = rect.adjusted(-2, -2, 2, 2);
    const QRect inner = rect.adjusted(2, 2, -2, -2);
    QRegion region(outer);
    if (inner.isValid())
        region -= QRegion(inner);
    return region;
}

} // namespace

class ImageControl::Private
{
public:
    // A button event not reported yet: a press that has not moved, or a held click.
    struct ButtonEvent
    {
        Qt::MouseButton button = Qt::NoButton;
        Qt::KeyboardModifiers modifiers;
        QPointF position;
    };

    explicit Private(ImageControl* control) : q(control) {}

    QPointF scrollOffset() const
    {
        return QPointF(q->horizontalScrollBar()->value(), q->verticalScrollBar()->value());
    }

    QSize scaledSize() const
    {
        if (image.isNull())
            return {};
        auto scaled = [this](int extent) {
            return std::max(1, toPixel(std::min(extent * zoom, MaxExtent)));
        };
        return QSize(scaled(image.width()), scaled(image.height()));
    }

    void applyFit()
    {
        if (!fit || image.isNull())
            return;
        // The space without scroll bars: a fitted image never needs them.
        const QSize space = q->maximumViewportSize();
        const double fitted = std::min(double(space.width()) / image.width(),
                                       double(space.height()) / image.height());
        if (fitted > 0)
            zoom = fitted;
    }

    void setZoom(double factor)
    {
        const double old = zoom;
        zoom = factor;
        updateScrollBars();
        // Keep the image point at the top-left corner of the view where it was.
        q->horizontalScrollBar()->setValue(toPixel(q->horizontalScrollBar()->value() * zoom / old));
        q->verticalScrollBar()->setValue(toPixel(q->verticalScrollBar()->value() * zoom / old));
        q->viewport()->update();
    }

    void updateScrollBars()
    {
        applyFit();
        const QSize shown = scaledSize();
        const QSize view = q->viewport()->size();
        QScrollBar* h = q->horizontalScrollBar();
        QScrollBar* v = q->verticalScrollBar();
        h->setPageStep(view.width());
        h->setSingleStep(std::max(1, view.width() / 20));
        h->setRange(0, std::max(0, shown.width() - view.width()));
        v->setPageStep(view.height());
        v->setSingleStep(std::max(1, view.height() / 20));
        v->setRange(0, std::max(0, shown.height() - view.height()));
    }

    void setImage(QImage newImage)
    {
        image = std::move(newImage);
        bandOn = false; // a band belongs to the image it was drawn on
        updateScrollBars();
        q->horizontalScrollBar()->setValue(0);
        q->verticalScrollBar()->setValue(0);
        q->viewport()->update();
    }

    QPointF imageToControl(QPointF imagePoint) const { return imagePoint * zoom - scrollOffset(); }

    QRect bandInControl() const
    {
        if (!bandOn)
            return {};
        const QPointF a = imageToControl(anchor);
        const QPointF c = imageToControl(corner);
        return QRect(QPoint(toPixel(std::min(a.x(), c.x())), toPixel(std::min(a.y(), c.y()))),
                     QPoint(toPixel(std::max(a.x(), c.x())), toPixel(std::max(a.y(), c.y()))));
    }

    void paintArea(QPainter& painter, const QRect& area) const
    {
        painter.fillRect(area, q->backgroundColor());
        if (image.isNull())
            return;
        // Only the image pixels under the area are drawn, with one pixel to spare on
        // each side, so that smoothing gives the same edge wherever an area is cut.
        const QPointF offset = scrollOffset();
        const QRectF mapped((area.x() + offset.x()) / zoom, (area.y() + offset.y()) / zoom,
                            area.width() / zoom, area.height() / zoom);
        const QRect source =
            QRect(QPoint(toPixel(std::floor(mapped.left())) - 1,
                         toPixel(std::floor(mapped.top())) - 1),
                  QPoint(toPixel(std::ceil(mapped.right())), toPixel(std::ceil(mapped.bottom())))) &
            image.rect();
        if (source.isEmpty())
            return;
        const QRectF target(source.x() * zoom - offset.x(), source.y() * zoom - offset.y(),
                            source.width() * zoom, source.height() * zoom);
        painter.save();
        painter.setClipRect(area);
        painter.drawImage(target, image, source);
        painter.restore();
    }

    void paintBand(QPainter& painter) const
    {
        if (!bandOn)
            return;
        const QRect band = bandInControl();
        // White under black dashes: visible over light and dark photos alike.
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(Qt::white, 0));
        painter.drawRect(band);
        painter.setPen(QPen(Qt::black, 0, Qt::DashLine));
        painter.drawRect(band);
    }

    void updateBand(const QRect& before)
    {
        q->viewport()->update(outline(before) + outline(bandInControl()));
    }

    QPointF twips(QPointF position) const
    {
        // Read afresh: the control may have moved to a screen of another density.
        const QScreen* screen = q->screen();
        const double dpiX = screen ? screen->logicalDotsPerInchX() : 96.0;
        const double dpiY = screen ? screen->logicalDotsPerInchY() : 96.0;
        return QPointF(position.x() * 1440.0 / dpiX, position.y() * 1440.0 / dpiY);
    }

    void reportDown(const ButtonEvent& event)
    {
        const QPointF at = twips(event.position);
        emit q->MouseDown(buttonCode(event.button), shiftCode(event.modifiers), float(at.x()),
                          float(at.y()));
    }

    void reportUp(const ButtonEvent& event)
    {
        const QPointF at = twips(event.position);
        emit q->MouseUp(buttonCode(event.button), shiftCode(event.modifiers), float(at.x()),
                        float(at.y()));
    }

    // The held press becomes a drag: the window learns of it at the point where it began.
    void startDrag()
    {
        const ButtonEvent press = *pendingPress;
        pendingPress.reset();
        dragging = true;
        reportDown(press);
    }

    // The held click was a plain click after all. State is cleared before reporting,
    // because the window may open a modal box (and so run events) inside MouseUp.
    void releaseHeldClick()
    {
        if (!heldPress)
            return;
        holdTimer.stop();
        const ButtonEvent press = *heldPress;
        const ButtonEvent release = heldRelease;
        heldPress.reset();
        reportDown(press);
        reportUp(release);
    }

    void forgetUnreported()
    {
        holdTimer.stop();
        pendingPress.reset();
        heldPress.reset();
        swallowing = false;
        dragging = false;
    }

    ImageControl* q;
    QImage image;
    double zoom = 1.0;
    bool fit = false;

    bool bandOn = false;
    QPointF anchor; // image pixels
    QPointF corner;

    QString saveName;
    int saveFormat = SaveFormatJpeg;
    int jpegQuality = DefaultJpegQuality;

    int holdInterval = -1;
    int dragThreshold = -1;
    std::optional<ButtonEvent> pendingPress;
    std::optional<ButtonEvent> heldPress;
    ButtonEvent heldRelease;
    QTimer holdTimer;
    bool dragging = false;
    bool swallowing = false;
};

ImageControl::ImageControl(QWidget* parent)
    : QAbstractScrollArea(parent), d(std::make_unique<Private>(this))
{
    setFrameShape(QFrame::NoFrame); // control pixels and viewport pixels are the same
    viewport()->setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAutoFillBackground(false);
    d->holdTimer.setSingleShot(true);
    connect(&d->holdTimer, &QTimer::timeout, this, [this] { d->releaseHeldClick(); });
}

ImageControl::~ImageControl() = default;

void ImageControl::setPicture(const QImage& image)
{
    d->setImage(image);
}

QImage ImageControl::picture() const
{
    return d->image;
}

bool ImageControl::hasImage() const
{
    return !d->image.isNull();
}

void ImageControl::zoomTo(float factor)
{
    if (!std::isfinite(factor) || factor <= 0.0f)
        throw Error(QStringLiteral("Fator de zoom inválido: %1.").arg(double(factor)));
    d->fit = false;
    d->setZoom(double(factor));
}

void ImageControl::fitToWindow(int mode)
{
    if (mode != FitBestFit)
        throw Error(QStringLiteral("Modo de ajuste à janela não suportado: %1.").arg(mode));
    d->fit = true;
    d->updateScrollBars();
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
    viewport()->update();
}

double ImageControl::zoomFactor() const
{
    return d->zoom;
}

bool ImageControl::isFitToWindow() const
{
    return d->fit;
}

void ImageControl::selectionBand(bool on, int x, int y)
{
    const QRect before = d->bandInControl();
    d->bandOn = on;
    if (on)
        d->anchor = d->corner = controlToImage(QPoint(x, y));
    d->updateBand(before);
}

void ImageControl::selectionBandTo(int x, int y)
{
    // Called from move handlers that trap nothing: without a band there is nothing to move.
    if (!d->bandOn)
        return;
    const QRect before = d->bandInControl();
    d->corner = controlToImage(QPoint(x, y));
    d->updateBand(before);
}

bool ImageControl::hasSelectionBand() const
{
    return d->bandOn;
}

void ImageControl::setSelectionRect(const QRect& imageRect)
{
    const QRect before = d->bandInControl();
    d->bandOn = true;
    d->anchor = QPointF(imageRect.topLeft());
    d->corner = QPointF(imageRect.x() + imageRect.width(), imageRect.y() + imageRect.height());
    d->updateBand(before);
}

QRect ImageControl::selectionRect() const
{
    if (!d->bandOn)
        return {};
    const int left = toPixel(std::min(d->anchor.x(), d->corner.x()));
    const int top = toPixel(std::min(d->anchor.y(), d->corner.y()));
    const int right = toPixel(std::max(d->anchor.x(), d->corner.x()));
    const int bottom = toPixel(std::max(d->anchor.y(), d->corner.y()));
    return QRect(left, top, right - left, bottom - top);
}

QImage ImageControl::selectionImage() const
{
    if (d->image.isNull())
        throw Error(QStringLiteral("Não há imagem para recortar."));
    if (!d->bandOn)
        throw Error(QStringLiteral("Nenhuma seleção foi marcada na imagem."));
    const QRect band = selectionRect();
    if (band.width() == 0 || band.height() == 0)
        throw Error(QStringLiteral("A seleção está vazia."));
    const QRect region = band & d->image.rect();
    if (region.isEmpty())
        throw Error(QStringLiteral("A seleção está fora da imagem."));
    return d->image.copy(region);
}

void ImageControl::setImageHandle(QImage image)
{
    d->setImage(std::move(image));
}

void ImageControl::setSaveName(const QString& path)
{
    d->saveName = path;
}

QString ImageControl::saveName() const
{
    return d->saveName;
}

void ImageControl::setSaveFormat(int format)
{
    d->saveFormat = format;
}

int ImageControl::saveFormat() const
{
    return d->saveFormat;
}

void ImageControl::setJpegQuality(int quality)
{
    d->jpegQuality = std::clamp(quality, 0, 100);
}

int ImageControl::jpegQuality() const
{
    return d->jpegQuality;
}

namespace {

// The JPEG encoder's bytes of image, or its reason in error when it refuses.
QByteArray jpegOf(const QImage& image, int quality, QString& error)
{
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    if (writer.write(image))
        return encoded;
    error = writer.errorString();
    return QByteArray();
}

} // namespace

void ImageControl::saveImage() const
{
    if (d->image.isNull())
        throw Error(QStringLiteral("Não há imagem para gravar."));
    if (d->saveName.isEmpty())
        throw Error(QStringLiteral("Nenhum nome de arquivo foi dado para gravar a imagem."));
    if (d->saveFormat != SaveFormatJpeg)
        throw Error(QStringLiteral("Formato de arquivo não suportado: %1.").arg(d->saveFormat));

    // Encoded in memory and written through the verified writer: a full disk or a folder
    // that refuses the file is reported, and a file already under the name stays as it was.
    QString error;
    const QByteArray encoded = jpegOf(d->image, d->jpegQuality, error);
    if (encoded.isEmpty())
        throw Error(
            QStringLiteral("Não foi possível gravar o arquivo \"%1\": %2").arg(d->saveName, error));
    VerifiedFile::write(d->saveName, encoded);
}

QByteArray ImageControl::encodeJpeg() const
{
    if (d->image.isNull())
        throw Error(QStringLiteral("Não há imagem para gravar."));
    QString error;
    QByteArray encoded = jpegOf(d->image, d->jpegQuality, error);
    if (encoded.isEmpty())
        throw Error(QStringLiteral("Não foi possível gravar a imagem: %1").arg(error));
    return encoded;
}

QPointF ImageControl::controlToImage(QPoint controlPixel) const
{
    return (QPointF(controlPixel) + d->scrollOffset()) / d->zoom;
}

void ImageControl::setBackgroundColor(const QColor& color)
{
    QPalette colours = palette();
    colours.setColor(viewport()->backgroundRole(), color);
    setPalette(colours);
    viewport()->update();
}

QColor ImageControl::backgroundColor() const
{
    return viewport()->palette().color(viewport()->backgroundRole());
}

int ImageControl::clickHoldInterval() const
{
    return d->holdInterval >= 0 ? d->holdInterval
                                : QGuiApplication::styleHints()->mouseDoubleClickInterval();
}

void ImageControl::setClickHoldInterval(int milliseconds)
{
    d->holdInterval = milliseconds;
}

int ImageControl::dragThreshold() const
{
    return d->dragThreshold >= 0 ? d->dragThreshold
                                 : QGuiApplication::styleHints()->startDragDistance();
}

void ImageControl::setDragThreshold(int pixels)
{
    d->dragThreshold = pixels;
}

bool ImageControl::isHoldingClick() const
{
    return d->heldPress.has_value();
}

void ImageControl::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    if (d->zoom != 1.0)
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
    for (const QRect& area : event->region())
        d->paintArea(painter, area);
    d->paintBand(painter);
}

void ImageControl::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    d->updateScrollBars();
}

void ImageControl::hideEvent(QHideEvent* event)
{
    // A hidden control has no click to finish: nothing unreported reaches the window later.
    d->forgetUnreported();
    QAbstractScrollArea::hideEvent(event);
}

void ImageControl::mousePressEvent(QMouseEvent* event)
{
    if (d->swallowing)
        return;
    // A press that Qt did not make the second click of a double-click ends the wait.
    d->releaseHeldClick();
    const Private::ButtonEvent press{event->button(), event->modifiers(), event->position()};
    if (d->pendingPress) {
        d->startDrag();
        d->reportDown(press);
    } else if (d->dragging) {
        d->reportDown(press);
    } else {
        d->pendingPress = press;
    }
}

void ImageControl::mouseMoveEvent(QMouseEvent* event)
{
    if (d->swallowing)
        return;
    if (d->pendingPress) {
        const QPointF moved = event->position() - d->pendingPress->position;
        if (std::abs(moved.x()) + std::abs(moved.y()) < dragThreshold())
            return;
        d->startDrag();
    }
    const QPointF at = d->twips(event->position());
    emit MouseMove(buttonCode(event->buttons()), shiftCode(event->modifiers()), float(at.x()),
                   float(at.y()));
}

void ImageControl::mouseReleaseEvent(QMouseEvent* event)
{
    if (d->swallowing) {
        d->swallowing = event->buttons() != Qt::NoButton;
        return;
    }
    const Private::ButtonEvent release{event->button(), event->modifiers(), event->position()};
    if (d->pendingPress && d->pendingPress->button == event->button()) {
        d->heldPress = d->pendingPress;
        d->heldRelease = release;
        d->pendingPress.reset();
        d->holdTimer.start(clickHoldInterval());
        return;
    }
    if (event->buttons() == Qt::NoButton)
        d->dragging = false;
    d->reportUp(release);
}

void ImageControl::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (d->heldPress && d->heldPress->button == event->button() && !d->swallowing) {
        d->holdTimer.stop();
        d->heldPress.reset();
        d->swallowing = true;
        emit DblClick();
        return;
    }
    // The first click was a drag and has been reported: this one starts afresh.
    mousePressEvent(event);
}

void ImageControl::scrollContentsBy(int, int)
{
    viewport()->update();
}

} // namespace qc
