#include "camera/CameraDevices.h"

#include "camera/V4l2Driver.h"

namespace qc {

QList<CameraDevice> listCameraDevices(const QString& where, int limit)
{
    QList<CameraDevice> devices;
    for (const V4l2Driver::Device& node : V4l2Driver::enumerate(where, limit))
        devices.append({node.path, node.card});
    return devices;
}

std::unique_ptr<CaptureDriver> makeCameraDriver(const CameraDevice& device)
{
    return std::make_unique<V4l2Driver>(V4l2Driver::Device{device.id, device.name});
}

} // namespace qc
