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

// The vivid module as the VM loaded it, and the options it was loaded with.
QString moduleFile()
{
    return qEnvironmentVariable("VIVID_MODULE");
}

int run(const QString& program, const QStringList& arguments)
{
    return QProcess::execute(program, arguments);
}

} // namespace

class TestCameraHotplugVivid : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cameraTakenAwayMidPreviewAndBroughtBack();

private:
    QPushButton* button(const char* name) const;
    QStringList entries() const;

    std::unique_ptr<QWidget> m_window;
    QListWidget* m_list = nullptr;
    qc::PictureBox* m_picCapture = nullptr;
    RecordingDesktop m_desktop;
    std::unique_ptr<qc::QtCaptureLibrary> m_library;
    std::unique_ptr<qc::CameraController> m_camera;
};

QPushButton* TestCameraHotplugVivid::button(const char* name) const
{
    return m_window->findChild<QPushButton*>(QString::fromLatin1(name));
}

QStringList TestCameraHotplugVivid::entries() const
{
    QStringList listed;
    for (int i = 0; i < m_list->count(); ++i)
        listed << m_list->item(i)->text();
    return listed;
}

void TestCameraHotplugVivid::initTestCase()
{
    if (moduleFile().isEmpty() || !QFile::exists(QStringLiteral("/dev/video0")))
        QSKIP("no vivid module to take away: this test runs in the vivid VM");

    m_window = std::make_unique<QWidget>();
    m_window->resize(820, 629);
    qc::CameraControls c;
    c.window = m_window.get();
    for (const char* name : {"cmdStart", "cmdStop", "cmdSave", "Command2"}) {
        auto* b = new QPushButton(QString::fromLatin1(name), m_window.get());
        b->setObjectName(QString::fromLatin1(name));
    }
    c.cmdStart = button("cmdStart");
    c.cmdStop = button("cmdStop");
    c.cmdSave = button("cmdSave");
    c.Command2 = button("Command2");
    c.lstDevices = m_list = new QListWidget(m_window.get());
    c.picCapture = m_picCapture = new qc::PictureBox(m_window.get());
    m_picCapture->setGeometry(7, 79, 400, 500);
    c.ImagXpress1 = new qc::ImageControl(m_window.get());
    c.ImagXpress1->hide();

    // The station's own library: the webcams under /dev, watched for coming and going.
    m_library = std::make_unique<qc::QtCaptureLibrary>(m_desktop);
    QVERIFY(m_library->watchCameras());
    m_camera = std::make_unique<qc::CameraController>(c, *m_library, m_desktop);
    m_camera->MontarListaDispositivos();
    m_list->setCurrentRow(0);
    c.cmdStop->setEnabled(false);
    c.cmdSave->setEnabled(false);
    QObject::connect(c.cmdStart, &QPushButton::clicked, [this] { m_camera->cmdStart_Click(); });
    QObject::connect(c.cmdStop, &QPushButton::clicked, [this] { m_camera->cmdStop_Click(); });
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QCOMPARE(entries(), QStringList{"vivid"});
}

void TestCameraHotplugVivid::cleanupTestCase()
{
    m_camera.reset();
    m_library.reset();
    m_window.reset();
}

void TestCameraHotplugVivid::cameraTakenAwayMidPreviewAndBroughtBack()
{
    QTest::mouseClick(button("cmdStart"), Qt::LeftButton);
    QVERIFY2(m_camera->PreviewAtivo,
             qPrintable(m_desktop.boxes.isEmpty() ? QString() : m_desktop.boxes.last().text));
    qc::CaptureWindow* preview = m_library->window(m_camera->JanelaPreview);
    QVERIFY(preview);
    QTRY_VERIFY_WITH_TIMEOUT(!preview->shownImage().isNull(), VmWaitMs);

    // The camera goes away under the running preview, as when it is unplugged: its
    // driver is unbound from the device. (The kernel refuses to remove the module while
    // a program holds the device open; it is removed once the station has let go.)
    QFile unbind(QStringLiteral("/sys/bus/platform/drivers/vivid/unbind"));
    QVERIFY(unbind.open(QIODevice::WriteOnly));
    QCOMPARE(unbind.write("vivid.0"), qint64(7));
    unbind.close();

    QTRY_VERIFY_WITH_TIMEOUT(!m_camera->PreviewAtivo, VmWaitMs);
    QVERIFY(!button("cmdStop")->isEnabled());
    QVERIFY(!button("cmdSave")->isEnabled());
    QVERIFY(m_picCapture->findChildren<qc::CaptureWindow*>().isEmpty());
    QCOMPARE(m_desktop.boxes.size(), 1);
    QVERIFY2(m_desktop.boxes.first().text.startsWith(
                 QStringLiteral("A câmera foi desconectada e a visualização foi encerrada.")),
             qPrintable(m_desktop.boxes.first().text));
    // The station let go of the device: the module can be removed.
    QCOMPARE(run(QStringLiteral("rmmod"), {QStringLiteral("vivid")}), 0);
    QTRY_COMPARE_WITH_TIMEOUT(entries(), QStringList{"No Device Available"}, VmWaitMs);
    QVERIFY(!button("cmdStart")->isEnabled());

    // A camera plugged in while the station runs shows up, chosen, and previews.
    QStringList load{moduleFile()};
    load += qEnvironmentVariable("VIVID_OPTIONS").split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QCOMPARE(run(QStringLiteral("insmod"), load), 0);
    QTRY_COMPARE_WITH_TIMEOUT(entries(), QStringList{"vivid"}, VmWaitMs);
    QCOMPARE(m_list->currentRow(), 0);
    QVERIFY(button("cmdStart")->isEnabled());
    QTest::mouseClick(button("cmdStart"), Qt::LeftButton);
    QVERIFY2(m_camera->PreviewAtivo,
             qPrintable(m_desktop.boxes.isEmpty() ? QString() : m_desktop.boxes.last().text));
    preview = m_library->window(m_camera->JanelaPreview);
    QTRY_VERIFY_WITH_TIMEOUT(!preview->shownImage().isNull(), VmWaitMs);
    QTest::mouseClick(button("cmdStop"), Qt::LeftButton);
}

QTEST_MAIN(TestCameraHotplugVivid)
#include "tst_CameraHotplugVivid.moc"
