#pragma once

#include "camera/CaptureLibrary.h"

#include <QPointer>

#include <map>
#include <memory>
#include <vector>

namespace qc {

class CaptureDriver;
class CaptureWindow;
class Desktop;

// The capture library of the station: its drivers in index order (at most ten), its
// capture windows as widgets, the clipboard reached through the desktop seam.
class QtCaptureLibrary : public CaptureLibrary
{
public:
    static constexpr int MaxDrivers = 10;

    explicit QtCaptureLibrary(Desktop& desktop);
    ~QtCaptureLibrary() override;

    // The station's drivers: the test pattern first in demo mode, then the webcams.
    static std::unique_ptr<QtCaptureLibrary> forStation(Desktop& desktop, bool demo);

    // Appends a driver at the next index; ignored once ten are there.
    void addDriver(std::unique_ptr<CaptureDriver> driver);
    // Puts a driver before all others (the last one drops out when ten are there).
    void addDriverFirst(std::unique_ptr<CaptureDriver> driver);
    int driverCount() const { return int(m_drivers.size()); }
    CaptureDriver* driver(int index) const;

    bool driverDescription(int index, QString& name, QString& version) override;
    CaptureWindowHandle createCaptureWindow(const QString& windowName, quint32 style, int x, int y,
                                            int width, int height, QWidget* parent,
                                            int id) override;
    qintptr sendMessage(CaptureWindowHandle window, unsigned message, qintptr wParam,
                        qintptr lParam) override;
    bool destroyWindow(CaptureWindowHandle window) override;

    // The widget behind a handle (null once destroyed).
    CaptureWindow* window(CaptureWindowHandle handle) const;

private:
    Desktop& m_desktop;
    std::vector<std::unique_ptr<CaptureDriver>> m_drivers;
    std::map<CaptureWindowHandle, QPointer<CaptureWindow>> m_windows;
    CaptureWindowHandle m_nextHandle = 1;
};

} // namespace qc
