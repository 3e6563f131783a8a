// Frame conversion to RGB through libv4lconvert on frames made here: MJPEG as webcams
// send it (vivid in the VM test has no MJPEG) and YUYV, plus frames that cannot be
// converted. The preview made straight from such frames: tst_PreviewImage.

#include "JpegEncoder.h"
#include "TestFrames.h"

#include "camera/FrameConverter.h"

#include <QTest>

#include <linux/videodev2.h>

#include <cmath>

class TestFrameConverter : public QObject
{
    Q_OBJECT

private slots:
    void convertsCameraFramesToRgb_data();
    void convertsCameraFramesToRgb();
    void refusesFramesItCannotConvert_data();
    void refusesFramesItCannotConvert();
    void keepsWorkingAfterABadFrame();
    void refusesFramesItCannotReadSafely_data();
    void refusesFramesItCannotReadSafely();
    void tornJpegIsToldFromWholeOne();
};

void TestFrameConverter::convertsCameraFramesToRgb_data()
{
    QTest::addColumn<quint32>("format");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<double>("tolerance");

    const QImage picture = referencePicture();
    QTest::newRow("MJPEG 4:2:2") << quint32(V4L2_PIX_FMT_MJPEG)
                                 << encodeMjpegFrame(picture, 90, 2, 1, true) << 4.0;
    QTest::newRow("MJPEG 4:2:0") << quint32(V4L2_PIX_FMT_MJPEG)
                                 << encodeMjpegFrame(picture, 90, 2, 2, true) << 4.0;
    QTest::newRow("MJPEG without Huffman tables")
        << quint32(V4L2_PIX_FMT_MJPEG) << encodeMjpegFrame(picture, 90, 2, 1, false) << 4.0;
    QTest::newRow("JPEG 4:4:4") << quint32(V4L2_PIX_FMT_JPEG)
                                << encodeMjpegFrame(picture, 95, 1, 1, true) << 4.0;
    QTest::newRow("YUYV") << quint32(V4L2_PIX_FMT_YUYV) << toYuyv(picture) << 6.0;
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    QTest::newRow("RGB24") << quint32(V4L2_PIX_FMT_RGB24)
                           << QByteArray(reinterpret_cast<const char*>(rgb.constBits()),
                                         int(rgb.sizeInBytes()))
                           << 0.0;
}

void TestFrameConverter::convertsCameraFramesToRgb()
{
    QFETCH(quint32, format);
    QFETCH(QByteArray, data);
    QFETCH(double, tolerance);

    qc::FrameConverter converter;
    QVERIFY(converter.isValid());
    const qc::CameraResult<QImage> converted = converter.toRgb(
        format, 640, 480, 0, reinterpret_cast<const unsigned char*>(data.constData()),
        std::size_t(data.size()));
    QVERIFY2(converted, qPrintable(converted.error().reason));
    const QImage image = *converted;
    QCOMPARE(image.size(), QSize(640, 480));
    const double diff = meanAbsDifference(referencePicture(), image);
    QVERIFY2(diff <= tolerance, qPrintable(QStringLiteral("mean difference %1").arg(diff)));
    // The flat patches keep their colour: channels are in the right order.
    const QRgb red = image.pixel(120, 100), green = image.pixel(520, 360);
    QVERIFY2(qRed(red) > 150 && qGreen(red) < 80 && qBlue(red) < 80,
             qPrintable(QString::number(red, 16)));
    QVERIFY2(qGreen(green) > 130 && qRed(green) < 80 && qBlue(green) < 100,
             qPrintable(QString::number(green, 16)));
}

void TestFrameConverter::refusesFramesItCannotConvert_data()
{
    QTest::addColumn<quint32>("format");
    QTest::addColumn<QByteArray>("data");

    const QByteArray jpeg = encodeMjpegFrame(referencePicture(), 90, 2, 1, true);
    QTest::newRow("MJPEG cut short") << quint32(V4L2_PIX_FMT_MJPEG) << jpeg.left(600);
    QTest::newRow("MJPEG garbage") << quint32(V4L2_PIX_FMT_MJPEG) << QByteArray(5000, '\x5a');
    QTest::newRow("YUYV cut short") << quint32(V4L2_PIX_FMT_YUYV) << QByteArray(1000, '\x10');
    QTest::newRow("unknown format")
        << quint32(v4l2_fourcc('Q', 'C', 'X', 'X')) << QByteArray(640 * 480 * 4, '\x10');
    QTest::newRow("empty") << quint32(V4L2_PIX_FMT_YUYV) << QByteArray();
}

void TestFrameConverter::refusesFramesItCannotConvert()
{
    QFETCH(quint32, format);
    QFETCH(QByteArray, data);
    qc::FrameConverter converter;
    const qc::CameraResult<QImage> converted = converter.toRgb(
        format, 640, 480, 0, reinterpret_cast<const unsigned char*>(data.constData()),
        std::size_t(data.size()));
    QVERIFY(!converted);
    QVERIFY(!converted.error().reason.isEmpty());
}

void TestFrameConverter::keepsWorkingAfterABadFrame()
{
    qc::FrameConverter converter;
    const QByteArray good = encodeMjpegFrame(referencePicture(), 90, 2, 1, true);
    const QByteArray bad(4000, '\x5a');
    auto convert = [&](const QByteArray& d) {
        return converter.toRgb(V4L2_PIX_FMT_MJPEG, 640, 480, 0,
                               reinterpret_cast<const unsigned char*>(d.constData()),
                               std::size_t(d.size()));
    };
    QVERIFY(!convert(bad));
    const qc::CameraResult<QImage> image = convert(good);
    QVERIFY2(image, qPrintable(image.error().reason));
    QCOMPARE(image->size(), QSize(640, 480));
}

// libv4lconvert reads a raw frame by its declared size, whatever it was handed; a short
// frame must be refused before it is read past its end.
void TestFrameConverter::refusesFramesItCannotReadSafely_data()
{
    QTest::addColumn<quint32>("format");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<quint32>("bytesPerLine");
    QTest::addColumn<int>("bytes");
    QTest::addColumn<QString>("error");
    const QString shortFrame = QStringLiteral("short frame");
    // Found by the frame conversion fuzzer: a Bayer frame of 1159 x 4 in 225 bytes (the
    // width made even here, which the odd one is refused for anyway).
    QTest::newRow("Bayer, a fraction of the frame")
        << quint32(V4L2_PIX_FMT_SBGGR8) << QSize(1160, 4) << 0u << 225 << shortFrame;
    QTest::newRow("Bayer, one byte short")
        << quint32(V4L2_PIX_FMT_SBGGR8) << QSize(640, 480) << 0u << 640 * 480 - 1 << shortFrame;
    QTest::newRow("YUV 4:2:0, one byte short") << quint32(V4L2_PIX_FMT_YUV420) << QSize(640, 480)
                                               << 0u << 640 * 480 * 3 / 2 - 1 << shortFrame;
    QTest::newRow("NV12, one byte short") << quint32(V4L2_PIX_FMT_NV12) << QSize(640, 480) << 0u
                                          << 640 * 480 * 3 / 2 - 1 << shortFrame;
    QTest::newRow("RGB24, one byte short")
        << quint32(V4L2_PIX_FMT_RGB24) << QSize(64, 48) << 0u << 64 * 48 * 3 - 1 << shortFrame;
    QTest::newRow("padded lines, one byte short")
        << quint32(V4L2_PIX_FMT_YUYV) << QSize(64, 48) << 160u << 160 * 48 - 1 << shortFrame;
    QTest::newRow("line shorter than the width")
        << quint32(V4L2_PIX_FMT_YUYV) << QSize(64, 48) << 100u << 64 * 48 * 2 << shortFrame;
    // Found by the fuzzer: libv4lconvert's decoder of this old webcam compression read
    // outside its buffers on an 8 x 4 frame of 32 bytes.
    QTest::newRow("old webcam compression") << quint32(V4L2_PIX_FMT_SN9C10X) << QSize(8, 4) << 0u
                                            << 32 << QStringLiteral("unsupported pixel format");
    // Found by the fuzzer: a Bayer frame one pixel wide was demosaiced past its end.
    QTest::newRow("Bayer, one column") << quint32(V4L2_PIX_FMT_SGBRG8) << QSize(1, 7) << 0u << 15
                                       << QStringLiteral("odd frame size");
    QTest::newRow("YUV 4:2:0, odd height") << quint32(V4L2_PIX_FMT_YUV420) << QSize(64, 47) << 0u
                                           << 64 * 48 * 2 << QStringLiteral("odd frame size");
    QTest::newRow("wider than any camera") << quint32(V4L2_PIX_FMT_MJPEG) << QSize(60000, 4) << 0u
                                           << 4096 << QStringLiteral("frame too large");
}

void TestFrameConverter::refusesFramesItCannotReadSafely()
{
    QFETCH(quint32, format);
    QFETCH(QSize, size);
    QFETCH(quint32, bytesPerLine);
    QFETCH(int, bytes);
    QFETCH(QString, error);
    qc::FrameConverter converter;
    const auto convert = [&](const QByteArray& data) {
        return converter.toRgb(format, size.width(), size.height(), bytesPerLine,
                               reinterpret_cast<const unsigned char*>(data.constData()),
                               std::size_t(data.size()));
    };
    const qc::CameraResult<QImage> refused = convert(QByteArray(bytes, '\x40'));
    QVERIFY(!refused);
    QCOMPARE(refused.error().reason, error);
    // One byte more makes the frame whole, and then it converts.
    if (QByteArray(QTest::currentDataTag()).endsWith("one byte short")) {
        const qc::CameraResult<QImage> image = convert(QByteArray(bytes + 1, '\x40'));
        QVERIFY2(image, qPrintable(image.error().reason));
        QCOMPARE(image->size(), size);
    }
}

void TestFrameConverter::tornJpegIsToldFromWholeOne()
{
    const QByteArray whole = encodeMjpegFrame(referencePicture(), 85, 2, 1, true);
    auto looksWhole = [](const QByteArray& jpeg) {
        return qc::FrameConverter::jpegLooksWhole(
            reinterpret_cast<const unsigned char*>(jpeg.constData()), std::size_t(jpeg.size()));
    };
    QVERIFY(looksWhole(whole));
    QVERIFY(looksWhole(whole + QByteArray(300, '\0'))); // padded after its end
    QVERIFY(!looksWhole(whole.left(whole.size() * 2 / 3)));
}

QTEST_GUILESS_MAIN(TestFrameConverter)
#include "tst_FrameConverter.moc"
