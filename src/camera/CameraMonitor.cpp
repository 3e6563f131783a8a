#include "camera/CameraMonitor.h"

#include <QSocketNotifier>

#include <libudev.h>

namespace qc {

CameraMonitor::CameraMonitor(QObject* parent) : QObject(parent), m_udev(udev_new())
{
    if (!m_udev)
        return;
    udev_queue* queue = udev_queue_new(m_udev);
    const bool daemon = queue && udev_queue_get_udev_is_active(queue);
    udev_queue_unref(queue);
    m_source = daemon ? QStringLiteral("udev") : QStringLiteral("kernel");
    m_monitor = udev_monitor_new_from_netlink(m_udev, daemon ? "udev" : "kernel");
    if (!m_monitor)
        return;
    if (udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "video4linux", nullptr) < 0 ||
        udev_monitor_enable_receiving(m_monitor) < 0) {
        udev_monitor_unref(m_monitor);
        m_monitor = nullptr;
        return;
    }
    m_notifier = new QSocketNotifier(udev_monitor_get_fd(m_monitor), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &CameraMonitor::receive);
}

CameraMonitor::~CameraMonitor()
{
    delete m_notifier;
    if (m_monitor)
        udev_monitor_unref(m_monitor);
    if (m_udev)
        udev_unref(m_udev);
}

void CameraMonitor::receive()
{
    // A camera brings several nodes at once; all that are waiting make one change.
    bool any = false;
    while (udev_device* device = udev_monitor_receive_device(m_monitor)) {
        udev_device_unref(device);
        any = true;
    }
    if (any)
        emit camerasChanged();
}

} // namespace qc
