#pragma once

#include <QList>
#include <QString>

#include <memory>

namespace qc {

class CaptureDriver;

// A webcam of this machine, as the platform names it: id tells devices apart and stays
// the same while the device is plugged in (a device node's path, a Media Foundation
// source's symbolic link); name is what the device list shows.
struct CameraDevice
{
    QString id;
    QString name;
};

// The machine's webcams in a stable order, at most limit: on Linux the V4L2 capture
// nodes under where (/dev), in node-number order; on Windows Media Foundation's video
// capture sources (where is not used), by name. Empty where there are none.
QList<CameraDevice> listCameraDevices(const QString& where, int limit);

// The platform's driver for a device that listCameraDevices gave.
std::unique_ptr<CaptureDriver> makeCameraDriver(const CameraDevice& device);

} // namespace qc
