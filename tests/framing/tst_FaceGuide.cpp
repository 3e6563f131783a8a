// The face guide's judgement and the head that the crop must keep whole, on faces that
// dlib's real detector and landmark model find in the test portraits, and on those faces
// turned away by moving their landmarks as a bowed or turned head moves them.

#include "framing/FaceDetector.h"
#include "framing/FaceGuide.h"
#include "framing/FramingWorker.h"
#include "framing/IdFraming.h"

#include <QFileInfo>
#include <QPainter>
#include <QtTest>

namespace {

QImage testPicture(const QString& name)
{
    const QImage image(qEnvironmentVariable("QUVELOCAP_SOURCE_DIR") + "/tests/data/" + name);
    if (image.isNull())
        qFatal("missing test picture %s", qPrintable(name));
    return image;
}

// A 640 x 480 camera frame with the portrait scaled and centred at a point.
QImage cameraFrame(const QString& name, double scale, QPoint centre)
{
    QImage frame(640, 480, QImage::Format_RGB32);
    frame.fill(QColor(128, 132, 138));
    const QImage picture = testPicture(name);
    const QSize size = (QSizeF(picture.size()) * scale).toSize();
    QPainter(&frame).drawImage(QRect(centre - QPoint(size.width() / 2, size.height() / 2), size),
                               picture);
    return frame;
}

qc::FaceDetector& detector()
{
    return qc::FaceDetector::shared();
}

qc::Face onlyFace(const QImage& frame)
{
    const QList<qc::Face> faces = detector().detect(frame);
    if (faces.size() != 1)
        qFatal("expected one face, found %lld", static_cast<long long>(faces.size()));
    return faces.first();
}

// The head bowed: the face's features slide down and eyes-to-chin foreshortens, the nose
// tip nearing the mouth, while the detector's box stays on the face. Moves are shares of
// the upright eyes-to-chin span.
qc::Face bowed(const qc::Face& upright, double eyes, double nose, double chin)
{
    qc::Face face = upright;
    const double span = upright.chin.y() - upright.eyeY();
    face.leftEye.ry() += eyes * span;
    face.rightEye.ry() += eyes * span;
    face.noseTip.ry() += nose * span;
    face.chin.ry() += chin * span;
    face.jawLeft.ry() += eyes * span;
    face.jawRight.ry() += eyes * span;
    return face;
}

// The head turned to the image's right: the nose tip leads the jaw.
qc::Face turned(const qc::Face& upright, double share)
{
    qc::Face face = upright;
    face.noseTip.rx() += share * (upright.jawRight.x() - upright.jawLeft.x());
    return face;
}

qc::FrameAnalysis analysisOf(const QImage& frame)
{
    return qc::FrameAnalysis::of(detector(), frame);
}

} // namespace

class TestFaceGuide : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The guide's turned-face cases need the eyes, nose and jaw the model measures.
        if (!QFileInfo::exists(qc::FaceDetector::defaultLandmarkModel()))
            QSKIP("the landmark model (libdlib-data) is not installed");
        QVERIFY(detector().hasLandmarks());
    }

    void portraitsFaceTheCamera_data()
    {
        QTest::addColumn<QString>("portrait");
        QTest::addColumn<double>("scale");
        for (const char* name : {"portrait-astronaut.jpg", "portrait-hopper.jpg"})
            for (double scale : {0.8, 1.0, 1.3})
                QTest::addRow("%s at %.1f", name, scale) << name << scale;
    }

    void portraitsFaceTheCamera()
    {
        QFETCH(QString, portrait);
        QFETCH(double, scale);
        const qc::Face face = onlyFace(cameraFrame(portrait, scale, QPoint(320, 240)));
        qInfo("yaw %+.3f pitch %.3f crown above box %.3f, chin past box %.3f head/jaw %.3f",
              face.yaw(), face.pitch(),
              (face.box.top() - (2 * face.eyeY() - face.chin.y())) / face.box.height(),
              (face.box.bottom() - face.chin.y()) / face.box.height(),
              2 * (face.chin.y() - face.eyeY()) / (face.jawRight.x() - face.jawLeft.x()));
        QVERIFY(face.isFrontal());
        QVERIFY(!turned(face, 0.2).isFrontal());
        QVERIFY(!turned(face, -0.2).isFrontal());
        QVERIFY(!bowed(face, 0.30, 0.45, 0.05).isFrontal());
        // Upright, the landmarks decide where the crown is.
        QCOMPARE(face.crownY(), 2 * face.eyeY() - face.chin.y());
    }

    // Looking down, the eyes and the chin close up and the crown from them drops into the
    // hair: the crop cut off the top of the head. The box keeps the head's size.
    void bowedHeadKeepsTheWholeHead_data()
    {
        QTest::addColumn<QString>("portrait");
        QTest::addColumn<double>("eyes");
        QTest::addColumn<double>("chin");
        for (const char* name : {"portrait-astronaut.jpg", "portrait-hopper.jpg"}) {
            QTest::addRow("%s, a little", name) << name << 0.15 << 0.0;
            QTest::addRow("%s, well down", name) << name << 0.30 << 0.05;
        }
    }

    void bowedHeadKeepsTheWholeHead()
    {
        QFETCH(QString, portrait);
        QFETCH(double, eyes);
        QFETCH(double, chin);
        const QImage frame = cameraFrame(portrait, 1.0, QPoint(320, 250));
        const qc::Face upright = onlyFace(frame);
        const double crown = upright.crownY();
        const qc::Face down = bowed(upright, eyes, eyes + 0.15, chin);

        const QRect crop = qc::IdFraming::crop(down, frame.size());
        QVERIFY(!crop.isEmpty());
        QVERIFY2(
            crop.top() <= crown,
            qPrintable(QStringLiteral("crop from %1, crown at %2").arg(crop.top()).arg(crown)));
        QVERIFY(crop.bottom() >= down.chin.y());
        QCOMPARE(crop.width() * 4, crop.height() * 3);
    }

    void guideJudgesEachFrame_data()
    {
        QTest::addColumn<QImage>("frame");
        QTest::addColumn<QString>("hint");
        const QString hopper = QStringLiteral("portrait-hopper.jpg");
        const QImage good = cameraFrame(hopper, 1.0, QPoint(320, 250));
        const QImage lit = cameraFrame("portrait-astronaut.jpg", 1.2, QPoint(320, 240));
        QImage dark = lit;
        QImage bright = lit;
        for (int y = 0; y < lit.height(); ++y) {
            auto* d = reinterpret_cast<QRgb*>(dark.scanLine(y));
            auto* b = reinterpret_cast<QRgb*>(bright.scanLine(y));
            for (int x = 0; x < lit.width(); ++x) {
                d[x] = qRgb(qRed(d[x]) / 3, qGreen(d[x]) / 3, qBlue(d[x]) / 3);
                b[x] = qRgb(115 + qRed(b[x]) * 3 / 5, 115 + qGreen(b[x]) * 3 / 5,
                            115 + qBlue(b[x]) * 3 / 5);
            }
        }
        QImage two(640, 480, QImage::Format_RGB32);
        two.fill(QColor(128, 132, 138));
        {
            QPainter p(&two);
            p.drawImage(QRect(20, 60, 300, 352), testPicture(hopper));
            p.drawImage(QRect(340, 60, 250, 330), testPicture("portrait-astronaut.jpg"));
        }
        QTest::newRow("well framed") << good << QString();
        QTest::newRow("well lit") << lit << QString();
        QTest::newRow("far") << cameraFrame(hopper, 0.55, QPoint(320, 240))
                             << qc::FaceGuide::closerText();
        QTest::newRow("near") << cameraFrame(hopper, 2.2, QPoint(320, 330))
                              << qc::FaceGuide::fartherText();
        QTest::newRow("aside") << cameraFrame(hopper, 1.0, QPoint(160, 250))
                               << qc::FaceGuide::centreText();
        QTest::newRow("no face") << cameraFrame("no-face-rocket.jpg", 1.8, QPoint(320, 240))
                                 << qc::FaceGuide::noFaceText();
        QTest::newRow("two faces") << two << qc::FaceGuide::manyFacesText();
        QTest::newRow("dark") << dark << qc::FaceGuide::darkText();
        QTest::newRow("bright") << bright << qc::FaceGuide::brightText();
    }

    void guideJudgesEachFrame()
    {
        QFETCH(QImage, frame);
        QFETCH(QString, hint);
        const qc::FrameAnalysis analysis = analysisOf(frame);
        const qc::GuideVerdict verdict = qc::FaceGuide::judge(analysis);
        if (analysis.faces.size() == 1)
            qInfo("wanted %.0f of %d, centre %.0f, luminance %.0f",
                  analysis.faces[0].headHeight() / qc::IdFraming::HeadShare, frame.height(),
                  analysis.faces[0].centreX(), analysis.quality.meanLuminance);
        QCOMPARE(verdict.hint, hint);
        QCOMPARE(verdict.good, hint.isEmpty());
        QCOMPARE(verdict.frameSize, frame.size());
        if (verdict.good)
            QCOMPARE(verdict.crop, qc::IdFraming::crop(onlyFace(frame), frame.size()));
    }

    void faceTurnedAwayAsksToLook_data()
    {
        QTest::addColumn<int>("way");
        QTest::newRow("bowed") << 0;
        QTest::newRow("turned right") << 1;
        QTest::newRow("turned left") << 2;
    }

    void faceTurnedAwayAsksToLook()
    {
        QFETCH(int, way);
        qc::FrameAnalysis analysis =
            analysisOf(cameraFrame("portrait-hopper.jpg", 1.0, {320, 250}));
        QCOMPARE(analysis.faces.size(), 1);
        const qc::Face upright = analysis.faces.first();
        analysis.faces[0] = way == 0   ? bowed(upright, 0.3, 0.45, 0.05)
                            : way == 1 ? turned(upright, 0.2)
                                       : turned(upright, -0.2);
        const qc::GuideVerdict verdict = qc::FaceGuide::judge(analysis);
        QCOMPARE(verdict.hint, qc::FaceGuide::lookText());
        QVERIFY(!verdict.good);
        // The crop is still drawn, and holds the whole head.
        QVERIFY(!verdict.crop.isEmpty());
        QVERIFY(verdict.crop.top() <= upright.crownY());
    }

    // Green and still for a second: one grab; not green: never; moving: the second
    // starts again; a new green spell may grab again.
    void autoCaptureFiresOncePerGreenSpell()
    {
        qc::GuideVerdict good;
        good.good = true;
        good.hasFace = true;
        good.faceCentre = QPointF(320, 200);
        good.faceSize = 200;
        qc::GuideVerdict moved = good;
        moved.faceCentre.rx() += 40;
        qc::GuideVerdict hint = good;
        hint.good = false;
        hint.hint = qc::FaceGuide::centreText();

        qc::AutoCapture capture;
        QList<int> fired;
        auto run = [&](const qc::GuideVerdict& v, qint64 at) {
            if (capture.offer(v, at))
                fired << int(at);
        };
        // Not green for two seconds: nothing.
        for (qint64 t = 0; t <= 2000; t += 100)
            run(hint, t);
        QVERIFY(fired.isEmpty());
        // Green from 2100, but moving at 2600: the second counts from there.
        for (qint64 t = 2100; t <= 2500; t += 100)
            run(good, t);
        run(moved, 2600);
        for (qint64 t = 2700; t <= 4500; t += 100)
            run(moved, t);
        QCOMPARE(fired, QList<int>({3600}));
        // A hint ends the spell; the next green second grabs again.
        run(hint, 4600);
        for (qint64 t = 4700; t <= 6000; t += 100)
            run(good, t);
        QCOMPARE(fired, QList<int>({3600, 5700}));
    }
};

QTEST_MAIN(TestFaceGuide)
#include "tst_FaceGuide.moc"
