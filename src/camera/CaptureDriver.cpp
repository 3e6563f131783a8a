#include "camera/CaptureDriver.h"

#include "camera/PreviewImage.h"

namespace qc {

QImage CaptureDriver::previewFrame(QSize size) const
{
    return stretchToRgb32(currentFrame(), size);
}

} // namespace qc
