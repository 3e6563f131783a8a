// Runs inside a small VM against the kernel's virtual camera (vivid, webcam mode), so
// that the V4L2 driver meets a real kernel driver: enumeration, streaming with format
// conversion, controls, a busy device and a device that disappears mid-stream.

#include "TestFrames.h"

#include "camera/V4l2Driver.h"

#include <QSignalSpy>
#include <QTest>

#include <linux/videodev2.h>

#include <cmath>

using qc::CaptureControl;
using qc::V4l2Driver;

// Opens the driver; when it fails, the test says the driver's reason.
#define QVERIFY_OPENS(driver)                                                                      \
    do {                                                                                           \
        const qc::CameraStatus opened = (driver).open();                                           \
        QVERIFY2(opened.ok(), qPrintable(opened.error().reason));                                  \
    } while (false)

namespace {

constexpr int FrameWaitMs = 30000; // vivid under software emulation is slow to start

int controlId(const V4l2Driver& driver, const QString& name)
{
    for (const CaptureControl& c : driver.controls())
        if (c.name == name)
            return int(c.id);
    return -1;
}

double meanLuma(const QImage& image)
{
    double sum = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            sum += qGray(image.pixel(x, y));
    return sum / (image.width() * image.height());
}

// Waits for n frames after the current one, so a control change has reached the picture.
bool waitFrames(const V4l2Driver& driver, quint64 n)
{
    const quint64 target = driver.frameCount() + n;
    return QTest::qWaitFor([&] { return driver.frameCount() >= target || !driver.isOpen(); },
                           FrameWaitMs) &&
           driver.isOpen();
}

} // namespace

class TestV4l2Vivid : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void listsTheCameraByCardName();
    void convertsEachPixelFormatToRgb_data();
    void convertsEachPixelFormatToRgb();
    void defaultOpenStreamsAtVgaSize();
    void listsControlsAndAppliesBrightness();
    void secondOpenOfBusyDeviceFailsCleanly();
    void disconnectMidStreamEndsTheStream();
    void formatsItCannotReadAreUnsupported_data();
    void formatsItCannotReadAreUnsupported();

private:
    V4l2Driver::Device m_device;
    QImage m_reference; // the colour bars as the device gives them in RGB
};

void TestV4l2Vivid::initTestCase()
{
    const auto devices = V4l2Driver::enumerate();
    if (devices.isEmpty())
        QSKIP("no V4L2 capture device: this test runs in the vivid VM");
    m_device = devices.first();

    // The on-screen text carries a clock; without it every format shows the same picture.
    V4l2Driver driver(m_device);
    QVERIFY_OPENS(driver);
    const int osd = controlId(driver, QStringLiteral("OSD Text Mode"));
    QVERIFY(osd >= 0);
    QVERIFY(driver.setControl(osd, 2));
    driver.close();

    driver.setRequestedFormat(V4L2_PIX_FMT_RGB24, QSize(640, 480));
    QVERIFY_OPENS(driver);
    QVERIFY(waitFrames(driver, 2));
    m_reference = driver.currentFrame();
    // Colour bars are not one flat colour: a conversion that gave grey or garbage
    // would fail the comparisons below.
    QVERIFY(m_reference.pixel(40, 240) != m_reference.pixel(600, 240));
}

void TestV4l2Vivid::listsTheCameraByCardName()
{
    const auto devices = V4l2Driver::enumerate();
    QCOMPARE(devices.size(), 1);
    QCOMPARE(devices.first().card, QStringLiteral("vivid"));
    QCOMPARE(devices.first().path, QStringLiteral("/dev/video0"));
    V4l2Driver driver(devices.first());
    QCOMPARE(driver.name(), QStringLiteral("vivid"));
}

void TestV4l2Vivid::convertsEachPixelFormatToRgb_data()
{
    QTest::addColumn<quint32>("format");
    QTest::newRow("BGR24") << quint32(V4L2_PIX_FMT_BGR24);
    QTest::newRow("YUYV") << quint32(V4L2_PIX_FMT_YUYV);
    QTest::newRow("NV12") << quint32(V4L2_PIX_FMT_NV12);
    QTest::newRow("YU12") << quint32(V4L2_PIX_FMT_YUV420);
}

void TestV4l2Vivid::convertsEachPixelFormatToRgb()
{
    QFETCH(quint32, format);
    V4l2Driver driver(m_device);
    driver.setRequestedFormat(format, QSize(640, 480));
    QVERIFY_OPENS(driver);
    QCOMPARE(driver.sourceFormat(), format);
    QVERIFY(waitFrames(driver, 2));
    const QImage frame = driver.currentFrame();
    QCOMPARE(frame.size(), QSize(640, 480));
    QCOMPARE(frame.format(), QImage::Format_RGB888);

    // Every format carries the same colour bars; converted, each must look like the
    // device's own RGB picture. libv4lconvert reads YUV as full range where vivid
    // writes limited range, which costs up to 16 levels per channel: a wrong or
    // garbled conversion is far off that.
    QVERIFY(frame.pixel(40, 240) != frame.pixel(600, 240));
    const double diff = meanAbsDifference(m_reference, frame);
    QVERIFY2(diff < 16.0, qPrintable(QStringLiteral("differs from RGB by %1").arg(diff)));
}

void TestV4l2Vivid::defaultOpenStreamsAtVgaSize()
{
    V4l2Driver driver(m_device);
    QVERIFY_OPENS(driver);
    QVERIFY(waitFrames(driver, 2));
    QCOMPARE(driver.frameSize(), QSize(640, 480));
    QCOMPARE(driver.currentFrame().size(), QSize(640, 480));
    driver.close();
    QVERIFY(!driver.isOpen());
    QVERIFY(driver.currentFrame().isNull());
}

void TestV4l2Vivid::listsControlsAndAppliesBrightness()
{
    V4l2Driver driver(m_device);
    QVERIFY_OPENS(driver);
    const auto controls = driver.controls();
    auto find = [&](const QString& name) {
        for (const CaptureControl& c : controls)
            if (c.name == name)
                return c;
        return CaptureControl();
    };
    const CaptureControl brightness = find(QStringLiteral("Brightness"));
    QCOMPARE(brightness.type, CaptureControl::Type::Integer);
    QCOMPARE(brightness.minimum, 0);
    QCOMPARE(brightness.maximum, 255);
    QCOMPARE(find(QStringLiteral("Contrast")).type, CaptureControl::Type::Integer);
    QCOMPARE(find(QStringLiteral("Boolean")).type, CaptureControl::Type::Boolean);
    QCOMPARE(find(QStringLiteral("Button")).type, CaptureControl::Type::Button);
    const CaptureControl menu = find(QStringLiteral("Test Pattern"));
    QCOMPARE(menu.type, CaptureControl::Type::Menu);
    QVERIFY(menu.menu.size() > 2);
    QCOMPARE(menu.menu.first().name, QStringLiteral("75% Colorbar"));

    QVERIFY(driver.setControl(brightness.id, 51));
    QCOMPARE(driver.controlValue(brightness.id), 51);
    QVERIFY(waitFrames(driver, 3));
    const double dark = meanLuma(driver.currentFrame());
    QVERIFY(driver.setControl(brightness.id, 204));
    QCOMPARE(driver.controlValue(brightness.id), 204);
    QVERIFY(waitFrames(driver, 3));
    const double bright = meanLuma(driver.currentFrame());
    QVERIFY2(bright > dark + 50, qPrintable(QStringLiteral("%1 vs %2").arg(dark).arg(bright)));
    QVERIFY(driver.setControl(brightness.id, brightness.defaultValue));
}

void TestV4l2Vivid::secondOpenOfBusyDeviceFailsCleanly()
{
    V4l2Driver first(m_device);
    QVERIFY_OPENS(first);
    QVERIFY(waitFrames(first, 1));

    V4l2Driver second(m_device);
    const qc::CameraStatus refused = second.open();
    QVERIFY(!refused);
    QVERIFY(!second.isOpen());
    QVERIFY2(refused.error().reason.contains(QStringLiteral("busy")),
             qPrintable(refused.error().reason));
    QCOMPARE(refused.error().kind, qc::CaptureError::Kind::Busy);

    // The stream that owns the device goes on undisturbed.
    QVERIFY(waitFrames(first, 2));
    first.close();
    QVERIFY_OPENS(second);
}

void TestV4l2Vivid::disconnectMidStreamEndsTheStream()
{
    V4l2Driver driver(m_device);
    QVERIFY_OPENS(driver);
    QVERIFY(waitFrames(driver, 2));
    const int disconnect = controlId(driver, QStringLiteral("Disconnect"));
    QVERIFY(disconnect >= 0);

    QSignalSpy ended(&driver, &V4l2Driver::streamEnded);
    driver.setControl(disconnect, 0);
    QVERIFY(ended.wait(FrameWaitMs));
    QCOMPARE(ended.count(), 1);
    QVERIFY(!driver.isOpen());
    QVERIFY(driver.currentFrame().isNull());
    const auto why = ended.first().first().value<qc::CaptureError>();
    QVERIFY(!why.reason.isEmpty());
    QCOMPARE(why.kind, qc::CaptureError::Kind::Gone);

    // vivid plugs the device back in once its last user lets go: a driver that kept
    // the file open would never see it again.
    QVERIFY_OPENS(driver);
    QVERIFY(waitFrames(driver, 2));
}

void TestV4l2Vivid::formatsItCannotReadAreUnsupported_data()
{
    QTest::addColumn<quint32>("format");
    QTest::addColumn<QString>("reason");
    QTest::newRow("not offered") << quint32(V4L2_PIX_FMT_MJPEG) << "pixel format not offered";
    QTest::newRow("offered, not readable")
        << quint32(V4L2_PIX_FMT_HSV24) << "pixel format HSV3 cannot be read";
}

void TestV4l2Vivid::formatsItCannotReadAreUnsupported()
{
    QFETCH(quint32, format);
    QFETCH(QString, reason);
    V4l2Driver driver(m_device);
    driver.setRequestedFormat(format, QSize(640, 480));
    const qc::CameraStatus refused = driver.open();
    QVERIFY(!refused);
    QVERIFY(!driver.isOpen());
    QCOMPARE(refused.error().kind, qc::CaptureError::Kind::Unsupported);
    QVERIFY2(refused.error().reason.startsWith("/dev/video0: " + reason),
             qPrintable(refused.error().reason));
}

QTEST_GUILESS_MAIN(TestV4l2Vivid)
#include "tst_V4l2Vivid.moc"
