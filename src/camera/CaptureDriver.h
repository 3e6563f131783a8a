#pragma once

#include "camera/CameraResult.h"
#include "camera/CaptureControl.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QSize>
#include <QString>

namespace qc {

// A source of video frames that a capture window can connect to. Frames arrive on the
// UI thread; the driver keeps only the latest one and turns it into a picture when
// asked: whole for a grab, or straight at the preview's size, which for a camera's
// compressed or YUV frames costs far less than converting the whole frame and
// shrinking it. A driver is open for at most one capture window at a time.
class CaptureDriver : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    ~CaptureDriver() override = default;

    virtual QString name() const = 0;
    virtual QString version() const { return QString(); }

    // Starts streaming; the error says why not (absent, busy, no readable format, ...).
    virtual CameraStatus open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // The latest frame at the device's frame size (null before the first one arrives,
    // once the driver is closed, or when that frame cannot be decoded).
    virtual QImage currentFrame() const = 0;
    // The latest frame stretched to size, in Format_RGB32 (null as above).
    virtual QImage previewFrame(QSize size) const;
    // Frames delivered since the driver was created.
    virtual quint64 frameCount() const = 0;

    virtual QList<CaptureControl> controls() const = 0;
    // Applies a value at once; for a button control the value is ignored.
    virtual bool setControl(quint32 id, int value) = 0;
    virtual int controlValue(quint32 id) const = 0;

    // Shows the device's own settings dialog, modal, owned by the native window given;
    // false when the device has none (the station then builds its own from controls()).
    virtual bool showPropertyPage(quintptr ownerWindow)
    {
        Q_UNUSED(ownerWindow);
        return false;
    }
    // The device has left the machine's list of cameras. A stream that a vanished device
    // does not end by itself is ended here, as if it had (streamEnded, kind Gone).
    virtual void deviceRemoved() {}

signals:
    void frameArrived();
    // The stream ended without close() being asked for: the device vanished or failed.
    void streamEnded(const qc::CaptureError& error);
};

} // namespace qc
