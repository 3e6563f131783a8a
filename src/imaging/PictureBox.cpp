#include "imaging/PictureBox.h"

#include <QPainter>

namespace qc {

PictureBox::PictureBox(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureBox::setPicture(const QImage& image)
{
    m_picture = image;
    update();
}

void PictureBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(backgroundRole()));
    if (!m_picture.isNull())
        painter.drawImage(QPoint(0, 0), m_picture);
}

} // namespace qc
