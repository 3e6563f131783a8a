// The face engine's module as the station finds it: loaded from the folder it is looked
// for in, and, where it is missing, no face and one warning that says where it was
// looked for. QUVELOCAP_FACES_DIR is set per case by CTest (the module is loaded once a
// process), so the test reads which case it is from FACES_EXPECTED.

#include "framing/FaceDetector.h"
#include "framing/FaceGuide.h"
#include "framing/FramingWorker.h"

#include <QImage>
#include <QtTest>

class TestFaceEngineModule : public QObject
{
    Q_OBJECT

private slots:
    void portraitThroughTheModuleFound()
    {
        const QImage portrait(qEnvironmentVariable("QUVELOCAP_SOURCE_DIR") +
                              "/tests/data/portrait-astronaut.jpg");
        QVERIFY(!portrait.isNull());
        const bool expected = qEnvironmentVariable("FACES_EXPECTED") == QStringLiteral("1");
        if (!expected)
            QTest::ignoreMessage(
                QtWarningMsg,
                QRegularExpression("^no face module \\(looked for " +
                                   QRegularExpression::escape(
                                       qEnvironmentVariable("QUVELOCAP_FACES_DIR")) +
                                   "/libquvelocap-faces\\.so\\): no face is found$"));
        // A model that does not exist: the boxes alone, without waiting for 100 MB.
        qc::FaceDetector detector(QStringLiteral("/nonexistent/model.dat"));
        QCOMPARE(detector.detect(portrait).size(), expected ? 1 : 0);
        QVERIFY(!detector.hasLandmarks());
        QCOMPARE(detector.isAvailable(), expected);
        // What the guide and the framing are told: without the engine, not "no face".
        const qc::FrameAnalysis analysis = qc::FrameAnalysis::of(detector, portrait);
        QCOMPARE(analysis.searched, expected);
        if (!expected)
            QCOMPARE(qc::FaceGuide::judge(analysis).hint, QString());
        // The second detector neither loads nor warns again.
        qc::FaceDetector second(QString{});
        QCOMPARE(second.detect(portrait).size(), expected ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(TestFaceEngineModule)
#include "tst_FaceEngineModule.moc"
