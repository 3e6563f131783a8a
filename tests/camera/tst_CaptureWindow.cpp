// The real capture library, capture windows and source dialog: the test-pattern
// driver through the camera handlers, past the system clipboard, and a scripted driver
// for what a real camera does rarely (no controls, a stream that dies).

#include "camera/CameraController.h"
#include "camera/CaptureWindow.h"
#include "camera/QtCaptureLibrary.h"
#include "camera/SourceDialog.h"
#include "camera/TestPatternDriver.h"
#include "common/RecordingDesktop.h"
#include "imaging/ImageControl.h"
#include "imaging/PictureBox.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

using qc::CaptureControl;
using qc::TestPatternDriver;

namespace {

// A camera under the test's control: fixed controls, frames pushed by hand, a stream
// that can be made to fail.
class ScriptedDriver : public qc::CaptureDriver
{
public:
    QList<CaptureControl> list;
    QList<QPair<quint32, int>> applied;
    QImage frame;
    bool opened = false;

    QString name() const override { return QStringLiteral("Scripted"); }
    qc::CameraStatus open() override
    {
        if (opened)
            return qc::CaptureError{qc::CaptureError::Kind::Busy, QStringLiteral("open")};
        opened = true;
        return {};
    }
    void close() override { opened = false; }
    bool isOpen() const override { return opened; }
    QImage currentFrame() const override { return opened ? frame : QImage(); }
    quint64 frameCount() const override { return 0; }
    QList<CaptureControl> controls() const override { return list; }
    bool setControl(quint32 id, int value) override
    {
        applied.append({id, value});
        return true;
    }
    int controlValue(quint32) const override { return 0; }
    void die()
    {
        opened = false;
        emit streamEnded({qc::CaptureError::Kind::Failed, QStringLiteral("gone")});
    }
};

// The message's result as the station's windows read it: 0 when it failed.
qintptr sent(qc::CaptureLibrary& library, qc::CaptureWindowHandle window, unsigned message,
             qintptr wParam, qintptr lParam)
{
    const qc::CameraResult<qintptr> result = library.sendMessage(window, message, wParam, lParam);
    return result.valueOr(0);
}

// A new capture window's handle; 0 when none was made.
template <class... Args>
qc::CaptureWindowHandle windowOf(qc::CaptureLibrary& library, Args&&... args)
{
    return library.createCaptureWindow(std::forward<Args>(args)...).valueOr(0);
}

double meanLuma(const QImage& image)
{
    double sum = 0;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            sum += qGray(image.pixel(x, y));
    return sum / ((image.width() / 2) * (image.height() / 2));
}

// Runs action on the modal dialog that is about to open, then closes it. It keeps
// looking until the dialog is up, since pending events may run before it opens.
void onNextModal(std::function<void(QWidget*)> action)
{
    auto* probe = new QTimer;
    probe->setInterval(10);
    QObject::connect(probe, &QTimer::timeout, [probe, action] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        probe->stop();
        probe->deleteLater();
        action(modal);
        modal->close();
    });
    probe->start();
}

} // namespace

class TestCaptureWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void previewShowsPatternStretchedTo400();
    void grabPutsFullSizeFrameInImageControlNotOnClipboard();
    void twoGrabsASecondApartDiffer();
    void unscaledPreviewDrawsFrameAtItsOwnSize();
    void driverServesOneWindowAtATime();
    void destroyingAWindowReleasesItsDriver();
    void sourceDialogChangesPatternBrightness();
    void sourceDialogBuildsOneWidgetPerControl_data();
    void sourceDialogBuildsOneWidgetPerControl();
    void driverWithoutControlsShowsNoDialog();
    void streamThatDiesEndsPreviewAndCopiesNothing();
    void messagesToUnknownWindowsDoNothing();
    void previewWhoseStreamDiesEndsAsStopAndCanRestart();

private:
    QPushButton* button(const char* name);

    std::unique_ptr<QWidget> m_window;
    QListWidget* m_list = nullptr;
    qc::PictureBox* m_picCapture = nullptr;
    qc::ImageControl* m_image = nullptr;
    RecordingDesktop m_desktop;
    std::unique_ptr<qc::QtCaptureLibrary> m_library;
    TestPatternDriver* m_pattern = nullptr;
    ScriptedDriver* m_scripted = nullptr;
    std::unique_ptr<qc::CameraController> m_camera;
};

QPushButton* TestCaptureWindow::button(const char* name)
{
    return m_window->findChild<QPushButton*>(QString::fromLatin1(name));
}

void TestCaptureWindow::init()
{
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
    c.ImagXpress1 = m_image = new qc::ImageControl(m_window.get());
    m_image->setGeometry(7, 79, 400, 500);
    m_image->hide();

    m_library = std::make_unique<qc::QtCaptureLibrary>();
    auto pattern = std::make_unique<TestPatternDriver>();
    m_pattern = pattern.get();
    m_library->addDriver(std::move(pattern));
    auto scripted = std::make_unique<ScriptedDriver>();
    m_scripted = scripted.get();
    m_library->addDriver(std::move(scripted));

    m_camera = std::make_unique<qc::CameraController>(c, *m_library, m_desktop);
    m_camera->MontarListaDispositivos();
    m_list->setCurrentRow(0);
    c.cmdStop->setEnabled(false);
    c.cmdSave->setEnabled(false);
    QObject::connect(c.cmdStart, &QPushButton::clicked, [this] { m_camera->cmdStart_Click(); });
    QObject::connect(c.cmdStop, &QPushButton::clicked, [this] { m_camera->cmdStop_Click(); });
    QObject::connect(c.cmdSave, &QPushButton::clicked, [this] { m_camera->cmdSave_Click(); });
    QObject::connect(c.Command2, &QPushButton::clicked, [this] { m_camera->Command2_Click(); });
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QApplication::clipboard()->clear();
    m_desktop.boxes.clear();
}

void TestCaptureWindow::cleanup()
{
    m_camera.reset();
    m_library.reset();
    m_window.reset();
}

void TestCaptureWindow::previewShowsPatternStretchedTo400()
{
    QCOMPARE(m_list->item(0)->text(), QStringLiteral("QuveloCap Test Pattern"));
    QTest::mouseClick(button("cmdStart"), Qt::LeftButton);
    QVERIFY(m_camera->PreviewAtivo);
    qc::CaptureWindow* preview = m_library->window(m_camera->JanelaPreview);
    QVERIFY(preview);
    QCOMPARE(preview->parentWidget(), m_picCapture);
    QCOMPARE(preview->geometry(), QRect(0, 0, 400, 400));
    QCOMPARE(preview->windowTitle(), QStringLiteral("0"));
    QVERIFY(preview->isVisible());
    QCOMPARE(preview->previewRate(), 66);

    // The window keeps following the driver: wait for a newer frame than the first.
    const quint64 first = m_pattern->frameCount();
    QTRY_VERIFY(m_pattern->frameCount() > first + 3);
    QTRY_COMPARE(preview->shownImage().size(), QSize(400, 400));
    const QImage shown = preview->shownImage();
    const QImage drawn = preview->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(drawn.size(), QSize(400, 400));
    // What is on screen is the stretched frame (any newer frame has the same bars'
    // colours at the bottom ramp, which does not move).
    QCOMPARE(drawn.pixel(200, 380), shown.convertToFormat(QImage::Format_RGB32).pixel(200, 380));
}

void TestCaptureWindow::grabPutsFullSizeFrameInImageControlNotOnClipboard()
{
    QTest::mouseClick(button("cmdStart"), Qt::LeftButton);
    const qc::CaptureWindowHandle preview = m_camera->JanelaPreview;
    QTest::mouseClick(button("cmdSave"), Qt::LeftButton);

    const QImage grabbed = m_image->picture();
    QCOMPARE(grabbed.size(), QSize(640, 480));
    QVERIFY(QApplication::clipboard()->image().isNull());
    QCOMPARE(m_picCapture->picture().convertToFormat(QImage::Format_RGB32),
             grabbed.convertToFormat(QImage::Format_RGB32));
    QVERIFY(m_image->isVisible());
    QVERIFY(!m_picCapture->isVisible());
    // The preview window is gone and the camera free again.
    QVERIFY(!m_library->window(preview));
    QVERIFY(m_picCapture->findChildren<qc::CaptureWindow*>().isEmpty());
    QVERIFY(!m_pattern->isOpen());
}

void TestCaptureWindow::twoGrabsASecondApartDiffer()
{
    QTest::mouseClick(button("cmdStart"), Qt::LeftButton);
    QTest::mouseClick(button("cmdSave"), Qt::LeftButton);
    const QImage first = m_image->picture();
    const quint64 framesAtFirst = m_pattern->frameCount();

    QTest::mouseClick(button("cmdStart"), Qt::LeftButton);
    // About a second of frames at the pattern's 30 per second.
    QTRY_VERIFY_WITH_TIMEOUT(m_pattern->frameCount() >= framesAtFirst + 30, 10000);
    QTest::mouseClick(button("cmdSave"), Qt::LeftButton);
    const QImage second = m_image->picture();

    QCOMPARE(second.size(), QSize(640, 480));
    QVERIFY(first.convertToFormat(QImage::Format_RGB32) !=
            second.convertToFormat(QImage::Format_RGB32));
}

void TestCaptureWindow::unscaledPreviewDrawsFrameAtItsOwnSize()
{
    const auto handle =
        windowOf(*m_library, QStringLiteral("0"), qc::CaptureStyleChild | qc::CaptureStyleVisible,
                 0, 0, 400, 400, m_picCapture, 0);
    QVERIFY(handle);
    QCOMPARE(sent(*m_library, handle, qc::WM_CAP_DRIVER_CONNECT, 0, 0), 1);
    m_library->sendMessage(handle, qc::WM_CAP_SET_PREVIEW, -1, 0);
    qc::CaptureWindow* w = m_library->window(handle);
    QTRY_VERIFY(!w->shownImage().isNull());
    QCOMPARE(w->shownImage().size(), QSize(640, 480));
    m_library->sendMessage(handle, qc::WM_CAP_SET_SCALE, -1, 0);
    QCOMPARE(w->shownImage().size(), QSize(400, 400));
    m_library->sendMessage(handle, qc::WM_CAP_SET_SCALE, 0, 0);
    QCOMPARE(w->shownImage().size(), QSize(640, 480));
    QVERIFY(m_library->destroyWindow(handle));
}

void TestCaptureWindow::driverServesOneWindowAtATime()
{
    const auto a = windowOf(*m_library, "a", 0, 0, 0, 64, 48, m_window.get(), 0);
    const auto b = windowOf(*m_library, "b", 0, 0, 0, 64, 48, m_window.get(), 0);
    QCOMPARE(sent(*m_library, a, qc::WM_CAP_DRIVER_CONNECT, 0, 0), 1);
    QCOMPARE(sent(*m_library, b, qc::WM_CAP_DRIVER_CONNECT, 0, 0), 0);
    QCOMPARE(m_library->sendMessage(b, qc::WM_CAP_DRIVER_CONNECT, 7, 0).error().kind,
             qc::CaptureError::Kind::Absent); // no such driver
    QCOMPARE(sent(*m_library, a, qc::WM_CAP_DRIVER_DISCONNECT, 0, 0), 1);
    QCOMPARE(sent(*m_library, b, qc::WM_CAP_DRIVER_CONNECT, 0, 0), 1);
    // A hidden owned window is a top-level window that is never shown.
    QVERIFY(m_library->window(b)->isWindow());
    QVERIFY(!m_library->window(b)->isVisible());
    m_library->destroyWindow(a);
    m_library->destroyWindow(b);
}

void TestCaptureWindow::destroyingAWindowReleasesItsDriver()
{
    const auto a = windowOf(*m_library, "a", 0, 0, 0, 64, 48, m_window.get(), 0);
    QCOMPARE(sent(*m_library, a, qc::WM_CAP_DRIVER_CONNECT, 0, 0), 1);
    QVERIFY(m_pattern->isOpen());
    QVERIFY(m_library->destroyWindow(a));
    QVERIFY(!m_pattern->isOpen());
    QVERIFY(!m_library->destroyWindow(a));
}

void TestCaptureWindow::sourceDialogChangesPatternBrightness()
{
    QTest::mouseClick(button("cmdStart"), Qt::LeftButton);
    QTRY_VERIFY(!m_pattern->currentFrame().isNull());
    const double before = meanLuma(m_pattern->render(0));

    QStringList sliders;
    onNextModal([&](QWidget* dialog) {
        for (QSlider* s : dialog->findChildren<QSlider*>())
            sliders << QStringLiteral("%1 %2-%3 @%4")
                           .arg(s->parentWidget()->objectName())
                           .arg(s->minimum())
                           .arg(s->maximum())
                           .arg(s->value());
        dialog->findChild<QWidget*>(QStringLiteral("Brightness"))
            ->findChild<QSlider*>()
            ->setValue(220);
    });
    // "So&urce >>" stops the preview and opens driver 0's dialog on the hidden window.
    QTest::mouseClick(button("Command2"), Qt::LeftButton);

    QCOMPARE(sliders, (QStringList{"Brightness 0-255 @128", "Contrast 0-255 @128"}));
    QVERIFY(!m_camera->PreviewAtivo);
    QVERIFY(m_camera->WebcamConectada);
    QCOMPARE(m_pattern->controlValue(TestPatternDriver::BrightnessId), 220);
    const double after = meanLuma(m_pattern->render(0));
    QVERIFY2(after > before + 40, qPrintable(QStringLiteral("%1 -> %2").arg(before).arg(after)));
    m_pattern->setControl(TestPatternDriver::ContrastId, 20);
    QVERIFY(meanLuma(m_pattern->render(0)) != after);
}

void TestCaptureWindow::sourceDialogBuildsOneWidgetPerControl_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("widgetClass");
    QTest::addColumn<int>("expectedValue");
    QTest::newRow("integer as slider") << int(CaptureControl::Type::Integer) << "QSlider" << 40;
    QTest::newRow("boolean as check box") << int(CaptureControl::Type::Boolean) << "QCheckBox" << 1;
    QTest::newRow("menu as combo box") << int(CaptureControl::Type::Menu) << "QComboBox" << 7;
    QTest::newRow("button as push button")
        << int(CaptureControl::Type::Button) << "QPushButton" << 0;
}

void TestCaptureWindow::sourceDialogBuildsOneWidgetPerControl()
{
    QFETCH(int, type);
    QFETCH(QString, widgetClass);
    QFETCH(int, expectedValue);
    CaptureControl c;
    c.id = 0x980900 + type;
    c.type = CaptureControl::Type(type);
    c.name = QStringLiteral("Setting");
    c.minimum = 0;
    c.maximum = 100;
    c.step = 5;
    c.value = 10;
    c.menu = {{3, QStringLiteral("Low")}, {7, QStringLiteral("High")}};
    m_scripted->list = {c};

    qc::SourceDialog dialog(*m_scripted);
    QWidget* editor = dialog.findChild<QWidget*>(QStringLiteral("Setting"));
    QVERIFY(editor);
    if (auto* slider = editor->findChild<QSlider*>()) {
        QCOMPARE(widgetClass, QStringLiteral("QSlider"));
        QCOMPARE(slider->singleStep(), 5);
        QCOMPARE(slider->value(), 10);
        slider->setValue(40);
    } else if (auto* box = qobject_cast<QCheckBox*>(editor)) {
        QCOMPARE(widgetClass, QStringLiteral("QCheckBox"));
        QVERIFY(box->isChecked());
        box->setChecked(false);
        box->setChecked(true);
        m_scripted->applied.removeFirst();
    } else if (auto* combo = qobject_cast<QComboBox*>(editor)) {
        QCOMPARE(widgetClass, QStringLiteral("QComboBox"));
        QCOMPARE(combo->count(), 2);
        QCOMPARE(combo->itemText(1), QStringLiteral("High"));
        combo->setCurrentIndex(1);
        emit combo->activated(1);
    } else if (auto* push = qobject_cast<QPushButton*>(editor)) {
        QCOMPARE(widgetClass, QStringLiteral("QPushButton"));
        QCOMPARE(push->text(), QStringLiteral("Setting"));
        push->click();
    } else {
        QFAIL("no editor of a known kind");
    }
    // Applied at once, while the dialog is still open.
    QCOMPARE(m_scripted->applied, (QList<QPair<quint32, int>>{{c.id, expectedValue}}));
}

void TestCaptureWindow::driverWithoutControlsShowsNoDialog()
{
    const auto h = windowOf(*m_library, "s", 0, 0, 0, 64, 48, m_window.get(), 0);
    QCOMPARE(sent(*m_library, h, qc::WM_CAP_DRIVER_CONNECT, 1, 0), 1);
    // A dialog would run its own loop and hold this call; it returns at once instead.
    QCOMPARE(sent(*m_library, h, qc::WM_CAP_DLG_VIDEOSOURCE, 0, 0), 0);
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(m_window->findChildren<qc::SourceDialog*>().isEmpty());
    m_library->destroyWindow(h);
}

void TestCaptureWindow::streamThatDiesEndsPreviewAndCopiesNothing()
{
    m_scripted->frame = QImage(320, 240, QImage::Format_RGB888);
    m_scripted->frame.fill(Qt::red);
    const auto h = windowOf(*m_library, "1", qc::CaptureStyleChild | qc::CaptureStyleVisible, 0, 0,
                            400, 400, m_picCapture, 0);
    QCOMPARE(sent(*m_library, h, qc::WM_CAP_DRIVER_CONNECT, 1, 0), 1);
    m_library->sendMessage(h, qc::WM_CAP_SET_PREVIEW, -1, 0);
    QImage earlier(8, 8, QImage::Format_RGB32);
    earlier.fill(Qt::blue);
    QApplication::clipboard()->setImage(earlier);

    m_scripted->die();

    qc::CaptureWindow* w = m_library->window(h);
    QVERIFY(!w->driver());
    QVERIFY(w->shownImage().isNull());
    QCOMPARE(sent(*m_library, h, qc::WM_CAP_EDIT_COPY, 0, 0), 0);
    QVERIFY(m_library->takeCopiedFrame().isNull());
    // The camera can be connected again, as after replugging it.
    QCOMPARE(sent(*m_library, h, qc::WM_CAP_DRIVER_CONNECT, 1, 0), 1);
    QCOMPARE(sent(*m_library, h, qc::WM_CAP_EDIT_COPY, 0, 0), 1);
    QCOMPARE(m_library->takeCopiedFrame().size(), QSize(320, 240));
    QVERIFY(m_library->takeCopiedFrame().isNull()); // handed over once, not kept
    QCOMPARE(QApplication::clipboard()->image().size(), QSize(8, 8));
    m_library->destroyWindow(h);
}

void TestCaptureWindow::messagesToUnknownWindowsDoNothing()
{
    QCOMPARE(sent(*m_library, 0, qc::WM_CAP_DRIVER_CONNECT, 0, 0), 0);
    QCOMPARE(sent(*m_library, 12345, qc::WM_CAP_EDIT_COPY, 0, 0), 0);
    QVERIFY(!m_library->destroyWindow(0));
    // A child window needs a parent to live in.
    QCOMPARE(windowOf(*m_library, "x", qc::CaptureStyleChild, 0, 0, 1, 1, nullptr, 0),
             qc::CaptureWindowHandle(0));
    QVERIFY(!m_pattern->isOpen());
}

void TestCaptureWindow::previewWhoseStreamDiesEndsAsStopAndCanRestart()
{
    m_scripted->frame = QImage(320, 240, QImage::Format_RGB888);
    m_scripted->frame.fill(Qt::red);
    m_list->setCurrentRow(1);
    QTest::mouseClick(button("cmdStart"), Qt::LeftButton);
    QVERIFY(m_camera->PreviewAtivo);

    m_scripted->die();
    // Told from the event loop, not from inside the driver's own call.
    QVERIFY(m_camera->PreviewAtivo);
    QTRY_VERIFY(!m_camera->PreviewAtivo);

    QVERIFY(button("cmdStart")->isEnabled());
    QVERIFY(!button("cmdStop")->isEnabled());
    QVERIFY(!button("cmdSave")->isEnabled());
    QVERIFY(m_picCapture->findChildren<qc::CaptureWindow*>().isEmpty());
    QCOMPARE(m_desktop.boxes.size(), 1);
    QCOMPARE(m_desktop.boxes.first().text,
             QStringLiteral("A câmera parou de enviar imagens e a visualização foi encerrada.\n\n"
                            "Motivo informado pelo driver: gone"));

    QTest::mouseClick(button("cmdStart"), Qt::LeftButton);
    QVERIFY(m_camera->PreviewAtivo);
    QCOMPARE(m_library->connectedDriver(m_camera->JanelaPreview), 1);
}

QTEST_MAIN(TestCaptureWindow)
#include "tst_CaptureWindow.moc"
