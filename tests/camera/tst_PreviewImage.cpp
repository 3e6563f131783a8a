// The preview made straight from camera frames (YUYV, UYVY, NV12, MJPEG) and from the test
// pattern's pictures: it must look like the picture the camera saw, stretched, and a
// frame cut short or broken gives no preview. Pure conversion code: it runs on every
// platform the station is built for.

#include "JpegEncoder.h"
#include "TestFrames.h"

#include "camera/PreviewImage.h"

#include <QTest>

#include <linux/videodev2.h>

#include <cmath>

class TestPreviewImage : public QObject
{
    Q_OBJECT

private slots:
    void previewLooksLikeThePictureStretched_data();
    void previewLooksLikeThePictureStretched();
    void previewRefusesShortOrBrokenFrames_data();
    void previewRefusesShortOrBrokenFrames();
    void stretchDownMatchesSmoothScaling();
    void heldPreviewIsNotOverwritten_data();
    void heldPreviewIsNotOverwritten();
};

namespace {

QByteArray yuyvToUyvy(QByteArray yuyv)
{
    for (qsizetype i = 0; i + 1 < yuyv.size(); i += 2)
        std::swap(yuyv[i], yuyv[i + 1]);
    return yuyv;
}

} // namespace

void TestPreviewImage::previewLooksLikeThePictureStretched_data()
{
    QTest::addColumn<quint32>("format");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<double>("tolerance");

    const QImage picture = referencePicture();
    const QByteArray yuyv = toYuyv(picture);
    QTest::newRow("YUYV") << quint32(V4L2_PIX_FMT_YUYV) << yuyv << 1.5;
    QTest::newRow("UYVY") << quint32(V4L2_PIX_FMT_UYVY) << yuyvToUyvy(yuyv) << 1.5;
    QTest::newRow("NV12") << quint32(V4L2_PIX_FMT_NV12) << toNv12(picture) << 2.0;
    // Decoded at half size and stretched up: softer than the whole frame, not different.
    QTest::newRow("MJPEG 4:2:2") << quint32(V4L2_PIX_FMT_MJPEG)
                                 << encodeMjpegFrame(picture, 85, 2, 1, true) << 2.0;
    QTest::newRow("MJPEG without Huffman tables")
        << quint32(V4L2_PIX_FMT_MJPEG) << encodeMjpegFrame(picture, 85, 2, 1, false) << 2.0;
}

void TestPreviewImage::previewLooksLikeThePictureStretched()
{
    QFETCH(quint32, format);
    QFETCH(QByteArray, data);
    QFETCH(double, tolerance);
    // What the camera saw, stretched by Qt. (libv4lconvert's own YUYV decoding is a
    // few levels off that, from its rounded coefficients; the preview is not.)
    const QImage expected =
        referencePicture().scaled(400, 400, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);

    qc::PreviewConverter preview;
    QVERIFY(qc::PreviewConverter::handles(format));
    const QImage shown = preview.toPreview(format, 640, 480, 0,
                                           reinterpret_cast<const unsigned char*>(data.constData()),
                                           std::size_t(data.size()), QSize(400, 400));
    QCOMPARE(shown.size(), QSize(400, 400));
    QCOMPARE(shown.format(), QImage::Format_RGB32);
    const double diff = meanAbsDifference(expected, shown);
    QVERIFY2(diff < tolerance, qPrintable(QStringLiteral("differs by %1").arg(diff)));
    // The red patch at the top left is red, not blue: channels in their places.
    const QRgb patch = shown.pixel(75, 80);
    QVERIFY2(qRed(patch) > 150 && qBlue(patch) < 100, qPrintable(QString::number(patch, 16)));
}

void TestPreviewImage::previewRefusesShortOrBrokenFrames_data()
{
    QTest::addColumn<quint32>("format");
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("YUYV one byte short")
        << quint32(V4L2_PIX_FMT_YUYV) << toYuyv(referencePicture()).chopped(1);
    QTest::newRow("MJPEG garbage") << quint32(V4L2_PIX_FMT_MJPEG) << QByteArray(5000, '\x5a');
}

void TestPreviewImage::previewRefusesShortOrBrokenFrames()
{
    QFETCH(quint32, format);
    QFETCH(QByteArray, data);
    qc::PreviewConverter preview;
    const QImage shown = preview.toPreview(format, 640, 480, 0,
                                           reinterpret_cast<const unsigned char*>(data.constData()),
                                           std::size_t(data.size()), QSize(400, 400));
    QVERIFY(shown.isNull());
}

void TestPreviewImage::stretchDownMatchesSmoothScaling()
{
    // What frames of other drivers (the test pattern) go through for the preview.
    const QImage picture = referencePicture();
    const QImage expected =
        picture.scaled(400, 400, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const double diff = meanAbsDifference(expected, qc::stretchToRgb32(picture, QSize(400, 400)));
    QVERIFY2(diff < 1.5, qPrintable(QStringLiteral("differs by %1").arg(diff)));
}

void TestPreviewImage::heldPreviewIsNotOverwritten_data()
{
    QTest::addColumn<quint32>("format");
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("later");

    const QImage picture = referencePicture();
    const QImage other = picture.mirrored(true, true);
    QTest::newRow("YUYV") << quint32(V4L2_PIX_FMT_YUYV) << toYuyv(picture) << toYuyv(other);
    QTest::newRow("NV12") << quint32(V4L2_PIX_FMT_NV12) << toNv12(picture) << toNv12(other);
    QTest::newRow("MJPEG") << quint32(V4L2_PIX_FMT_MJPEG)
                           << encodeMjpegFrame(picture, 85, 2, 1, true)
                           << encodeMjpegFrame(other, 85, 2, 1, true);
}

// The converter writes into pictures of its own again; one the window still shows must
// stay as it is while the frames after it are converted.
void TestPreviewImage::heldPreviewIsNotOverwritten()
{
    QFETCH(quint32, format);
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, later);
    qc::PreviewConverter preview;
    auto convert = [&](const QByteArray& data) {
        return preview.toPreview(format, 640, 480, 0,
                                 reinterpret_cast<const unsigned char*>(data.constData()),
                                 std::size_t(data.size()), QSize(400, 400));
    };
    const QImage held = convert(first);
    const QImage heldAsItWas = held.copy();
    QImage last;
    for (int i = 0; i < 3; ++i)
        last = convert(later);
    QCOMPARE(held, heldAsItWas);
    QVERIFY(last != held);
    QCOMPARE(convert(first), heldAsItWas);
}

QTEST_GUILESS_MAIN(TestPreviewImage)
#include "tst_PreviewImage.moc"
