#pragma once

// The inside of the image control, shared by its two source files: the view (zoom,
// scroll bars, painting, the band) and the mouse (presses held back until they are
// known to be clicks, drags or double-clicks).

#include "imaging/ImageControl.h"

#include <QPainter>
#include <QRegion>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <optional>

namespace qc {

namespace imagecontrol {

// Far beyond any frame or zoom the station uses; keeps pixel arithmetic inside int.
inline constexpr double MaxExtent = 1 << 28;

inline int toPixel(double value)
{
    return static_cast<int>(std::clamp(std::round(value), -MaxExtent, MaxExtent));
}

inline int buttonCode(Qt::MouseButtons buttons)
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

inline int shiftCode(Qt::KeyboardModifiers modifiers)
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
inline QRegion outline(const QRect& rect)
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

} // namespace imagecontrol

// Only the control's own two sources include this header.
using namespace imagecontrol;

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

} // namespace qc
