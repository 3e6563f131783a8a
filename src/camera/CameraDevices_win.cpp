// The Windows build lists no webcams yet: only the test pattern (--demo) and the
// picture-file driver (--camera-file), which work everywhere. Without either the device
// list says that no device is available, as on a machine without capture drivers.
// The capture library's code is shared with Linux, so V4L2's device driver and udev's
// monitor are here as what they are on Windows: no device found, nothing to watch.
#include "camera/CameraMonitor.h"
#include "camera/FrameConverter.h"
#include "camera/PreviewImage.h"
#include "camera/V4l2Driver.h"

namespace qc {

CameraMonitor::CameraMonitor(QObject* parent) : QObject(parent) {}
CameraMonitor::~CameraMonitor() = default;
void CameraMonitor::receive() {}

FrameConverter::~FrameConverter() = default;

QList<V4l2Driver::Device> V4l2Driver::enumerate(const QString&, int)
{
    return {};
}

V4l2Driver::V4l2Driver(Device device, QObject* parent)
    : CaptureDriver(parent), m_device(std::move(device))
{}

V4l2Driver::~V4l2Driver() = default;

void V4l2Driver::setRequestedFormat(std::uint32_t pixelFormat, QSize size)
{
    m_requestedFormat = pixelFormat;
    m_requestedSize = size;
}

CameraStatus V4l2Driver::open()
{
    return CaptureError{CaptureError::Kind::Failed, QString()};
}

void V4l2Driver::close() {}

QImage V4l2Driver::currentFrame() const
{
    return {};
}

QImage V4l2Driver::previewFrame(QSize) const
{
    return {};
}

QList<CaptureControl> V4l2Driver::controls() const
{
    return {};
}

bool V4l2Driver::setControl(quint32, int)
{
    return false;
}

int V4l2Driver::controlValue(quint32) const
{
    return 0;
}

} // namespace qc
