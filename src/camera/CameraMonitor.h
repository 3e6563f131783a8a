#pragma once

#include <QObject>

class QSocketNotifier;
struct udev;
struct udev_monitor;

namespace qc {

// Tells when video devices are plugged in or out, through udev's monitor. Where udev's
// daemon runs, its events come after it has made the device node ready for the user;
// where none runs (a minimal system with devtmpfs alone), the kernel's own events are
// taken, whose nodes devtmpfs has already made.
class CameraMonitor : public QObject
{
    Q_OBJECT

public:
    explicit CameraMonitor(QObject* parent = nullptr);
    ~CameraMonitor() override;

    // False when no monitor could be set up (no netlink socket, say).
    bool isActive() const { return m_monitor != nullptr; }
    // "udev" or "kernel": whose events are taken.
    QString source() const { return m_source; }

signals:
    // One or more video devices came or went.
    void camerasChanged();

private:
    void receive();

    udev* m_udev = nullptr;
    udev_monitor* m_monitor = nullptr;
    QSocketNotifier* m_notifier = nullptr;
    QString m_source;
};

} // namespace qc
