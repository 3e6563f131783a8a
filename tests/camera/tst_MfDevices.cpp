// The Windows camera list and its hot-plug, under Wine: Wine has no capture devices, so
// Media Foundation lists none and a device cannot be opened, which the station must
// take as a machine without cameras; the device-change messages Windows sends when a
// camera comes or goes are fed to the native event filters as the windows platform
// feeds them, and must make the camera list be read again, once per change.

#include "camera/CameraDevices.h"
#include "camera/CameraMessages.h"
#include "camera/CameraMonitor.h"
#include "camera/CaptureDriver.h"
#include "camera/QtCaptureLibrary.h"

#include <QAbstractEventDispatcher>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <windows.h>

#include <dbt.h>

class TestMfDevices : public QObject
{
    Q_OBJECT

private slots:
    void noCameraIsListed();
    void aCameraThatCannotBeOpenedSaysWhy();
    void cameraChangesAreNoticed_data();
    void cameraChangesAreNoticed();
};

namespace {

const GUID VideoCamera = {
    0xE5323777, 0xF976, 0x4F5B, {0x9B, 0x55, 0xB9, 0x46, 0x99, 0xC4, 0x6E, 0x44}};
const GUID Capture = {0x65E8773D, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
const GUID UsbDevice = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

struct Change
{
    WPARAM event;
    GUID deviceClass;
};

// What a window registered for device-interface notifications receives, handed to the
// native event filters the way the windows platform hands them every message.
void deliver(const Change& change)
{
    DEV_BROADCAST_DEVICEINTERFACE_W device{};
    device.dbcc_size = sizeof device;
    device.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    device.dbcc_classguid = change.deviceClass;
    MSG msg{};
    msg.message = WM_DEVICECHANGE;
    msg.wParam = change.event;
    msg.lParam = change.event == DBT_DEVNODES_CHANGED ? 0 : reinterpret_cast<LPARAM>(&device);
    qintptr result = 0;
    QAbstractEventDispatcher::instance()->filterNativeEvent("windows_generic_MSG", &msg, &result);
}

} // namespace

Q_DECLARE_METATYPE(QList<Change>)

void TestMfDevices::noCameraIsListed()
{
    QVERIFY(qc::listCameraDevices(QString(), 10).isEmpty());
    qc::QtCaptureLibrary library;
    library.watchCameras();
    QCOMPARE(library.driverCount(), 0);
    QString name, version;
    QVERIFY(!library.driverDescription(0, name, version));
}

void TestMfDevices::aCameraThatCannotBeOpenedSaysWhy()
{
    const auto driver =
        qc::makeCameraDriver({QStringLiteral("\\\\?\\usb#vid_046d&pid_0825&mi_00#6&1c1b1b1b&0&0000#"
                                             "{e5323777-f976-4f5b-9b55-b94699c46e44}\\global"),
                              QStringLiteral("Webcam C270")});
    QCOMPARE(driver->name(), QStringLiteral("Webcam C270"));
    const qc::CameraStatus opened = driver->open();
    QVERIFY(!opened);
    QVERIFY(!driver->isOpen());
    // Not in Windows' list of cameras (Wine's is empty): unplugged, to the operator.
    QCOMPARE(opened.error().kind, qc::CaptureError::Kind::Gone);
    QVERIFY2(opened.error().reason.startsWith(QStringLiteral("abrir a câmera: ")),
             qPrintable(opened.error().reason));
    QVERIFY(opened.error().reason.contains(QRegularExpression(QStringLiteral("0x[0-9A-F]{8}"))));
    QVERIFY(qc::cameraOpenFailureText(opened.error())
                .startsWith(QStringLiteral("Não foi possível abrir a câmera: ela não está mais "
                                           "conectada.\n\nMotivo informado pelo driver: abrir "
                                           "a câmera: ")));
    QVERIFY(driver->currentFrame().isNull());
    driver->deviceRemoved(); // not open: nothing to end
}

void TestMfDevices::cameraChangesAreNoticed_data()
{
    QTest::addColumn<QList<Change>>("messages");
    QTest::addColumn<int>("changes");

    QTest::newRow("a camera plugged in announces both classes")
        << QList<Change>{{DBT_DEVICEARRIVAL, VideoCamera}, {DBT_DEVICEARRIVAL, Capture}} << 1;
    QTest::newRow("an older camera pulled out")
        << QList<Change>{{DBT_DEVICEREMOVECOMPLETE, Capture}} << 1;
    QTest::newRow("a USB stick") << QList<Change>{{DBT_DEVICEARRIVAL, UsbDevice}} << 0;
    QTest::newRow("a camera about to go, not gone yet")
        << QList<Change>{{DBT_DEVICEQUERYREMOVE, VideoCamera}} << 0;
    QTest::newRow("device nodes changed, no interface named")
        << QList<Change>{{DBT_DEVNODES_CHANGED, VideoCamera}} << 0;
}

void TestMfDevices::cameraChangesAreNoticed()
{
    QFETCH(QList<Change>, messages);
    QFETCH(int, changes);

    qc::CameraMonitor monitor;
    QCOMPARE(monitor.source(), QStringLiteral("windows"));
    QSignalSpy changed(&monitor, &qc::CameraMonitor::camerasChanged);
    for (const Change& message : messages)
        deliver(message);
    if (changes)
        QVERIFY(changed.wait(5000));
    // Whatever would still follow these messages is due by now.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QCOMPARE(changed.count(), changes);
}

QTEST_MAIN(TestMfDevices)
#include "tst_MfDevices.moc"
