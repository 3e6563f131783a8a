#include "camera/QtCaptureLibrary.h"

#include "camera/CameraMonitor.h"
#include "camera/CaptureWindow.h"
#include "camera/TestPatternDriver.h"

#include <algorithm>
#include <utility>

namespace qc {

QtCaptureLibrary::QtCaptureLibrary() = default;

QtCaptureLibrary::~QtCaptureLibrary()
{
    // Windows go before the drivers they may hold open.
    for (auto& [handle, window] : m_windows)
        delete window.data();
    m_windows.clear();
}

std::unique_ptr<QtCaptureLibrary> QtCaptureLibrary::forStation(bool demo)
{
    auto library = std::make_unique<QtCaptureLibrary>();
    if (demo)
        library->addDriver(std::make_unique<TestPatternDriver>());
    library->watchCameras();
    return library;
}

void QtCaptureLibrary::addDriver(std::unique_ptr<CaptureDriver> driver)
{
    if (driver && driverCount() < MaxDrivers)
        m_given.push_back(std::move(driver));
}

bool QtCaptureLibrary::watchCameras(const QString& devDir, bool watch)
{
    m_devDir = devDir;
    if (watch && !m_monitor) {
        m_monitor = std::make_unique<CameraMonitor>();
        QObject::connect(m_monitor.get(), &CameraMonitor::camerasChanged, m_monitor.get(),
                         [this] { updateCameras(); });
    }
    updateCameras();
    return m_monitor && m_monitor->isActive();
}

void QtCaptureLibrary::updateCameras()
{
    if (m_devDir.isEmpty())
        return;
    const int room = std::max(0, MaxDrivers - int(m_given.size()));
    std::vector<Camera> next;
    bool changed = false;
    for (const CameraDevice& device : listCameraDevices(m_devDir, room)) {
        // A camera still there keeps its driver, so that a running preview goes on.
        auto same = std::find_if(m_cameras.begin(), m_cameras.end(), [&](const Camera& c) {
            return c.driver && c.device.id == device.id && c.device.name == device.name;
        });
        if (same != m_cameras.end()) {
            changed |= (same - m_cameras.begin()) != std::ptrdiff_t(next.size());
            next.push_back(std::move(*same));
        } else {
            next.push_back({device, makeCameraDriver(device)});
            changed = true;
        }
    }
    for (Camera& gone : m_cameras) {
        if (!gone.driver)
            continue;
        changed = true;
        // Its window learns of the end from the stream; a driver whose stream does not
        // end by itself when its device goes is told here.
        if (gone.driver->isOpen()) {
            gone.driver->deviceRemoved();
            if (gone.driver->isOpen())
                m_retired.push_back(std::move(gone.driver));
        }
    }
    m_cameras = std::move(next);
    releaseRetired();
    if (changed)
        notifyDriversChanged();
}

void QtCaptureLibrary::releaseRetired()
{
    m_retired.erase(std::remove_if(m_retired.begin(), m_retired.end(),
                                   [](const auto& d) { return !d->isOpen(); }),
                    m_retired.end());
}

int QtCaptureLibrary::driverCount() const
{
    return int(m_given.size() + m_cameras.size());
}

void QtCaptureLibrary::addDriverFirst(std::unique_ptr<CaptureDriver> driver)
{
    if (!driver)
        return;
    m_given.insert(m_given.begin(), std::move(driver));
    // The list holds ten at most: the last camera (or the last given driver) gives way.
    if (driverCount() > MaxDrivers) {
        if (!m_cameras.empty()) {
            if (m_cameras.back().driver && m_cameras.back().driver->isOpen())
                m_retired.push_back(std::move(m_cameras.back().driver));
            m_cameras.pop_back();
        } else {
            m_given.pop_back();
        }
    }
    notifyDriversChanged();
}

CaptureDriver* QtCaptureLibrary::driver(int index) const
{
    if (index < 0 || index >= driverCount())
        return nullptr;
    if (index < int(m_given.size()))
        return m_given[std::size_t(index)].get();
    return m_cameras[std::size_t(index) - m_given.size()].driver.get();
}

int QtCaptureLibrary::indexOf(const CaptureDriver* d) const
{
    for (int i = 0; d && i < driverCount(); ++i)
        if (driver(i) == d)
            return i;
    return -1;
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

CameraResult<CaptureWindowHandle> QtCaptureLibrary::createCaptureWindow(const QString& windowName,
                                                                        quint32 style, int x, int y,
                                                                        int width, int height,
                                                                        QWidget* parent, int)
{
    const bool child = style & CaptureStyleChild;
    if (child && !parent)
        return CaptureError{CaptureError::Kind::Failed, QString()};
    // Without the child style the window is a top-level window that its parent owns:
    // it stays with the parent and goes when the parent goes.
    auto* window = new CaptureWindow(windowName, parent, child ? Qt::Widget : Qt::Window);
    window->setGeometry(x, y, width, height);
    if (style & CaptureStyleVisible)
        window->show();
    const CaptureWindowHandle handle = m_nextHandle++;
    m_windows.emplace(handle, window);
    // Queued: the handler may destroy the window, which is inside its driver's call now.
    QObject::connect(
        window, &CaptureWindow::streamLost, window,
        [this, handle, window] {
            releaseRetired();
            notifyStreamEnded(handle, window->lostError());
        },
        Qt::QueuedConnection);
    return handle;
}

CaptureWindow* QtCaptureLibrary::window(CaptureWindowHandle handle) const
{
    const auto it = m_windows.find(handle);
    return it == m_windows.end() ? nullptr : it->second.data();
}

CameraResult<qintptr> QtCaptureLibrary::sendMessage(CaptureWindowHandle handle, unsigned message,
                                                    qintptr wParam, qintptr)
{
    const CaptureError refused{CaptureError::Kind::Failed, QString()};
    CaptureWindow* w = window(handle);
    if (!w)
        return refused;
    switch (message) {
    case WM_CAP_DRIVER_CONNECT: {
        const CameraStatus connected =
            w->connectDriver(driver(int(std::clamp<qintptr>(wParam, -1, MaxDrivers))));
        return connected ? CameraResult<qintptr>(1) : connected.error();
    }
    case WM_CAP_DRIVER_DISCONNECT:
        if (!w->driver())
            return refused;
        w->disconnectDriver();
        releaseRetired();
        return 1;
    case WM_CAP_EDIT_COPY:
        // A copy that finds no frame leaves none behind: an older frame must not be
        // taken for this one.
        m_copied = w->currentFrame();
        return m_copied.isNull() ? CameraResult<qintptr>(refused) : 1;
    case WM_CAP_DLG_VIDEOSOURCE:
        return w->showSourceDialog() ? CameraResult<qintptr>(1) : refused;
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
        return refused;
    }
}

bool QtCaptureLibrary::destroyWindow(CaptureWindowHandle handle)
{
    const auto it = m_windows.find(handle);
    if (it == m_windows.end())
        return false;
    delete it->second.data();
    m_windows.erase(it);
    releaseRetired();
    return true;
}

QImage QtCaptureLibrary::takeCopiedFrame()
{
    return std::exchange(m_copied, QImage());
}

int QtCaptureLibrary::connectedDriver(CaptureWindowHandle handle) const
{
    const CaptureWindow* w = window(handle);
    return w ? indexOf(w->driver()) : -1;
}

QImage QtCaptureLibrary::previewFrame(CaptureWindowHandle handle) const
{
    const CaptureWindow* w = window(handle);
    return w && w->preview() ? w->currentFrame() : QImage();
}

} // namespace qc
