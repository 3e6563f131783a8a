#include "camera/TimedFrameDriver.h"

#include <QTimer>

namespace qc {

TimedFrameDriver::TimedFrameDriver(int intervalMs, QObject* parent)
    : CaptureDriver(parent), m_timer(new QTimer(this))
{
    m_timer->setInterval(intervalMs);
    connect(m_timer, &QTimer::timeout, this, &TimedFrameDriver::deliver);
}

TimedFrameDriver::~TimedFrameDriver() = default;

CameraStatus TimedFrameDriver::open()
{
    // As a device is: one window at a time.
    if (m_open)
        return CaptureError{CaptureError::Kind::Failed, QString()};
    if (CameraStatus ready = prepare(); !ready)
        return ready;
    m_open = true;
    deliver();
    m_timer->start();
    return {};
}

void TimedFrameDriver::close()
{
    m_timer->stop();
    m_open = false;
    m_frame = QImage();
}

void TimedFrameDriver::deliver()
{
    m_frame = nextPicture();
    ++m_frameCount;
    emit frameArrived();
}

} // namespace qc
