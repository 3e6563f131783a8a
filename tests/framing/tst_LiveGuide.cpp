// The live face guide and the automatic grab through the real capture window, a camera
// that streams real portraits (or a picture without a face), dlib's real detector and
// landmark model on the window's framing worker, and a real SQLite database.

#include "camera/PictureFileDriver.h"
#include "camera/QtCaptureLibrary.h"
#include "common/RecordingDesktop.h"
#include "framing/FaceFraming.h"
#include "framing/FaceGuide.h"
#include "framing/FramingWorker.h"
#include "framing/GuideOverlay.h"
#include "framing/LiveGuide.h"
#include "records/DatabaseFixture.h"
#include "records/MemorySettings.h"
#include "records/PhotoTestKit.h"
#include "shell/FrmImageCapture.h"
#include "ui_frmImageCapture.h"

#include <QPainter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace phototest;

namespace {

const QString kUnit = QStringLiteral("12");
const QString kEnrolment = QStringLiteral("2020001");

QImage testPicture(const QString& name)
{
    const QImage image(qEnvironmentVariable("QUVELOCAP_SOURCE_DIR") + "/tests/data/" + name);
    if (image.isNull())
        qFatal("missing test picture %s", qPrintable(name));
    return image;
}

// A 640 x 480 camera frame, the pictures scaled and centred at the given points.
QImage cameraFrame(const QList<std::tuple<QString, double, QPoint>>& placed)
{
    QImage frame(640, 480, QImage::Format_RGB32);
    frame.fill(QColor(128, 132, 138));
    QPainter p(&frame);
    for (const auto& [name, scale, centre] : placed) {
        const QImage picture = testPicture(name);
        const QSize size = (QSizeF(picture.size()) * scale).toSize();
        p.drawImage(QRect(centre - QPoint(size.width() / 2, size.height() / 2), size), picture);
    }
    return frame;
}

QImage wellFramed()
{
    return cameraFrame({{"portrait-hopper.jpg", 1.0, QPoint(320, 250)}});
}

} // namespace

class TestLiveGuide : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<DatabaseFixture> m_db;
    std::shared_ptr<qc::Connection> m_cn;
    QTemporaryDir m_dir;
    RecordingDesktop m_desktop;
    MemorySettings m_settings;
    // One worker for every window of the run, as the program has one: the model loads once.
    qc::FramingWorker m_framing;
    std::unique_ptr<qc::QtCaptureLibrary> m_library;
    std::unique_ptr<qc::FrmImageCapture> m_window;

    qc::FrmImageCapture& station(const QImage& frame)
    {
        const QString file = m_dir.filePath(QStringLiteral("frame.png"));
        if (!frame.save(file))
            qFatal("cannot write %s", qPrintable(file));
        m_window.reset();
        m_library = std::make_unique<qc::QtCaptureLibrary>();
        m_library->addDriverFirst(std::make_unique<qc::PictureFileDriver>(file));
        qc::StationServices services;
        services.desktop = &m_desktop;
        services.settings = &m_settings;
        services.capture = m_library.get();
        services.appFolder = m_dir.path();
        services.framing = &m_framing;
        m_window = std::make_unique<qc::FrmImageCapture>(services);
        m_window->Form_Load();
        m_window->show();
        m_window->controls().cmbUnidade->setCurrentIndex(
            m_window->controls().cmbUnidade->findData(kUnit));
        m_window->controls().txtMatricula->setText(kEnrolment);
        return *m_window;
    }

    QLabel* hintLabel() const { return m_window->findChild<QLabel*>(QStringLiteral("lblGuia")); }

private slots:
    void initTestCase() { m_framing.start(); }

    void init()
    {
        m_db = std::make_unique<DatabaseFixture>(QStringLiteral("sqlite"));
        m_cn = m_db->connect();
        m_db->createTables(*m_cn);
        m_cn->execute(QStringLiteral("INSERT INTO bas_unidades VALUES (?, ?)"),
                      {kUnit, QStringLiteral("Escola Doze")});
        insertStudent(*m_cn, kUnit, kEnrolment, QVariant());
        m_settings.values = {{"srv", m_db->server()}};
        m_desktop.clear();
    }

    void cleanup()
    {
        m_window.reset();
        m_library.reset();
        m_cn.reset();
        m_db.reset();
    }

    void guideHintsOverThePreview_data()
    {
        QTest::addColumn<QImage>("frame");
        QTest::addColumn<QString>("hint");
        QTest::newRow("well framed") << wellFramed() << QString();
        QTest::newRow("astronaut, well framed")
            << cameraFrame({{"portrait-astronaut.jpg", 1.1, QPoint(320, 240)}}) << QString();
        QTest::newRow("far") << cameraFrame({{"portrait-hopper.jpg", 0.55, QPoint(320, 240)}})
                             << qc::FaceGuide::closerText();
        QTest::newRow("near") << cameraFrame({{"portrait-hopper.jpg", 2.2, QPoint(320, 330)}})
                              << qc::FaceGuide::fartherText();
        QTest::newRow("aside") << cameraFrame({{"portrait-astronaut.jpg", 1.0, QPoint(150, 240)}})
                               << qc::FaceGuide::centreText();
        QTest::newRow("no face") << cameraFrame({{"no-face-rocket.jpg", 1.8, QPoint(320, 240)}})
                                 << qc::FaceGuide::noFaceText();
        QTest::newRow("two faces")
            << cameraFrame({{"portrait-astronaut.jpg", 1.0, QPoint(170, 250)},
                            {"portrait-hopper.jpg", 0.9, QPoint(480, 250)}})
            << qc::FaceGuide::manyFacesText();
    }

    void guideHintsOverThePreview()
    {
        QFETCH(QImage, frame);
        QFETCH(QString, hint);
        qc::FrmImageCapture& window = station(frame);
        qc::LiveGuide& guide = window.liveGuide();
        QSignalSpy shown(&guide, &qc::LiveGuide::verdictShown);
        QTest::mouseClick(window.controls().cmdStart, Qt::LeftButton);
        QVERIFY(guide.isRunning());
        QTRY_VERIFY_WITH_TIMEOUT(shown.count() >= 2, 30000);

        const qc::GuideVerdict verdict = guide.verdict();
        QCOMPARE(verdict.hint, hint);
        QCOMPARE(verdict.good, hint.isEmpty());
        QLabel* label = hintLabel();
        QVERIFY(label && label->isVisible());
        QCOMPARE(label->text(), hint);
        QCOMPARE(label->accessibleName(), hint.isEmpty() ? qc::LiveGuide::labelName() : hint);
        // Drawn over the preview, beside the picture box and within the designed area.
        qc::GuideOverlay* overlay = guide.overlay();
        QVERIFY(overlay->isVisible());
        QCOMPARE(overlay->geometry(), QRect(window.controls().picCapture->pos(), QSize(400, 400)));
        QVERIFY(window.centralWidget()->rect().contains(label->geometry()));
        QCOMPARE(overlay->verdict().hint, hint);
        if (verdict.hasFace && hint != qc::FaceGuide::fartherText()) {
            // The crop is the one a grab proposes, drawn stretched as the preview is.
            QCOMPARE(verdict.crop.width() * 4, verdict.crop.height() * 3);
            const QRect shown = overlay->shownCrop();
            const QRectF expected(verdict.crop.x() * 400.0 / 640, verdict.crop.y() * 400.0 / 480,
                                  verdict.crop.width() * 400.0 / 640,
                                  verdict.crop.height() * 400.0 / 480);
            QVERIFY(std::abs(shown.left() - expected.left()) <= 1);
            QVERIFY(std::abs(shown.top() - expected.top()) <= 1);
            QVERIFY(std::abs(shown.right() + 1 - expected.right()) <= 1);
            QVERIFY(std::abs(shown.bottom() + 1 - expected.bottom()) <= 1);
            if (verdict.good) {
                QTest::mouseClick(window.controls().cmdSave, Qt::LeftButton);
                QTRY_VERIFY_WITH_TIMEOUT(!window.faceFraming().isPending(), 30000);
                QCOMPARE(window.faceFraming().proposal(), verdict.crop);
            }
        }
        // Stopping the preview takes the guide away.
        if (window.controls().cmdStop->isEnabled())
            QTest::mouseClick(window.controls().cmdStop, Qt::LeftButton);
        QVERIFY(!overlay->isVisible() && !label->isVisible() && !guide.isRunning());
    }

    // Switched off with the framing: nothing is drawn, analysed or said, and the status
    // line and the picture box's children are as they always were.
    void framingSwitchTurnsTheGuideOff()
    {
        m_settings.values.insert(qc::FaceFraming::settingKey(), "0");
        qc::FrmImageCapture& window = station(wellFramed());
        QSignalSpy shown(&window.liveGuide(), &qc::LiveGuide::verdictShown);
        window.controls().lblMensagem->setText(QStringLiteral("anterior"));
        QTest::mouseClick(window.controls().cmdStart, Qt::LeftButton);
        QVERIFY(!window.liveGuide().isRunning());
        QVERIFY(!window.liveGuide().overlay()->isVisible());
        QVERIFY(!hintLabel()->isVisible());
        QCOMPARE(window.controls().picCapture->findChildren<QWidget*>().size(), 1);
        // Switched on during the preview, the guide starts with the next one.
        window.controls().mnuEnquadrar->trigger();
        QTest::mouseClick(window.controls().cmdStop, Qt::LeftButton);
        QTest::mouseClick(window.controls().cmdStart, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(shown.count() >= 1, 30000);
        QVERIFY(window.liveGuide().verdict().good);
        window.controls().mnuEnquadrar->trigger();
        QVERIFY(!window.liveGuide().isRunning() && !hintLabel()->isVisible());
        QCOMPARE(window.controls().lblMensagem->text(), QStringLiteral("anterior"));
    }

    void autoCaptureIsAMenuChoiceKeptInTheSettings()
    {
        qc::FrmImageCapture& window = station(wellFramed());
        QAction* action = window.autoCaptureAction();
        QCOMPARE(action->text(), QStringLiteral("Capturar automaticamente"));
        QVERIFY(action->isCheckable() && !action->isChecked());
        const QList<QAction*> menu = window.controls().mnuArquivo->actions();
        QCOMPARE(menu.indexOf(action) + 1, menu.indexOf(window.controls().mnuSep1));
        action->trigger();
        QCOMPARE(m_settings.values.value(qc::LiveGuide::autoCaptureKey()), QStringLiteral("1"));
        QVERIFY(station(wellFramed()).autoCaptureAction()->isChecked());
    }

    // Green and still: one grab, which proposes the crop the guide drew; the next
    // preview's green spell grabs once more.
    void autoCaptureGrabsOnceWhenGreen()
    {
        m_settings.values.insert(qc::LiveGuide::autoCaptureKey(), "1");
        qc::FrmImageCapture& window = station(wellFramed());
        QSignalSpy wanted(&window.liveGuide(), &qc::LiveGuide::captureWanted);
        QSignalSpy shown(&window.liveGuide(), &qc::LiveGuide::verdictShown);
        for (int round = 1; round <= 2; ++round) {
            QTest::mouseClick(window.controls().cmdStart, Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(window.controls().ImagXpress1->isVisible(), 30000);
            QCOMPARE(wanted.count(), round);
            const QList<QVariant> last = shown.last();
            QVERIFY(last.at(0).value<qc::GuideVerdict>().good);
            QVERIFY(!window.controls().cmdSave->isEnabled());
            QVERIFY(!window.liveGuide().isRunning());
            QTRY_VERIFY_WITH_TIMEOUT(!window.faceFraming().isPending(), 30000);
            QVERIFY(!window.faceFraming().proposal().isEmpty());
            QVERIFY(m_desktop.boxes.isEmpty());
        }
    }

    // Never when the guide is not green, however long it runs.
    void autoCaptureNeverGrabsWhenNotGreen_data()
    {
        QTest::addColumn<QImage>("frame");
        QTest::newRow("no face") << cameraFrame({{"no-face-rocket.jpg", 1.8, QPoint(320, 240)}});
        QTest::newRow("off centre")
            << cameraFrame({{"portrait-astronaut.jpg", 1.0, QPoint(150, 240)}});
    }

    void autoCaptureNeverGrabsWhenNotGreen()
    {
        QFETCH(QImage, frame);
        m_settings.values.insert(qc::LiveGuide::autoCaptureKey(), "1");
        qc::FrmImageCapture& window = station(frame);
        QSignalSpy wanted(&window.liveGuide(), &qc::LiveGuide::captureWanted);
        QSignalSpy shown(&window.liveGuide(), &qc::LiveGuide::verdictShown);
        QTest::mouseClick(window.controls().cmdStart, Qt::LeftButton);
        // Verdicts over well past the second a green guide would need.
        QElapsedTimer running;
        running.start();
        QTRY_VERIFY_WITH_TIMEOUT(
            shown.count() >= 8 && running.elapsed() > 2 * qc::AutoCapture::HoldMs, 60000);
        QCOMPARE(wanted.count(), 0);
        QVERIFY(window.controls().cmdSave->isEnabled());
        QVERIFY(!window.controls().ImagXpress1->isVisible());
    }

    // The grabbed frame shows at once; a drag begun before the proposal arrives wins.
    void operatorsDragBeatsALateProposal()
    {
        qc::FrmImageCapture& window = station(wellFramed());
        QTest::mouseClick(window.controls().cmdStart, Qt::LeftButton);
        QTest::mouseClick(window.controls().cmdSave, Qt::LeftButton);
        QVERIFY(window.controls().ImagXpress1->isVisible());
        QCOMPARE(window.controls().ImagXpress1->picture().size(), QSize(640, 480));
        // The analysis comes back through the event loop, which has not run since.
        QVERIFY(window.faceFraming().isPending());
        QWidget* vp = window.controls().ImagXpress1->viewport();
        QTest::mousePress(vp, Qt::LeftButton, {}, QPoint(10, 20));
        QTest::mouseMove(vp, QPoint(110, 100));
        QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(110, 100));
        QTRY_VERIFY_WITH_TIMEOUT(!window.faceFraming().isPending(), 30000);
        QCOMPARE(window.faceFraming().proposal(), QRect());
        QCOMPARE(window.controls().ImagXpress2->picture().size(), QSize(100, 80));
        QCOMPARE(window.controls().ImagXpress1->selectionRect(), QRect(10, 20, 100, 80));
    }

    // Stored right after the operator's drag, with the analysis still to come: the drag's
    // crop is stored, and the analysis, when it ends, changes neither it nor the answer.
    void storeAfterADragStoresTheDrag()
    {
        qc::FrmImageCapture& window = station(wellFramed());
        QTest::mouseClick(window.controls().cmdStart, Qt::LeftButton);
        QTest::mouseClick(window.controls().cmdSave, Qt::LeftButton);
        QWidget* vp = window.controls().ImagXpress1->viewport();
        QTest::mousePress(vp, Qt::LeftButton, {}, QPoint(10, 20));
        QTest::mouseMove(vp, QPoint(110, 100));
        QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(110, 100));
        QVERIFY(window.faceFraming().isPending());
        QTest::mouseClick(window.controls().Command1, Qt::LeftButton);
        const QString saved = QStringLiteral("Foto salva com sucesso");
        QCOMPARE(window.controls().lblMensagem->text(), saved);
        QCOMPARE(decoded(photoOf(m_cn, kUnit, kEnrolment).toByteArray()).size(), QSize(100, 80));
        // A grab of our own analysed after it: the window's is delivered by then.
        QObject after;
        m_framing.waitForGrab(m_framing.analyseGrab(wellFramed(), &after, [](const auto&) {}));
        QCoreApplication::sendPostedEvents();
        QCOMPARE(window.controls().lblMensagem->text(), saved);
        QCOMPARE(window.controls().ImagXpress1->selectionRect(), QRect(10, 20, 100, 80));
    }

    // "&Salvar Foto" before the proposal arrived stores the proposal, never the photo
    // the control held before the grab.
    void storeRightAfterTheGrabStoresTheProposal()
    {
        qc::FrmImageCapture& window = station(wellFramed());
        window.controls().ImagXpress2->setPicture(pattern(30, 40, 7));
        QTest::mouseClick(window.controls().cmdStart, Qt::LeftButton);
        QTest::mouseClick(window.controls().cmdSave, Qt::LeftButton);
        QVERIFY(window.faceFraming().isPending());
        QTest::mouseClick(window.controls().Command1, Qt::LeftButton);
        QCOMPARE(window.controls().lblMensagem->text(), QStringLiteral("Foto salva com sucesso"));
        const QRect proposal = window.faceFraming().proposal();
        QVERIFY(!proposal.isEmpty());
        QCOMPARE(decoded(photoOf(m_cn, kUnit, kEnrolment).toByteArray()).size(), proposal.size());
    }
};

QTEST_MAIN(TestLiveGuide)
#include "tst_LiveGuide.moc"
