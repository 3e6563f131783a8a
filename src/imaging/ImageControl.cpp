#include "imaging/ImageControl.h"

#include "core/Error.h"
#include "core/VerifiedFile.h"
#include "imaging/ImageControlPrivate.h"

#include <QBuffer>
#include <QImageWriter>
#include <QPaintEvent>

namespace qc {

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

void ImageControl::scrollContentsBy(int, int)
{
    viewport()->update();
}

} // namespace qc
