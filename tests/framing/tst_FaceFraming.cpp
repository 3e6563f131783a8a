// The ID crop proposed after a grab, through the real capture window, a camera that
// streams real portraits, dlib's real detector and a real SQLite database.

#include "camera/PictureFileDriver.h"
#include "camera/QtCaptureLibrary.h"
#include "common/RecordingDesktop.h"
#include "framing/FaceDetector.h"
#include "framing/FaceFraming.h"
#include "records/DatabaseFixture.h"
#include "records/MemorySettings.h"
#include "records/PhotoTestKit.h"
#include "shell/FrmImageCapture.h"
#include "ui_frmImageCapture.h"

#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <span>

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

// A 640 x 480 camera frame: the pictures scaled and centred at the given points, on a
// wall with a gentle gradient as behind a real student.
QImage cameraFrame(const QList<std::tuple<QString, double, QPoint>>& placed)
{
    QImage frame(640, 480, QImage::Format_RGB32);
    QPainter p(&frame);
    QLinearGradient wall(0, 0, 640, 480);
    wall.setColorAt(0, QColor(150, 155, 160));
    wall.setColorAt(1, QColor(95, 100, 110));
    p.fillRect(frame.rect(), wall);
    for (const auto& [name, scale, centre] : placed) {
        const QImage picture = testPicture(name);
        const QSize size = (QSizeF(picture.size()) * scale).toSize();
        p.drawImage(QRect(centre - QPoint(size.width() / 2, size.height() / 2), size), picture);
    }
    return frame;
}

} // namespace

class TestFaceFraming : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<DatabaseFixture> m_db;
    std::shared_ptr<qc::Connection> m_cn;
    QTemporaryDir m_dir;
    RecordingDesktop m_desktop;
    MemorySettings m_settings;
    std::unique_ptr<qc::QtCaptureLibrary> m_library;
    std::unique_ptr<qc::FrmImageCapture> m_window;

    // The station on the test database with the picture camera first in its list.
    qc::FrmImageCapture& station(const QImage& frame)
    {
        const QString file = m_dir.filePath(QStringLiteral("frame.png"));
        if (!frame.save(file))
            qFatal("cannot write %s", qPrintable(file));
        // The window holds the library it was given: it goes first.
        m_window.reset();
        m_library = std::make_unique<qc::QtCaptureLibrary>();
        m_library->addDriverFirst(std::make_unique<qc::PictureFileDriver>(file));
        qc::StationServices services;
        services.desktop = &m_desktop;
        services.settings = &m_settings;
        services.capture = m_library.get();
        services.appFolder = m_dir.path();
        m_window = std::make_unique<qc::FrmImageCapture>(services);
        m_window->Form_Load();
        m_window->show();
        m_window->controls().ImagXpress1->setClickHoldInterval(150);
        m_window->controls().cmbUnidade->setCurrentIndex(
            m_window->controls().cmbUnidade->findData(kUnit));
        m_window->controls().txtMatricula->setText(kEnrolment);
        return *m_window;
    }

    void grab()
    {
        QTest::mouseClick(m_window->controls().cmdStart, Qt::LeftButton);
        QTest::mouseClick(m_window->controls().cmdSave, Qt::LeftButton);
    }

    // As the platform delivers it: press, release, press (a double-click), release.
    void doubleClick()
    {
        const QPoint at =
            m_window->controls().ImagXpress1->viewport()->mapTo(m_window.get(), QPoint(200, 200));
        QTest::mouseMove(m_window->windowHandle(), at);
        QTest::mouseDClick(m_window->windowHandle(), Qt::LeftButton, {}, at);
        QTRY_VERIFY(!m_window->controls().ImagXpress1->isHoldingClick());
    }

    // "&Salvar Foto", then the photo as the database holds it.
    QByteArray store()
    {
        m_window->controls().lblMensagem->clear();
        QTest::mouseClick(m_window->controls().Command1, Qt::LeftButton);
        return photoOf(m_cn, kUnit, kEnrolment).toByteArray();
    }

private slots:
    // The model where the station is installed is the one the shared detector loads:
    // Debian's libdlib-data on Linux, the program's own folder on Windows (the MSI puts
    // it there; the test program gets it beside itself the same way).
    void installedLandmarkModelIsLoaded()
    {
        const QFileInfo model(qc::FaceDetector::defaultLandmarkModel());
#ifdef Q_OS_WIN
        QCOMPARE(model.absolutePath(), QCoreApplication::applicationDirPath());
#endif
        QVERIFY2(model.isFile(), qPrintable(model.filePath()));
        QVERIFY(qc::FaceDetector::shared().hasLandmarks());
    }

    void damagedLandmarkModelIsLoggedAndFramingGoesOn_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("not a model") << QByteArray("a text file put where the model goes\n");
        QTest::newRow("cut short") << QByteArray("\x80\x01\x02", 3);
    }

    void damagedLandmarkModelIsLoggedAndFramingGoesOn()
    {
        QFETCH(QByteArray, contents);
        const QString model = m_dir.filePath(QStringLiteral("landmarks.dat"));
        QFile file(model);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(contents), contents.size());
        file.close();

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral(
                                               "^landmark model .*landmarks\\.dat .*face's box$")));
        qc::FaceDetector detector(model);
        QVERIFY(!detector.hasLandmarks());
    }

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

    void storedPhotoIsAnIdPhoto_data()
    {
        QTest::addColumn<QString>("portrait");
        QTest::addColumn<double>("scale");
        QTest::addColumn<QPoint>("centre");
        QTest::addColumn<bool>("nearEdge"); // shrunk: only centred, 3:4 and inside the frame
        for (const char* name : {"portrait-astronaut.jpg", "portrait-hopper.jpg"}) {
            QTest::addRow("%s, centred", name) << name << 1.0 << QPoint(320, 240) << false;
            QTest::addRow("%s, left, low", name) << name << 1.0 << QPoint(200, 280) << false;
            QTest::addRow("%s, right, larger", name) << name << 1.25 << QPoint(440, 250) << false;
            QTest::addRow("%s, left, largest", name) << name << 1.5 << QPoint(230, 260) << false;
        }
        QTest::newRow("left edge") << "portrait-hopper.jpg" << 1.25 << QPoint(70, 250) << true;
        QTest::newRow("top edge") << "portrait-astronaut.jpg" << 1.5 << QPoint(320, 170) << true;
    }

    void storedPhotoIsAnIdPhoto()
    {
        QFETCH(QString, portrait);
        QFETCH(double, scale);
        QFETCH(QPoint, centre);
        QFETCH(bool, nearEdge);
        qc::FrmImageCapture& window = station(cameraFrame({{portrait, scale, centre}}));
        QCOMPARE(window.controls().lstDevices->item(0)->text(),
                 QStringLiteral("Arquivo: frame.png"));
        grab();
        const QRect proposal = window.faceFraming().proposal();
        QVERIFY(QRect(0, 0, 640, 480).contains(proposal) && !proposal.isEmpty());
        QCOMPARE(window.controls().ImagXpress1->selectionRect(), proposal);
        QCOMPARE(window.controls().lblMensagem->text(), QString());

        const QImage photo = decoded(store()); // no drag at all
        QCOMPARE(window.controls().lblMensagem->text(), QStringLiteral("Foto salva com sucesso"));
        QCOMPARE(photo.size(), proposal.size());
        QCOMPARE(photo.width() * 4, photo.height() * 3);
        const QList<qc::Face> faces = qc::FaceDetector::shared().detect(photo);
        QCOMPARE(faces.size(), 1);
        const double across = faces[0].centreX() / photo.width() - 0.5;
        const double eyes = 1.0 - faces[0].eyeY() / photo.height();
        const double head = faces[0].headHeight() / photo.height();
        qInfo("framed %dx%d: centre %+.3f, eyes %.3f, head %.3f", photo.width(), photo.height(),
              across, eyes, head);
        QVERIFY(std::abs(across) <= 0.05);
        QVERIFY(nearEdge || (eyes >= 0.50 && eyes <= 0.70));
        QVERIFY(nearEdge || (head >= 0.70 && head <= 0.80));

        // A drag, then a double-click, each replaces the proposal as always.
        QWidget* vp = window.controls().ImagXpress1->viewport();
        QTest::mousePress(vp, Qt::LeftButton, {}, QPoint(10, 20));
        QTest::mouseMove(vp, QPoint(110, 100));
        QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(110, 100));
        QTRY_COMPARE(window.controls().ImagXpress2->picture().size(), QSize(100, 80));
        doubleClick();
        QTRY_COMPARE(window.controls().ImagXpress2->picture().size(), QSize(640, 480));
    }

    // Without exactly one face the station does what it always did: the photo control
    // keeps what it had, and a double-click stores the whole frame, switched on or off.
    void withoutOneFaceNothingIsProposed_data()
    {
        QTest::addColumn<QImage>("frame");
        QTest::addColumn<QString>("status");
        QTest::newRow("no face") << cameraFrame({{"no-face-rocket.jpg", 1.8, QPoint(320, 240)}})
                                 << qc::FaceFraming::noFaceText();
        QTest::newRow("two faces")
            << cameraFrame({{"portrait-astronaut.jpg", 1.0, QPoint(170, 250)},
                            {"portrait-hopper.jpg", 0.9, QPoint(480, 250)}})
            << qc::FaceFraming::manyFacesText();
    }

    void withoutOneFaceNothingIsProposed()
    {
        QFETCH(QImage, frame);
        QFETCH(QString, status);
        QByteArray stored[2];
        for (const bool on : {true, false}) {
            m_settings.values.insert(qc::FaceFraming::settingKey(), on ? "1" : "0");
            qc::FrmImageCapture& window = station(frame);
            QCOMPARE(window.controls().mnuEnquadrar->isChecked(), on);
            const QImage earlier = pattern(30, 40, 7);
            window.controls().ImagXpress2->setPicture(earlier);
            window.controls().lblMensagem->setText(QStringLiteral("anterior"));
            grab();
            QCOMPARE(window.controls().lblMensagem->text(),
                     on ? status : QStringLiteral("anterior"));
            QVERIFY(!window.controls().ImagXpress1->hasSelectionBand());
            QCOMPARE(window.controls().ImagXpress2->picture(), earlier);
            doubleClick();
            QTRY_COMPARE(window.controls().ImagXpress2->picture().size(), QSize(640, 480));
            stored[on] = store();
            QVERIFY(!stored[on].isEmpty());
            QVERIFY(m_desktop.boxes.isEmpty());
        }
        QCOMPARE(stored[true], stored[false]);
        // The menu item switches it and the settings keep the choice.
        m_window->controls().mnuEnquadrar->trigger();
        QCOMPARE(m_settings.values.value(qc::FaceFraming::settingKey()), QStringLiteral("1"));
    }

    // A hint never blocks: the photo is still proposed.
    void poorPicturesGetAHint_data()
    {
        QTest::addColumn<QImage>("frame");
        QTest::addColumn<QString>("hint");
        const QImage frame = cameraFrame({{"portrait-astronaut.jpg", 1.2, QPoint(320, 240)}});
        auto mapped = [&frame](int add, int num, int den) {
            QImage image = frame;
            for (int y = 0; y < image.height(); ++y)
                for (QRgb& c : std::span(reinterpret_cast<QRgb*>(image.scanLine(y)),
                                         std::size_t(image.width())))
                    c = qRgb(add + qRed(c) * num / den, add + qGreen(c) * num / den,
                             add + qBlue(c) * num / den);
            return image;
        };
        const QImage dark = mapped(0, 1, 3);
        const QImage bright = mapped(115, 3, 5);
        // Out of focus: the detail a lens loses, lost by scaling down and up again.
        const QImage blurred =
            frame.scaled(128, 96, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                .scaled(640, 480, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        QTest::newRow("sharp and well lit") << frame << "";
        QTest::newRow("dark") << dark << "Imagem muito escura";
        QTest::newRow("bright") << bright << "Imagem muito clara";
        QTest::newRow("blurred") << blurred << "Imagem desfocada";
    }

    void poorPicturesGetAHint()
    {
        QFETCH(QImage, frame);
        QFETCH(QString, hint);
        qc::FrmImageCapture& window = station(frame);
        grab();
        QCOMPARE(window.controls().lblMensagem->text(), hint);
        QVERIFY(!window.faceFraming().proposal().isEmpty());
    }

    void folderCameraShowsEachPictureInTurn()
    {
        QTemporaryDir folder;
        const QImage first =
            testPicture("portrait-hopper.jpg").convertToFormat(QImage::Format_RGB32);
        const QImage second =
            testPicture("no-face-rocket.jpg").convertToFormat(QImage::Format_RGB32);
        QVERIFY(first.save(folder.filePath("a.png")) && second.save(folder.filePath("b.png")));
        QFile(folder.filePath("c.png")).open(QIODevice::WriteOnly); // unreadable: passed over
        qc::PictureFileDriver driver(folder.path());
        QCOMPARE(driver.name(), "Arquivo: " + QDir(folder.path()).dirName());
        QVERIFY(driver.open());
        QCOMPARE(driver.currentFrame(), first); // at its own size
        QTRY_COMPARE_WITH_TIMEOUT(driver.currentFrame(), second, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(driver.currentFrame(), first, 30000);
        QVERIFY(!qc::PictureFileDriver(folder.filePath("none")).open());
    }
};

QTEST_MAIN(TestFaceFraming)
#include "tst_FaceFraming.moc"
