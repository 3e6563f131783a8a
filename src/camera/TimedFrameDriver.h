#pragma once

#include "camera/CaptureDriver.h"

class QTimer;

namespace qc {

// A driver whose frames are made in the program and come on a timer at a webcam's
// pace, rather than from a device: the test pattern and the picture files. The first
// frame is there as soon as the driver opens, so a window connected a moment ago has
// something to show and to copy.
class TimedFrameDriver : public CaptureDriver
{
    Q_OBJECT

public:
    explicit TimedFrameDriver(int intervalMs, QObject* parent = nullptr);
    ~TimedFrameDriver() override;

    CameraStatus open() final;
    void close() final;
    bool isOpen() const final { return m_open; }

    QImage currentFrame() const final { return m_frame; }
    quint64 frameCount() const final { return m_frameCount; }

protected:
    // Gets the frames' source ready at each open; the error says why there is none.
    virtual CameraStatus prepare() { return {}; }
    // The picture of the next frame; frameCount() is its number.
    virtual QImage nextPicture() = 0;

private:
    void deliver();

    QTimer* m_timer;
    bool m_open = false;
    QImage m_frame;
    quint64 m_frameCount = 0;
};

} // namespace qc
