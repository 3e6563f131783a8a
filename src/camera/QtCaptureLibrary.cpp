#include "camera/QtCaptureLibrary.h"

#include "camera/CaptureWindow.h"
#include "camera/TestPatternDriver.h"
#include "camera/V4l2Driver.h"
#include "core/Desktop.h"

namespace qc {

QtCaptureLibrary::QtCaptureLibrary(Desktop& desktop) : m_desktop(desktop) {}

QtCaptureLibrary::~QtCaptureLibrary()
{
    // Windows go before the drivers they may hold open.
    for (auto& [handle, window] : m_windows)
        delete window.data();
    m_windows.clear();
}

std::unique_ptr<QtCaptureLibrary> QtCaptureLibrary::forStation(Desktop& desktop, bool demo)
{
    auto library = std::make_unique<QtCaptureLibrary>(desktop);
    if (demo)
        library->addDriver(std::make_unique<TestPatternDriver>());
    for (const V4l2Driver::Device& device : V4l2Driver::enumerate())
        library->addDriver(std::make_unique<V4l2Driver>(device));
    return library;
}

void QtCaptureLibrary::addDriver(std::unique_ptr<CaptureDriver> driver)
{
    if (driver && m_drivers.size() < MaxDrivers)
        m_drivers.push_back(std::move(driver));
}

void QtCaptureLibrary::addDriverFirst(std::unique_ptr<CaptureDriver> driver)
{
    if (!driver)
        return;
    m_drivers.insert(m_drivers.begin(), std::move(driver));
    if (m_drivers.size() > MaxDrivers)
        m_drivers.pop_back();
}

CaptureDriver* QtCaptureLibrary::driver(int index) const
{
    if (index < 0 || index >= int(m_drivers.size()))
        return nullptr;
    return m_drivers[std::size_t(index)].get();
}

bool QtCaptureLibrary::driverDescription(int index, QString& name, QString& version)
{
    CaptureDriver* d = driver(index);
    if (!d)
        return false;
    name = d->name();
    version = d->version();
    return true;
}

CaptureWindowHandle QtCaptureLibrary::createCaptureWindow(const QString& windowName, quint32 style,
                                                          int x, int y, int width, int height,
                                                          QWidget* parent, int)
{
    const bool child = style & CaptureStyleChild;
    if (child && !parent)
        return 0;
    // Without the child style the window is a top-level window that its parent owns:
    // it stays with the parent and goes when the parent goes.
    auto* window = new CaptureWindow(windowName, parent, child ? Qt::Widget : Qt::Window);
    window->setGeometry(x, y, width, height);
    if (style & CaptureStyleVisible)
        window->show();
    const CaptureWindowHandle handle = m_nextHandle++;
    m_windows.emplace(handle, window);
    return handle;
}

CaptureWindow* QtCaptureLibrary::window(CaptureWindowHandle handle) const
{
    const auto it = m_windows.find(handle);
    return it == m_windows.end() ? nullptr : it->second.data();
}

qintptr QtCaptureLibrary::sendMessage(CaptureWindowHandle handle, unsigned message, qintptr wParam,
                                      qintptr)
{
    CaptureWindow* w = window(handle);
    if (!w)
        return 0;
    switch (message) {
    case WM_CAP_DRIVER_CONNECT:
        if (wParam < 0 || wParam >= qintptr(m_drivers.size()))
            return 0;
        return w->connectDriver(m_drivers[std::size_t(wParam)].get()) ? 1 : 0;
    case WM_CAP_DRIVER_DISCONNECT:
        if (!w->driver())
            return 0;
        w->disconnectDriver();
        return 1;
    case WM_CAP_EDIT_COPY: {
        const QImage frame = w->currentFrame();
        if (frame.isNull())
            return 0;
        m_desktop.setClipboardImage(frame);
        return 1;
    }
    case WM_CAP_DLG_VIDEOSOURCE:
        return w->showSourceDialog() ? 1 : 0;
    case WM_CAP_SET_PREVIEW:
        w->setPreview(wParam != 0);
        return 1;
    case WM_CAP_SET_PREVIEWRATE:
        w->setPreviewRate(int(wParam));
        return 1;
    case WM_CAP_SET_SCALE:
        w->setScale(wParam != 0);
        return 1;
    default:
        return 0;
    }
}

bool QtCaptureLibrary::destroyWindow(CaptureWindowHandle handle)
{
    const auto it = m_windows.find(handle);
    if (it == m_windows.end())
        return false;
    delete it->second.data();
    m_windows.erase(it);
    return true;
}

} // namespace qc
