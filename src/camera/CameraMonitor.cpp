#include "camera/CameraMonitor.h"

#include <QSocketNotifier>

#include <libudev.h>

namespace qc {

struct CameraMonitor::Watch
{
    udev* context = nullptr;
    udev_monitor* monitor = nullptr;
    std::unique_ptr<QSocketNotifier> notifier;
    QString source;

    ~Watch()
    {
        notifier.reset();
        if (monitor)
            udev_monitor_unref(monitor);
        if (context)
            udev_unref(context);
    }

    bool start()
    {
        context = udev_new();
        if (!context)
            return false;
        udev_queue* queue = udev_queue_new(context);
        const bool daemon = queue && udev_queue_get_udev_is_active(queue);
        udev_queue_unref(queue);
        source = daemon ? QStringLiteral("udev") : QStringLiteral("kernel");
        monitor = udev_monitor_new_from_netlink(context, daemon ? "udev" : "kernel");
        if (!monitor)
            return false;
        if (udev_monitor_filter_add_match_subsystem_devtype(monitor, "video4linux", nullptr) < 0 ||
            udev_monitor_enable_receiving(monitor) < 0) {
            udev_monitor_unref(monitor);
            monitor = nullptr;
            return false;
        }
        return true;
    }

    // A camera brings several nodes at once; all that are waiting make one change.
    bool receive()
    {
        bool any = false;
        while (udev_device* device = udev_monitor_receive_device(monitor)) {
            udev_device_unref(device);
            any = true;
        }
        return any;
    }
};

CameraMonitor::CameraMonitor(QObject* parent) : QObject(parent), m_watch(std::make_unique<Watch>())
{
    if (!m_watch->start())
        return;
    m_watch->notifier = std::make_unique<QSocketNotifier>(udev_monitor_get_fd(m_watch->monitor),
                                                          QSocketNotifier::Read);
    connect(m_watch->notifier.get(), &QSocketNotifier::activated, this, [this] {
        if (m_watch->receive())
            emit camerasChanged();
    });
}

CameraMonitor::~CameraMonitor() = default;

bool CameraMonitor::isActive() const
{
    return m_watch->monitor != nullptr;
}

QString CameraMonitor::source() const
{
    return m_watch->source;
}

} // namespace qc
