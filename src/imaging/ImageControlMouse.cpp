#include "imaging/ImageControlPrivate.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QStyleHints>

namespace qc {

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

} // namespace qc
