// The camera handlers wired into the capture window: start-up with and without
// drivers, the close sequence, and a grab through the real window on the test pattern.

#include "RecordingCaptureLibrary.h"

#include "camera/CameraController.h"
#include "camera/QtCaptureLibrary.h"
#include "camera/TestPatternDriver.h"
#include "imaging/CropZoom.h"
#include "imaging/ImageControl.h"
#include "imaging/PictureBox.h"
#include "shell/FrmImageCapture.h"
#include "ui_frmImageCapture.h"

#include <QDir>
#include <QTest>

#include <memory>

using DriverMap = QMap<int, QString>;

class TestCameraInWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void startUpLists_data();
    void startUpLists();
    void closeWhilePreviewingDisconnectsAndDestroys();
    void closeWhileIdleMakesNoCaptureCall();
    void grabOnTestPatternShowsFullFrameAndClearsDrag();

private:
    std::unique_ptr<qc::FrmImageCapture> makeWindow(qc::CaptureLibrary& library);

    QStringList m_log;
    std::unique_ptr<LoggingDesktop> m_desktop;
    std::unique_ptr<RecordingCaptureLibrary> m_library;
};

void TestCameraInWindow::init()
{
    m_log.clear();
    m_desktop = std::make_unique<LoggingDesktop>(m_log);
    m_library = std::make_unique<RecordingCaptureLibrary>(m_log);
}

void TestCameraInWindow::cleanup()
{
    m_library.reset();
    m_desktop.reset();
}

std::unique_ptr<qc::FrmImageCapture> TestCameraInWindow::makeWindow(qc::CaptureLibrary& library)
{
    qc::StationServices services;
    services.desktop = m_desktop.get();
    services.appFolder = QDir::tempPath();
    services.capture = &library;
    auto window = std::make_unique<qc::FrmImageCapture>(services);
    window->Form_Load();
    window->show();
    return window;
}

void TestCameraInWindow::startUpLists_data()
{
    QTest::addColumn<DriverMap>("drivers");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<int>("selected");
    QTest::addColumn<bool>("previewEnabled");

    QTest::newRow("no driver") << DriverMap{} << QStringList{"No Device Available"} << -1 << false;
    QTest::newRow("driver only at index 1")
        << DriverMap{{1, "Camera 1"}} << QStringList{"No Device Available"} << -1 << false;
    QTest::newRow("two drivers") << DriverMap{{0, "Camera 0"}, {1, "Camera 1"}}
                                 << QStringList{"Camera 0", "Camera 1"} << 0 << true;
}

void TestCameraInWindow::startUpLists()
{
    QFETCH(DriverMap, drivers);
    m_library->drivers = drivers;
    auto window = makeWindow(*m_library);
    QStringList entries;
    for (int i = 0; i < window->ui->lstDevices->count(); ++i)
        entries << window->ui->lstDevices->item(i)->text();
    QTEST(entries, "entries");
    QTEST(window->ui->lstDevices->currentRow(), "selected");
    QTEST(window->ui->cmdStart->isEnabled(), "previewEnabled");
    QVERIFY(!window->ui->cmdStop->isEnabled());
    QVERIFY(!window->ui->cmdSave->isEnabled());
    QVERIFY(window->ui->picCapture->isVisible());
    QVERIFY(!window->ui->ImagXpress1->isVisible());
}

void TestCameraInWindow::closeWhilePreviewingDisconnectsAndDestroys()
{
    m_library->drivers = {{0, "Camera 0"}};
    auto window = makeWindow(*m_library);
    QTest::mouseClick(window->ui->cmdStart, Qt::LeftButton);
    QVERIFY(window->camera().PreviewAtivo);
    m_log.clear();

    window->close();

    QCOMPARE(m_log, (QStringList{"send 100 DRIVER_DISCONNECT 0 0", "destroy 100"}));
    QVERIFY(m_library->liveWindows.isEmpty());
    QCOMPARE(m_desktop->endRequests, 1);
}

void TestCameraInWindow::closeWhileIdleMakesNoCaptureCall()
{
    m_library->drivers = {{0, "Camera 0"}};
    auto window = makeWindow(*m_library);
    QTest::mouseClick(window->ui->cmdStart, Qt::LeftButton);
    QTest::mouseClick(window->ui->cmdStop, Qt::LeftButton);
    m_log.clear();

    window->close();

    QCOMPARE(m_log, QStringList{});
    QCOMPARE(m_desktop->endRequests, 1);
}

void TestCameraInWindow::grabOnTestPatternShowsFullFrameAndClearsDrag()
{
    qc::QtCaptureLibrary library(*m_desktop);
    library.addDriver(std::make_unique<qc::TestPatternDriver>());
    auto window = makeWindow(library);
    QCOMPARE(window->ui->lstDevices->item(0)->text(), QStringLiteral("QuveloCap Test Pattern"));

    QTest::mouseClick(window->ui->cmdStart, Qt::LeftButton);
    QVERIFY(window->ui->cmdSave->isEnabled());
    QCOMPARE(window->ui->picCapture->findChildren<QWidget*>().size(), 1);
    window->cropZoom().Arrastando = true; // a drag whose release never came
    QTest::mouseClick(window->ui->cmdSave, Qt::LeftButton);

    QCOMPARE(window->ui->ImagXpress1->picture().size(), QSize(640, 480));
    QCOMPARE(m_desktop->clipboardImage().size(), QSize(640, 480));
    QVERIFY(!window->cropZoom().Arrastando);
    QVERIFY(window->ui->ImagXpress1->isVisible());
    QVERIFY(!window->ui->picCapture->isVisible());
    QVERIFY(window->ui->picCapture->findChildren<QWidget*>().isEmpty());
    window.reset(); // before the library whose windows it may hold
}

QTEST_MAIN(TestCameraInWindow)
#include "tst_CameraInWindow.moc"
