// Runs inside the small VM with the kernel's virtual camera (vivid): the camera handlers
// on the station's real capture library, watching the kernel's device events, while
// the camera is taken away in the middle of a preview and comes back afterwards.

#include "camera/CameraController.h"
#include "camera/CaptureWindow.h"
#include "camera/QtCaptureLibrary.h"
#include "common/RecordingDesktop.h"
#include "imaging/ImageControl.h"
#include "imaging/PictureBox.h"

#include <QFile>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <memory>

namespace {

constexpr int VmWaitMs = 60000; // vivid under software emulation is slow to start

} // namespace

class TestCameraHotplugVivid : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cameraTakenAwayMidPreviewAndBroughtBack();

private:
    QStringList entries() const;
    void click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

    QWidget m_window;
    qc::CameraControls m_ui;
    RecordingDesktop m_desktop;
    std::unique_ptr<qc::QtCaptureLibrary> m_library;
    std::unique_ptr<qc::CameraController> m_camera;
};

QStringList TestCameraHotplugVivid::entries() const
{
    QStringList listed;
    for (int i = 0; i < m_ui.lstDevices->count(); ++i)
        listed << m_ui.lstDevices->item(i)->text();
    return listed;
}

void TestCameraHotplugVivid::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("VIVID_MODULE") || !QFile::exists("/dev/video0"))
        QSKIP("no vivid module to take away: this test runs in the vivid VM");
    m_ui.window = &m_window;
    m_ui.cmdStart = new QPushButton(&m_window);
    m_ui.cmdStop = new QPushButton(&m_window);
    m_ui.cmdSave = new QPushButton(&m_window);
    m_ui.Command2 = new QPushButton(&m_window);
    m_ui.lstDevices = new QListWidget(&m_window);
    m_ui.picCapture = new qc::PictureBox(&m_window);
    m_ui.picCapture->setGeometry(7, 79, 400, 500);
    m_ui.ImagXpress1 = new qc::ImageControl(&m_window);
    m_ui.ImagXpress1->hide();
    // The station's own library: the webcams under /dev, watched for coming and going.
    m_library = std::make_unique<qc::QtCaptureLibrary>();
    QVERIFY(m_library->watchCameras());
    m_camera = std::make_unique<qc::CameraController>(m_ui, *m_library, m_desktop);
    m_camera->MontarListaDispositivos();
    m_ui.lstDevices->setCurrentRow(0);
    QObject::connect(m_ui.cmdStart, &QAbstractButton::clicked,
                     [this] { m_camera->cmdStart_Click(); });
    QObject::connect(m_ui.cmdStop, &QAbstractButton::clicked,
                     [this] { m_camera->cmdStop_Click(); });
    m_window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&m_window));
    QCOMPARE(entries(), QStringList{"vivid"});
}

void TestCameraHotplugVivid::cameraTakenAwayMidPreviewAndBroughtBack()
{
    click(m_ui.cmdStart);
    QVERIFY(m_camera->PreviewAtivo);
    QTRY_VERIFY_WITH_TIMEOUT(!m_library->window(m_camera->JanelaPreview)->shownImage().isNull(),
                             VmWaitMs);

    // The camera goes away under the running preview, as when it is unplugged: its
    // driver is unbound from the device. (The kernel refuses to remove the module while
    // a program holds the device open; it is removed once the station has let go.)
    QFile unbind(QStringLiteral("/sys/bus/platform/drivers/vivid/unbind"));
    QVERIFY(unbind.open(QIODevice::WriteOnly));
    QCOMPARE(unbind.write("vivid.0"), qint64(7));
    unbind.close();

    QTRY_VERIFY_WITH_TIMEOUT(!m_camera->PreviewAtivo, VmWaitMs);
    QVERIFY(!m_ui.cmdStop->isEnabled());
    QVERIFY(!m_ui.cmdSave->isEnabled());
    QVERIFY(m_ui.picCapture->findChildren<qc::CaptureWindow*>().isEmpty());
    QCOMPARE(m_desktop.boxes.size(), 1);
    QVERIFY2(m_desktop.boxes.first().text.startsWith(
                 "A câmera foi desconectada e a visualização foi encerrada."),
             qPrintable(m_desktop.boxes.first().text));
    QCOMPARE(QProcess::execute("rmmod", {"vivid"}), 0);
    QTRY_COMPARE_WITH_TIMEOUT(entries(), QStringList{"No Device Available"}, VmWaitMs);
    QVERIFY(!m_ui.cmdStart->isEnabled());

    // A camera plugged in while the station runs shows up, chosen, and previews.
    const QStringList load = QStringList{qEnvironmentVariable("VIVID_MODULE")} +
                             qEnvironmentVariable("VIVID_OPTIONS").split(' ', Qt::SkipEmptyParts);
    QCOMPARE(QProcess::execute("insmod", load), 0);
    QTRY_COMPARE_WITH_TIMEOUT(entries(), QStringList{"vivid"}, VmWaitMs);
    QCOMPARE(m_ui.lstDevices->currentRow(), 0);
    QVERIFY(m_ui.cmdStart->isEnabled());
    click(m_ui.cmdStart);
    QVERIFY(m_camera->PreviewAtivo);
    QTRY_VERIFY_WITH_TIMEOUT(!m_library->window(m_camera->JanelaPreview)->shownImage().isNull(),
                             VmWaitMs);
    click(m_ui.cmdStop);
}

QTEST_MAIN(TestCameraHotplugVivid)
#include "tst_CameraHotplugVivid.moc"
