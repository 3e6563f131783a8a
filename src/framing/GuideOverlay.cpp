#include "framing/GuideOverlay.h"

#include <QPainter>

namespace qc {

GuideOverlay::GuideOverlay(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
}

void GuideOverlay::setVerdict(const GuideVerdict& verdict)
{
    if (verdict == m_verdict && verdict.frameSize == m_verdict.frameSize)
        return;
    m_verdict = verdict;
    update();
}

QRect GuideOverlay::shownCrop() const
{
    const QSize frame = m_verdict.frameSize;
    if (m_verdict.crop.isEmpty() || frame.isEmpty())
        return {};
    const double sx = double(width()) / frame.width();
    const double sy = double(height()) / frame.height();
    const QRect& c = m_verdict.crop;
    return QRectF(c.x() * sx, c.y() * sy, c.width() * sx, c.height() * sy).toAlignedRect();
}

void GuideOverlay::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor colour = m_verdict.good ? goodColour() : hintColour();
    const QRect crop = shownCrop();
    if (!crop.isEmpty()) {
        painter.setPen(QPen(colour, 3));
        painter.drawRect(crop.adjusted(1, 1, -2, -2));
    }
    if (m_verdict.hint.isEmpty())
        return;
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(16);
    painter.setFont(font);
    const QRect band(0, height() - 28, width(), 28);
    painter.fillRect(band, QColor(0, 0, 0, 150));
    painter.setPen(colour);
    painter.drawText(band, Qt::AlignCenter, m_verdict.hint);
}

} // namespace qc
