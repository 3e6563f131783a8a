#pragma once

#include "camera/CameraDevices.h"
#include "camera/CaptureLibrary.h"

#include <QPointer>
#include <QString>

#include <map>
#include <memory>
#include <vector>

namespace qc {

class CameraMonitor;
class CaptureDriver;
class CaptureWindow;

// The capture library of the station: its drivers in index order (at most ten), its
// capture windows as widgets, its own copy of a grabbed frame. The
// drivers given with addDriver come first; the webcams follow in the platform's order
// (listCameraDevices) and, once watched, follow the cameras that are plugged in and out.
class QtCaptureLibrary : public CaptureLibrary
{
public:
    static constexpr int MaxDrivers = 10;

    QtCaptureLibrary();
    ~QtCaptureLibrary() override;

    // The station's drivers: the test pattern first in demo mode, then the webcams.
    static std::unique_ptr<QtCaptureLibrary> forStation(bool demo);

    // Appends a driver after the ones given before; ignored once ten are there.
    void addDriver(std::unique_ptr<CaptureDriver> driver);
    // Lists the video capture devices (on Linux those under devDir) and, when watch is
    // set, keeps the list current as cameras come and go. False when they cannot be
    // watched.
    bool watchCameras(const QString& devDir = QStringLiteral("/dev"), bool watch = true);
    // Lists the cameras again now (what a camera's coming or going does).
    void updateCameras();

    int driverCount() const;
    // Puts a driver before all others (the last one drops out when ten are there).
    void addDriverFirst(std::unique_ptr<CaptureDriver> driver);
    CaptureDriver* driver(int index) const;

    bool driverDescription(int index, QString& name, QString& version) override;
    CameraResult<CaptureWindowHandle> createCaptureWindow(const QString& windowName, quint32 style,
                                                          int x, int y, int width, int height,
                                                          QWidget* parent, int id) override;
    CameraResult<qintptr> sendMessage(CaptureWindowHandle window, unsigned message, qintptr wParam,
                                      qintptr lParam) override;
    bool destroyWindow(CaptureWindowHandle window) override;
    QImage takeCopiedFrame() override;
    int connectedDriver(CaptureWindowHandle window) const override;
    QImage previewFrame(CaptureWindowHandle window) const override;

    // The widget behind a handle (null once destroyed).
    CaptureWindow* window(CaptureWindowHandle handle) const;

private:
    int indexOf(const CaptureDriver* driver) const;
    void releaseRetired();

    QImage m_copied;
    std::vector<std::unique_ptr<CaptureDriver>> m_given;
    struct Camera
    {
        CameraDevice device;
        std::unique_ptr<CaptureDriver> driver;
    };
    std::vector<Camera> m_cameras;
    // Cameras no longer present that were still open when they went; deleted once closed.
    std::vector<std::unique_ptr<CaptureDriver>> m_retired;
    QString m_devDir;
    std::unique_ptr<CameraMonitor> m_monitor;
    std::map<CaptureWindowHandle, QPointer<CaptureWindow>> m_windows;
    CaptureWindowHandle m_nextHandle = 1;
};

} // namespace qc
