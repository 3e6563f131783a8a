#include "camera/PreviewImage.h"

namespace qc {

QImage previewImage(const QImage& frame, QSize area, bool scale)
{
    if (frame.isNull() || !scale || area.isEmpty() || frame.size() == area)
        return frame;
    return frame.scaled(area, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace qc
