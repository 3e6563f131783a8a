// The camera handlers of the capture window against a recording capture library: the
// calls each handler makes, in order and with their arguments, and the button states.

#include "RecordingCaptureLibrary.h"

#include "camera/CameraController.h"
#include "imaging/ImageControl.h"
#include "imaging/PictureBox.h"

#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <memory>

using qc::CameraController;

using DriverMap = QMap<int, QString>;

namespace {

const QString NoDevice = QStringLiteral("Não foi possível detectar o dispositivo da webcam.");
const QString NoFrame = QStringLiteral("A câmera não enviou nenhuma imagem; nada foi capturado.");

// Logs each change of a button's enabled state, so the order of the changes is checked
// together with the capture calls.
class EnabledLogger : public QObject
{
public:
    explicit EnabledLogger(QStringList& log) : m_log(log) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::EnabledChange) {
            auto* w = static_cast<QWidget*>(watched);
            m_log << QStringLiteral("%1 %2").arg(w->isEnabled() ? "enable" : "disable",
                                                 w->objectName());
        }
        return false;
    }

private:
    QStringList& m_log;
};

} // namespace

class TestCameraController : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void listsDriversUpToTheFirstGap_data();
    void listsDriversUpToTheFirstGap();
    void previewCreatesChildWindowOnSelectedDriver_data();
    void previewCreatesChildWindowOnSelectedDriver();
    void failedPreviewDestroysWindowAndSaysWhy_data();
    void failedPreviewDestroysWindowAndSaysWhy();
    void buttonStates_data();
    void buttonStates();
    void stopDisconnectsThenDestroys();
    void sourceTwiceCreatesHiddenWindowOnce();
    void sourceWhilePreviewingStopsFirst();
    void previewAfterSourceTearsHiddenWindowDown();
    void sourceWithoutDriverReportsEachTime();
    void sourceFollowsTheChosenCamera();
    void cameraListFollowsPlugAndUnplug();
    void grabCopiesStopsAndShowsCopiedPicture();
    void grabWithoutFrameTakesNothingAndSaysSo();

private:
    void startUp(QMap<int, QString> drivers);
    void click(QPushButton* button);
    QStringList takeLog();

    QStringList m_log;
    std::unique_ptr<QWidget> m_window;
    QPushButton* cmdStart = nullptr;
    QPushButton* cmdStop = nullptr;
    QPushButton* cmdSave = nullptr;
    QPushButton* Command2 = nullptr;
    QListWidget* lstDevices = nullptr;
    qc::PictureBox* picCapture = nullptr;
    qc::ImageControl* ImagXpress1 = nullptr;
    std::unique_ptr<RecordingCaptureLibrary> m_library;
    std::unique_ptr<LoggingDesktop> m_desktop;
    std::unique_ptr<CameraController> m_camera;
    std::unique_ptr<EnabledLogger> m_enabledLogger;
    int m_dragClears = 0;
};

void TestCameraController::init()
{
    m_log.clear();
    m_dragClears = 0;
    m_window = std::make_unique<QWidget>();
    m_window->setObjectName(QStringLiteral("frmImageCapture"));
    auto make = [this](const char* name) {
        auto* b = new QPushButton(m_window.get());
        b->setObjectName(QString::fromLatin1(name));
        return b;
    };
    cmdStart = make("cmdStart");
    cmdStop = make("cmdStop");
    cmdSave = make("cmdSave");
    Command2 = make("Command2");
    lstDevices = new QListWidget(m_window.get());
    picCapture = new qc::PictureBox(m_window.get());
    picCapture->setObjectName(QStringLiteral("picCapture"));
    picCapture->setGeometry(7, 79, 400, 500);
    ImagXpress1 = new qc::ImageControl(m_window.get());
    ImagXpress1->setGeometry(7, 79, 400, 500);
    ImagXpress1->setVisible(false);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));

    m_library = std::make_unique<RecordingCaptureLibrary>(m_log);
    m_desktop = std::make_unique<LoggingDesktop>(m_log);
    qc::CameraControls controls;
    controls.window = m_window.get();
    controls.cmdStart = cmdStart;
    controls.cmdStop = cmdStop;
    controls.cmdSave = cmdSave;
    controls.Command2 = Command2;
    controls.lstDevices = lstDevices;
    controls.picCapture = picCapture;
    controls.ImagXpress1 = ImagXpress1;
    m_camera = std::make_unique<CameraController>(controls, *m_library, *m_desktop);
    m_camera->setClearDragFlag([this] {
        ++m_dragClears;
        m_log << QStringLiteral("clear drag");
    });
    m_enabledLogger = std::make_unique<EnabledLogger>(m_log);
    for (QPushButton* b : {cmdStart, cmdStop, cmdSave})
        b->installEventFilter(m_enabledLogger.get());
}

void TestCameraController::cleanup()
{
    m_camera.reset();
    m_window.reset();
    m_enabledLogger.reset();
}

// The start-up state the window's load handler leaves: the first driver selected and
// "&Preview" the only enabled camera button.
void TestCameraController::startUp(QMap<int, QString> drivers)
{
    m_library->drivers = drivers;
    m_camera->MontarListaDispositivos();
    if (lstDevices->count() > 0)
        lstDevices->setCurrentRow(0);
    cmdStop->setEnabled(false);
    cmdSave->setEnabled(false);
    m_log.clear();
}

void TestCameraController::click(QPushButton* button)
{
    // The handlers run for a click whether or not the button could take one, as the
    // window's own code would call them.
    if (button == cmdStart)
        m_camera->cmdStart_Click();
    else if (button == cmdStop)
        m_camera->cmdStop_Click();
    else if (button == cmdSave)
        m_camera->cmdSave_Click();
    else if (button == Command2)
        m_camera->Command2_Click();
}

QStringList TestCameraController::takeLog()
{
    QStringList log = m_log;
    m_log.clear();
    return log;
}

void TestCameraController::listsDriversUpToTheFirstGap_data()
{
    QTest::addColumn<QList<int>>("indices");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<int>("lastIndexAsked");

    QTest::newRow("none") << QList<int>{} << QStringList{} << 0;
    QTest::newRow("one") << QList<int>{0} << QStringList{"Camera 0"} << 1;
    QTest::newRow("two in order") << QList<int>{0, 1} << QStringList{"Camera 0", "Camera 1"} << 2;
    QTest::newRow("gap after 0") << QList<int>{0, 2, 3} << QStringList{"Camera 0"} << 1;
    QTest::newRow("only index 1") << QList<int>{1} << QStringList{} << 0;
    QTest::newRow("all ten") << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}
                             << QStringList{"Camera 0", "Camera 1", "Camera 2", "Camera 3",
                                            "Camera 4", "Camera 5", "Camera 6", "Camera 7",
                                            "Camera 8", "Camera 9"}
                             << 9;
}

void TestCameraController::listsDriversUpToTheFirstGap()
{
    QFETCH(QList<int>, indices);
    QFETCH(QStringList, entries);
    QFETCH(int, lastIndexAsked);
    for (int i : indices)
        m_library->drivers.insert(i, QStringLiteral("  Camera %1 ").arg(i));

    m_camera->MontarListaDispositivos();

    QStringList listed;
    for (int i = 0; i < lstDevices->count(); ++i)
        listed << lstDevices->item(i)->text();
    QCOMPARE(listed, entries);
    QStringList asked;
    for (int i = 0; i <= lastIndexAsked; ++i)
        asked << QStringLiteral("describe %1").arg(i);
    QCOMPARE(takeLog(), asked);
}

void TestCameraController::previewCreatesChildWindowOnSelectedDriver_data()
{
    QTest::addColumn<int>("row");
    QTest::newRow("first driver") << 0;
    QTest::newRow("second driver") << 1;
}

void TestCameraController::previewCreatesChildWindowOnSelectedDriver()
{
    QFETCH(int, row);
    startUp({{0, "Camera 0"}, {1, "Camera 1"}});
    lstDevices->setCurrentRow(row);
    ImagXpress1->setVisible(true);
    picCapture->setVisible(false);

    click(cmdStart);

    QCOMPARE(takeLog(),
             (QStringList{
                 QStringLiteral("create \"%1\" style=50000000 0,0 400x400 parent=picCapture id=0")
                     .arg(row),
                 QStringLiteral("send 100 DRIVER_CONNECT %1 0").arg(row),
                 "send 100 SET_SCALE -1 0",
                 "send 100 SET_PREVIEWRATE 66 0",
                 "send 100 SET_PREVIEW -1 0",
                 "enable cmdSave",
                 "enable cmdStop",
                 "disable cmdStart",
             }));
    QCOMPARE(m_camera->JanelaPreview, qc::CaptureWindowHandle(100));
    QCOMPARE(m_camera->DispositivoAtual, row);
    QVERIFY(m_camera->PreviewAtivo);
    QVERIFY(picCapture->isVisible());
    QVERIFY(!ImagXpress1->isVisible());
}

void TestCameraController::failedPreviewDestroysWindowAndSaysWhy_data()
{
    QTest::addColumn<DriverMap>("drivers");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");

    using Kind = qc::CaptureError::Kind;
    const DriverMap one{{0, "Camera 0"}};
    const QString why = QStringLiteral("\n\nMotivo informado pelo driver: ");
    QTest::newRow("busy") << one << 0 << int(Kind::Busy)
                          << "/dev/video0: open: Device or resource busy"
                          << "0"
                          << "Não foi possível abrir a câmera: ela está sendo usada por outro "
                             "programa." +
                                 why + "/dev/video0: open: Device or resource busy";
    QTest::newRow("no entry selected")
        << one << -1 << 0 << ""
        << "-1"
        << "Não foi possível abrir a câmera: nenhuma câmera foi escolhida em Dispositivos.";
}

void TestCameraController::failedPreviewDestroysWindowAndSaysWhy()
{
    QFETCH(DriverMap, drivers);
    QFETCH(int, row);
    QFETCH(int, kind);
    QFETCH(QString, reason);
    QFETCH(QString, name);
    QFETCH(QString, text);
    startUp(drivers);
    lstDevices->setCurrentRow(row);
    if (row >= 0) {
        m_library->failingDrivers.insert(row);
        m_library->errors.insert(row, {qc::CaptureError::Kind(kind), reason});
    }
    cmdSave->setEnabled(true); // shows that the failure disables it
    m_log.clear();

    click(cmdStart);

    QCOMPARE(takeLog(),
             (QStringList{
                 QStringLiteral("create \"%1\" style=50000000 0,0 400x400 parent=picCapture id=0")
                     .arg(name),
                 QStringLiteral("send 100 DRIVER_CONNECT %1 0").arg(row),
                 "destroy 100",
                 "disable cmdSave",
                 "box \"" + text + "\" title=\"QuveloCap\" icon=2",
             }));
    QVERIFY(cmdStart->isEnabled());
    QVERIFY(!cmdStop->isEnabled());
    QVERIFY(!cmdSave->isEnabled());
    QVERIFY(!m_camera->PreviewAtivo);
    QVERIFY(m_library->liveWindows.isEmpty());
}

void TestCameraController::buttonStates_data()
{
    // Each row: the actions after start-up (p = "&Preview", r = "Para&r", u = "So&urce >>",
    // c = "&Capturar"), whether the driver connects, then the expected states.
    QTest::addColumn<QString>("actions");
    QTest::addColumn<bool>("connects");
    QTest::addColumn<bool>("start");
    QTest::addColumn<bool>("stop");
    QTest::addColumn<bool>("save");
    QTest::addColumn<bool>("picShown");
    QTest::addColumn<bool>("imageShown");
    QTest::addColumn<bool>("previewing");

    QTest::newRow("preview, connected")
        << "p" << true << false << true << true << true << false << true;
    QTest::newRow("preview, connection failed")
        << "p" << false << true << false << false << true << false << false;
    QTest::newRow("stop") << "pr" << true << true << false << false << true << false << false;
    QTest::newRow("source while previewing")
        << "pu" << true << true << false << false << true << false << false;
    QTest::newRow("source while not previewing, after a grab")
        << "pcu" << true << true << false << false << false << true << false;
    QTest::newRow("grab") << "pc" << true << true << false << false << false << true << false;
    QTest::newRow("preview after grab")
        << "pcp" << true << false << true << true << true << false << true;
}

void TestCameraController::buttonStates()
{
    QFETCH(QString, actions);
    QFETCH(bool, connects);
    startUp({{0, "Camera 0"}});
    if (!connects)
        m_library->failingDrivers.insert(0);
    m_library->frame = QImage(640, 480, QImage::Format_RGB32);

    for (QChar a : actions) {
        if (a == 'p')
            click(cmdStart);
        else if (a == 'r')
            click(cmdStop);
        else if (a == 'u')
            click(Command2);
        else if (a == 'c')
            click(cmdSave);
    }

    QTEST(cmdStart->isEnabled(), "start");
    QTEST(cmdStop->isEnabled(), "stop");
    QTEST(cmdSave->isEnabled(), "save");
    QTEST(picCapture->isVisible(), "picShown");
    QTEST(ImagXpress1->isVisible(), "imageShown");
    QTEST(m_camera->PreviewAtivo, "previewing");
}

void TestCameraController::stopDisconnectsThenDestroys()
{
    startUp({{0, "Camera 0"}});
    click(cmdStart);
    m_log.clear();

    click(cmdStop);

    QCOMPARE(takeLog(), (QStringList{"send 100 DRIVER_DISCONNECT 0 0", "destroy 100",
                                     "disable cmdStop", "disable cmdSave", "enable cmdStart"}));
    QVERIFY(!m_camera->PreviewAtivo);
    // The handle keeps its last value after the window is gone.
    QCOMPARE(m_camera->JanelaPreview, qc::CaptureWindowHandle(100));
    QVERIFY(m_library->liveWindows.isEmpty());
}

void TestCameraController::sourceTwiceCreatesHiddenWindowOnce()
{
    startUp({{0, "Camera 0"}, {1, "Camera 1"}});
    lstDevices->setCurrentRow(1); // the dialog belongs to the chosen camera

    click(Command2);
    click(Command2);

    QCOMPARE(takeLog(), (QStringList{
                            "create \"WebcamCapture\" style=00000000 0,0 640x480 "
                            "parent=frmImageCapture id=0",
                            "processEvents",
                            "send 100 DRIVER_CONNECT 1 0",
                            "processEvents",
                            "send 100 DLG_VIDEOSOURCE 0 0",
                            "send 100 DLG_VIDEOSOURCE 0 0",
                        }));
    QVERIFY(m_camera->WebcamConectada);
    QCOMPARE(m_camera->JanelaWebcam, qc::CaptureWindowHandle(100));
    QVERIFY(m_desktop->boxes.isEmpty());
}

void TestCameraController::sourceWhilePreviewingStopsFirst()
{
    startUp({{0, "Camera 0"}});
    click(cmdStart);
    m_log.clear();

    click(Command2);

    QCOMPARE(takeLog(), (QStringList{
                            "send 100 DRIVER_DISCONNECT 0 0",
                            "destroy 100",
                            "disable cmdStop",
                            "disable cmdSave",
                            "enable cmdStart",
                            "create \"WebcamCapture\" style=00000000 0,0 640x480 "
                            "parent=frmImageCapture id=0",
                            "processEvents",
                            "send 101 DRIVER_CONNECT 0 0",
                            "processEvents",
                            "send 101 DLG_VIDEOSOURCE 0 0",
                        }));
    // The preview is not restarted and the hidden window stays connected.
    QVERIFY(!m_camera->PreviewAtivo);
    QCOMPARE(m_library->connections.value(101, -1), 0);
}

void TestCameraController::previewAfterSourceTearsHiddenWindowDown()
{
    startUp({{0, "Camera 0"}, {1, "Camera 1"}});
    click(Command2);
    lstDevices->setCurrentRow(1);
    m_log.clear();

    click(cmdStart);

    QCOMPARE(takeLog(), (QStringList{
                            "processEvents",
                            "send 100 DRIVER_DISCONNECT 0 0",
                            "destroy 100",
                            "create \"1\" style=50000000 0,0 400x400 parent=picCapture id=0",
                            "send 101 DRIVER_CONNECT 1 0",
                            "send 101 SET_SCALE -1 0",
                            "send 101 SET_PREVIEWRATE 66 0",
                            "send 101 SET_PREVIEW -1 0",
                            "enable cmdSave",
                            "enable cmdStop",
                            "disable cmdStart",
                        }));
    QVERIFY(!m_camera->WebcamConectada);
    QCOMPARE(m_library->connections.keys(), QList<qc::CaptureWindowHandle>{101});
}

void TestCameraController::sourceWithoutDriverReportsEachTime()
{
    startUp({});
    const QStringList once{
        "create \"WebcamCapture\" style=00000000 0,0 640x480 parent=frmImageCapture id=0",
        "processEvents",
        "send %1 DRIVER_CONNECT -1 0",
        "box \"" + NoDevice + "\" title=\"Brantemor\" icon=0",
        "processEvents",
        "send %1 DRIVER_DISCONNECT 0 0",
        "destroy %1",
        "processEvents",
        "send %1 DLG_VIDEOSOURCE 0 0",
    };

    for (int attempt = 0; attempt < 2; ++attempt) {
        click(Command2);
        QStringList expected;
        for (const QString& line : once)
            expected << (line.contains("%1") ? line.arg(100 + attempt) : line);
        QCOMPARE(takeLog(), expected);
        QVERIFY(!m_camera->WebcamConectada);
    }
    QCOMPARE(m_desktop->boxes.size(), 2);
    QCOMPARE(m_desktop->boxes.first().icon, qc::Desktop::Icon::None);
    QVERIFY(m_library->liveWindows.isEmpty());
}

void TestCameraController::sourceFollowsTheChosenCamera()
{
    startUp({{0, "Camera 0"}, {1, "Camera 1"}});
    click(Command2);
    lstDevices->setCurrentRow(1);
    m_log.clear();

    click(Command2);

    QCOMPARE(takeLog(), (QStringList{
                            "processEvents",
                            "send 100 DRIVER_DISCONNECT 0 0",
                            "destroy 100",
                            "create \"WebcamCapture\" style=00000000 0,0 640x480 "
                            "parent=frmImageCapture id=0",
                            "processEvents",
                            "send 101 DRIVER_CONNECT 1 0",
                            "processEvents",
                            "send 101 DLG_VIDEOSOURCE 0 0",
                        }));
    QCOMPARE(m_library->connections.value(101, -1), 1);
}

void TestCameraController::cameraListFollowsPlugAndUnplug()
{
    auto entries = [this] {
        QStringList listed;
        for (int i = 0; i < lstDevices->count(); ++i)
            listed << lstDevices->item(i)->text();
        return listed;
    };
    startUp({{0, "Camera A"}, {1, "Camera B"}});
    lstDevices->setCurrentRow(1);
    click(cmdStart);
    m_log.clear();

    // Camera A goes: B, still previewing, moves to index 0 and stays chosen.
    m_library->connections[100] = 0;
    m_library->changeDrivers({{0, "Camera B"}});
    QCOMPARE(entries(), QStringList{"Camera B"});
    QCOMPARE(lstDevices->currentRow(), 0);
    QCOMPARE(m_camera->DispositivoAtual, 0);
    QVERIFY(m_camera->PreviewAtivo);
    QVERIFY(!cmdStart->isEnabled());
    // Only the list was read again: no capture window was touched.
    QCOMPARE(takeLog(), (QStringList{"describe 0", "describe 1"}));

    // Idle, every camera gone, then one plugged in: as at start-up without one, and with.
    click(cmdStop);
    m_library->changeDrivers({});
    QCOMPARE(entries(), QStringList{"No Device Available"});
    QVERIFY(!cmdStart->isEnabled());
    m_library->changeDrivers({{0, "Camera C"}});
    QCOMPARE(lstDevices->currentRow(), 0);
    QVERIFY(cmdStart->isEnabled());
}

void TestCameraController::grabCopiesStopsAndShowsCopiedPicture()
{
    startUp({{0, "Camera 0"}});
    click(cmdStart);
    QImage frame(640, 480, QImage::Format_RGB32);
    frame.fill(qRgb(10, 200, 30));
    m_library->frame = frame;
    m_log.clear();

    click(cmdSave);

    QCOMPARE(takeLog(), (QStringList{
                            "clear drag",
                            "send 100 EDIT_COPY 0 0",
                            "send 100 DRIVER_DISCONNECT 0 0",
                            "destroy 100",
                            "take copy",
                            "disable cmdStop",
                            "disable cmdSave",
                            "enable cmdStart",
                        }));
    QCOMPARE(picCapture->picture(), frame);
    QCOMPARE(ImagXpress1->picture().size(), QSize(640, 480));
    QCOMPARE(ImagXpress1->picture().pixel(5, 5), qRgb(10, 200, 30));
    QVERIFY(!picCapture->isVisible());
    QVERIFY(ImagXpress1->isVisible());
    QVERIFY(!m_camera->PreviewAtivo);
}

void TestCameraController::grabWithoutFrameTakesNothingAndSaysSo()
{
    startUp({{0, "Camera 0"}});
    click(cmdStart);
    ImagXpress1->setPicture(QImage(20, 20, QImage::Format_RGB32));

    click(cmdSave);

    QVERIFY(picCapture->picture().isNull());
    QVERIFY(!ImagXpress1->hasImage());
    QVERIFY(cmdStart->isEnabled());
    QVERIFY(!cmdStop->isEnabled());
    QVERIFY(!cmdSave->isEnabled());
    QVERIFY(ImagXpress1->isVisible());
    QCOMPARE(m_dragClears, 1);
    QCOMPARE(m_log.last(), "box \"" + NoFrame + "\" title=\"QuveloCap\" icon=2");
}

QTEST_MAIN(TestCameraController)
#include "tst_CameraController.moc"
