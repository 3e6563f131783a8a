#include "camera/CameraMonitor.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QTimer>
#include <QWindow>

#include <windows.h>

#include <dbt.h>

#include <vector>

namespace qc {

namespace {

// The device-interface classes a webcam announces itself in: KSCATEGORY_VIDEO_CAMERA
// (Windows 10 on) and KSCATEGORY_CAPTURE (every capture driver, older ones too).
const GUID CameraClasses[] = {
    {0xE5323777, 0xF976, 0x4F5B, {0x9B, 0x55, 0xB9, 0x46, 0x99, 0xC4, 0x6E, 0x44}},
    {0x65E8773D, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}},
};

// A camera's interface arrived or went: the messages of that, and only those.
bool isCameraChange(const MSG& msg)
{
    if (msg.message != WM_DEVICECHANGE || !msg.lParam ||
        (msg.wParam != DBT_DEVICEARRIVAL && msg.wParam != DBT_DEVICEREMOVECOMPLETE))
        return false;
    // The message carries its record's address in lParam, as every WM_DEVICECHANGE does.
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(msg.lParam);
    if (header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE)
        return false;
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    const auto* device = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(msg.lParam);
    for (const GUID& cameraClass : CameraClasses)
        if (IsEqualGUID(device->dbcc_classguid, cameraClass))
            return true;
    return false;
}

class DeviceChangeFilter : public QAbstractNativeEventFilter
{
public:
    explicit DeviceChangeFilter(QTimer& changed) : m_changed(changed) {}

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override
    {
        if (eventType == "windows_generic_MSG" && isCameraChange(*static_cast<MSG*>(message)))
            m_changed.start();
        return false; // the message is others' as well
    }

private:
    QTimer& m_changed;
};

} // namespace

struct CameraMonitor::Watch
{
    // One camera announces several interfaces, in both classes: the messages that come
    // together make one change.
    QTimer changed;
    DeviceChangeFilter filter{changed};
    std::unique_ptr<QWindow> window; // hidden; its messages pass the filter
    std::vector<HDEVNOTIFY> registrations;

    ~Watch()
    {
        for (HDEVNOTIFY registration : registrations)
            UnregisterDeviceNotification(registration);
        if (QCoreApplication::instance())
            QCoreApplication::instance()->removeNativeEventFilter(&filter);
    }

    // Notifications go to a window: one of Qt's, so that they reach the native event
    // filters. Without the windows platform (offscreen, in the tests) there is none.
    void registerWindow()
    {
        if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ||
            QGuiApplication::platformName() != QLatin1String("windows"))
            return;
        window = std::make_unique<QWindow>();
        window->create();
        const auto handle = reinterpret_cast<HWND>(window->winId());
        for (const GUID& cameraClass : CameraClasses) {
            DEV_BROADCAST_DEVICEINTERFACE_W filter{};
            filter.dbcc_size = sizeof filter;
            filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
            filter.dbcc_classguid = cameraClass;
            if (HDEVNOTIFY registration =
                    RegisterDeviceNotificationW(handle, &filter, DEVICE_NOTIFY_WINDOW_HANDLE))
                registrations.push_back(registration);
        }
    }
};

CameraMonitor::CameraMonitor(QObject* parent) : QObject(parent), m_watch(std::make_unique<Watch>())
{
    m_watch->changed.setSingleShot(true);
    m_watch->changed.setInterval(0);
    connect(&m_watch->changed, &QTimer::timeout, this, &CameraMonitor::camerasChanged);
    if (QCoreApplication::instance())
        QCoreApplication::instance()->installNativeEventFilter(&m_watch->filter);
    m_watch->registerWindow();
}

CameraMonitor::~CameraMonitor() = default;

bool CameraMonitor::isActive() const
{
    return !m_watch->registrations.empty();
}

QString CameraMonitor::source() const
{
    return QStringLiteral("windows");
}

} // namespace qc
