#pragma once

#include <QObject>
#include <QString>

#include <memory>

namespace qc {

// Tells when video devices are plugged in or out. On Linux through udev's monitor:
// where udev's daemon runs, its events come after it has made the device node ready
// for the user; where none runs (a minimal system with devtmpfs alone), the kernel's
// own events are taken, whose nodes devtmpfs has already made. On Windows through the
// device-interface notifications of the camera classes, which reach a hidden window of
// the station's and are picked out of its messages by a native event filter.
class CameraMonitor : public QObject
{
    Q_OBJECT

public:
    explicit CameraMonitor(QObject* parent = nullptr);
    ~CameraMonitor() override;

    // False when no monitor could be set up (no netlink socket, no window to notify).
    bool isActive() const;
    // Whose events are taken: "udev", "kernel" or "windows".
    QString source() const;

signals:
    // One or more video devices came or went.
    void camerasChanged();

private:
    struct Watch; // the platform's side
    std::unique_ptr<Watch> m_watch;
};

} // namespace qc
