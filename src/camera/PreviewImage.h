#pragma once

#include <QImage>
#include <QSize>

namespace qc {

// The picture a capture window shows for a frame: stretched to the window's client
// area when scaling is on, else the frame as it is (drawn from the top-left corner).
QImage previewImage(const QImage& frame, QSize area, bool scale);

} // namespace qc
