// The camera handlers wired into the capture window: start-up with and without
// drivers, the close sequence, a grab through the real window on the test pattern, and
// one on a camera that never delivers a frame.

#include "RecordingCaptureLibrary.h"

#include "camera/CameraController.h"
#include "camera/CaptureWindow.h"
#include "camera/PictureFileDriver.h"
#include "camera/QtCaptureLibrary.h"
#include "camera/TestPatternDriver.h"
#include "imaging/CropZoom.h"
#include "imaging/ImageControl.h"
#include "imaging/PictureBox.h"
#include "shell/FrmImageCapture.h"
#include "shell/QtDesktop.h"
#include "ui_frmImageCapture.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#endif

using DriverMap = QMap<int, QString>;

namespace {

// How many times the system clipboard has changed, where the system counts (Windows, for
// every program's copy, through Qt or not); 0 elsewhere.
quint64 systemClipboardChanges()
{
#ifdef _WIN32
    return GetClipboardSequenceNumber();
#else
    return 0;
#endif
}

// A camera that opens and streams but has not delivered a frame (yet).
class SilentDriver : public qc::CaptureDriver
{
public:
    QString name() const override { return QStringLiteral("Silent"); }
    qc::CameraStatus open() override
    {
        if (std::exchange(m_open, true))
            return qc::CaptureError{qc::CaptureError::Kind::Busy, QString()};
        return {};
    }
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    QImage currentFrame() const override { return QImage(); }
    quint64 frameCount() const override { return 0; }
    QList<qc::CaptureControl> controls() const override { return {}; }
    bool setControl(quint32, int) override { return false; }
    int controlValue(quint32) const override { return 0; }

private:
    bool m_open = false;
};

} // namespace

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
    void grabFromCameraWithoutFrameTakesNothing();
    void previewThatCannotOpenSaysTheDriversReason_data();
    void previewThatCannotOpenSaysTheDriversReason();
    void grabLeavesSystemClipboardUntouched_data();
    void grabLeavesSystemClipboardUntouched();
    void windowsStationListsOnlyItsOwnDrivers_data();
    void windowsStationListsOnlyItsOwnDrivers();

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
    for (int i = 0; i < window->controls().lstDevices->count(); ++i)
        entries << window->controls().lstDevices->item(i)->text();
    QTEST(entries, "entries");
    QTEST(window->controls().lstDevices->currentRow(), "selected");
    QTEST(window->controls().cmdStart->isEnabled(), "previewEnabled");
    QVERIFY(!window->controls().cmdStop->isEnabled());
    QVERIFY(!window->controls().cmdSave->isEnabled());
    QVERIFY(window->controls().picCapture->isVisible());
    QVERIFY(!window->controls().ImagXpress1->isVisible());
}

void TestCameraInWindow::closeWhilePreviewingDisconnectsAndDestroys()
{
    m_library->drivers = {{0, "Camera 0"}};
    auto window = makeWindow(*m_library);
    QTest::mouseClick(window->controls().cmdStart, Qt::LeftButton);
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
    QTest::mouseClick(window->controls().cmdStart, Qt::LeftButton);
    QTest::mouseClick(window->controls().cmdStop, Qt::LeftButton);
    m_log.clear();

    window->close();

    QCOMPARE(m_log, QStringList{});
    QCOMPARE(m_desktop->endRequests, 1);
}

void TestCameraInWindow::grabOnTestPatternShowsFullFrameAndClearsDrag()
{
    qc::QtCaptureLibrary library;
    library.addDriver(std::make_unique<qc::TestPatternDriver>());
    auto window = makeWindow(library);
    QCOMPARE(window->controls().lstDevices->item(0)->text(),
             QStringLiteral("QuveloCap Test Pattern"));

    QTest::mouseClick(window->controls().cmdStart, Qt::LeftButton);
    QVERIFY(window->controls().cmdSave->isEnabled());
    QCOMPARE(window->controls().picCapture->findChildren<QWidget*>().size(), 1);
    window->cropZoom().Arrastando = true; // a drag whose release never came
    QTest::mouseClick(window->controls().cmdSave, Qt::LeftButton);

    QCOMPARE(window->controls().ImagXpress1->picture().size(), QSize(640, 480));
    QVERIFY(!window->cropZoom().Arrastando);
    QVERIFY(window->controls().ImagXpress1->isVisible());
    QVERIFY(!window->controls().picCapture->isVisible());
    QVERIFY(window->controls().picCapture->findChildren<QWidget*>().isEmpty());
    window.reset(); // before the library whose windows it may hold
}

void TestCameraInWindow::grabFromCameraWithoutFrameTakesNothing()
{
    qc::QtCaptureLibrary library;
    library.addDriver(std::make_unique<SilentDriver>());
    auto window = makeWindow(library);
    // The last student's frame is still in the image control.
    QImage earlier(640, 480, QImage::Format_RGB32);
    earlier.fill(qRgb(200, 10, 10));
    window->controls().ImagXpress1->setPicture(earlier);
    m_desktop->boxes.clear();

    QTest::mouseClick(window->controls().cmdStart, Qt::LeftButton);
    QVERIFY(window->controls().cmdSave->isEnabled());
    QTest::mouseClick(window->controls().cmdSave, Qt::LeftButton);

    QVERIFY(!window->controls().ImagXpress1->hasImage());
    QVERIFY(window->controls().picCapture->picture().isNull());
    QVERIFY(window->controls().ImagXpress1->isVisible());
    QVERIFY(!window->controls().picCapture->isVisible());
    QVERIFY(window->controls().cmdStart->isEnabled());
    QVERIFY(!window->controls().cmdStop->isEnabled());
    QVERIFY(!window->controls().cmdSave->isEnabled());
    QCOMPARE(m_desktop->boxes.size(), 1);
    QCOMPARE(m_desktop->boxes.first().text,
             QStringLiteral("A câmera não enviou nenhuma imagem; nada foi capturado."));
    QCOMPARE(m_desktop->boxes.first().title, QStringLiteral("QuveloCap"));
    window.reset();
}

void TestCameraInWindow::previewThatCannotOpenSaysTheDriversReason_data()
{
    QTest::addColumn<bool>("holdsFile");
    QTest::newRow("empty folder") << false;
    QTest::newRow("a file that is not a picture") << true;
}

// The driver's reason travels from its open, through the capture window and the
// library, to the operator's box, with the station's own words in front.
void TestCameraInWindow::previewThatCannotOpenSaysTheDriversReason()
{
    QFETCH(bool, holdsFile);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    if (holdsFile) {
        QFile file(folder.filePath(QStringLiteral("aluno.jpg")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a picture");
    }
    qc::QtCaptureLibrary library;
    library.addDriver(std::make_unique<qc::PictureFileDriver>(folder.path()));
    auto window = makeWindow(library);
    m_desktop->boxes.clear();

    QTest::mouseClick(window->controls().cmdStart, Qt::LeftButton);

    QCOMPARE(m_desktop->boxes.size(), 1);
    QCOMPARE(m_desktop->boxes.first().text,
             QStringLiteral("Não foi possível abrir a câmera.\n\nMotivo informado pelo driver: ") +
                 (holdsFile ? QStringLiteral("Não foi possível ler ")
                            : QStringLiteral("Nenhuma imagem em ")) +
                 folder.path());
    QCOMPARE(m_desktop->boxes.first().icon, qc::Desktop::Icon::Warning);
    QVERIFY(window->controls().cmdStart->isEnabled());
    QVERIFY(!window->controls().cmdSave->isEnabled());
    QVERIFY(window->controls().picCapture->findChildren<qc::CaptureWindow*>().isEmpty());
    window.reset();
}

void TestCameraInWindow::grabLeavesSystemClipboardUntouched_data()
{
    QTest::addColumn<bool>("holdsPicture");
    QTest::newRow("text on the clipboard") << false;
    QTest::newRow("a picture on the clipboard") << true;
}

// A student's frame put on the system clipboard outlives the station: clipboard history
// and managers keep it. The grab must not touch what the operator copied there.
void TestCameraInWindow::grabLeavesSystemClipboardUntouched()
{
    QFETCH(bool, holdsPicture);
    const QString text = QStringLiteral("Relatório da unidade 0042 — copiado pelo operador");
    QImage picture(32, 16, QImage::Format_RGB32);
    picture.fill(qRgb(1, 2, 3));
    if (holdsPicture)
        QApplication::clipboard()->setImage(picture);
    else
        QApplication::clipboard()->setText(text);

    const quint64 changes = systemClipboardChanges();
    qc::QtDesktop desktop; // the production seam, over the real clipboard
    qc::QtCaptureLibrary library;
    library.addDriver(std::make_unique<qc::TestPatternDriver>());
    qc::StationServices services;
    services.desktop = &desktop;
    services.appFolder = QDir::tempPath();
    services.capture = &library;
    auto window = std::make_unique<qc::FrmImageCapture>(services);
    window->Form_Load();
    window->show();

    QTest::mouseClick(window->controls().cmdStart, Qt::LeftButton);
    QTRY_VERIFY(!library.window(window->camera().JanelaPreview)->currentFrame().isNull());
    QTest::mouseClick(window->controls().cmdSave, Qt::LeftButton);

    QCOMPARE(window->controls().ImagXpress1->picture().size(), QSize(640, 480));
    if (holdsPicture) {
        QCOMPARE(QApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32), picture);
    } else {
        QCOMPARE(QApplication::clipboard()->text(), text);
        QVERIFY(!QApplication::clipboard()->mimeData()->hasImage());
    }
    QCOMPARE(systemClipboardChanges(), changes);
    window.reset();
}

void TestCameraInWindow::windowsStationListsOnlyItsOwnDrivers_data()
{
    QTest::addColumn<bool>("demo");
    QTest::addColumn<QStringList>("listed");
    QTest::newRow("neither --demo nor --camera-file")
        << false << QStringList{"No Device Available"};
    QTest::newRow("--demo") << true << QStringList{"QuveloCap Test Pattern"};
}

// Wine has no capture devices, so Media Foundation lists no webcam: the station's
// library, as the program makes it, lists the test pattern when asked to and nothing
// else, and without it the list says that no device is available.
void TestCameraInWindow::windowsStationListsOnlyItsOwnDrivers()
{
#ifndef Q_OS_WIN
    QSKIP("on Linux the station also lists the machine's webcams");
#endif
    QFETCH(bool, demo);
    QFETCH(QStringList, listed);
    const auto library = qc::QtCaptureLibrary::forStation(demo);
    auto window = makeWindow(*library);
    QStringList entries;
    for (int i = 0; i < window->controls().lstDevices->count(); ++i)
        entries << window->controls().lstDevices->item(i)->text();
    QCOMPARE(entries, listed);
    QCOMPARE(window->controls().cmdStart->isEnabled(), demo);
    window.reset(); // before the library whose windows it may hold
}

QTEST_MAIN(TestCameraInWindow)
#include "tst_CameraInWindow.moc"
