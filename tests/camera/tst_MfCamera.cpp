// What the Media Foundation camera driver decides and converts without a camera, on the
// same code Windows runs: the format it asks for, the operator's message for each
// failure Windows reports, and its frames (NV12, YUY2, MJPEG as a buffer holds them)
// against the conversions the Linux driver applies to the same bytes. Runs on Linux
// and, in the Windows build, under Wine.

#include "JpegEncoder.h"
#include "TestFrames.h"

#include "camera/CameraMessages.h"
#include "camera/FrameDecoder.h"
#include "camera/PreviewImage.h"
#include "camera/mf/MfError.h"
#include "camera/mf/MfFormats.h"
#include "camera/mf/MfFrameStore.h"
#ifndef Q_OS_WIN
#include "camera/FrameConverter.h"
#endif

#include <QTest>

#include <linux/videodev2.h>

using qc::CaptureError;
using qc::mfFourcc;
using qc::MfOffer;

Q_DECLARE_METATYPE(QList<qc::MfOffer>)
Q_DECLARE_METATYPE(qc::CaptureError::Kind)

class TestMfCamera : public QObject
{
    Q_OBJECT

private slots:
    void choosesTheFormat_data();
    void choosesTheFormat();
    void ordersTheCameras_data();
    void ordersTheCameras();
    void framesConvertAsOnLinux_data();
    void framesConvertAsOnLinux();
    void damagedFramesAreNotKept_data();
    void damagedFramesAreNotKept();
    void failuresTellTheOperator_data();
    void failuresTellTheOperator();
    void windowsGivesItsOwnReason();
};

namespace {

const std::uint32_t Yuy2 = mfFourcc('Y', 'U', 'Y', '2');
const std::uint32_t Nv12 = mfFourcc('N', 'V', '1', '2');
const std::uint32_t Mjpg = mfFourcc('M', 'J', 'P', 'G');
const std::uint32_t H264 = mfFourcc('H', '2', '6', '4');
const std::uint32_t Rgb24 = 20; // MFVideoFormat_RGB24: D3DFMT_R8G8B8, not a four-character code

MfOffer offer(std::uint32_t fourcc, int w, int h, double fps)
{
    return {fourcc, QSize(w, h), fps};
}

QString dataFile(const char* name)
{
    return qEnvironmentVariable("QUVELOCAP_SOURCE_DIR") + QStringLiteral("/tests/data/") +
           QLatin1String(name);
}

// A raw frame as a buffer with a longer pitch holds it: each line padded with junk
// (NV12: both planes at that pitch, the chroma plane right after the luma plane).
QByteArray withPitch(const QByteArray& packed, int lineBytes, int lines, int pitch)
{
    QByteArray out;
    for (int y = 0; y < lines; ++y)
        out += packed.mid(qsizetype(y) * lineBytes, lineBytes) +
               QByteArray(pitch - lineBytes, char(0xA5));
    return out;
}

const unsigned char* bytes(const QByteArray& data)
{
    return reinterpret_cast<const unsigned char*>(data.constData());
}

} // namespace

void TestMfCamera::choosesTheFormat_data()
{
    QTest::addColumn<QList<MfOffer>>("offers");
    QTest::addColumn<int>("chosen");

    QTest::newRow("640 x 480 among larger and smaller")
        << QList<MfOffer>{offer(Mjpg, 1280, 720, 30), offer(Yuy2, 640, 480, 30),
                          offer(Nv12, 320, 240, 30)}
        << 1;
    QTest::newRow("same size: NV12 before YUY2 before MJPG")
        << QList<MfOffer>{offer(Mjpg, 640, 480, 30), offer(Yuy2, 640, 480, 30),
                          offer(Nv12, 640, 480, 30)}
        << 2;
    QTest::newRow("same size: the faster rate before the cheaper format")
        << QList<MfOffer>{offer(Nv12, 640, 480, 5), offer(Mjpg, 640, 480, 30)} << 1;
    QTest::newRow("29.97 and 30 frames a second are the same rate")
        << QList<MfOffer>{offer(Mjpg, 640, 480, 30), offer(Nv12, 640, 480, 29.97)} << 1;
    QTest::newRow("rates above 30 count as 30")
        << QList<MfOffer>{offer(Nv12, 640, 480, 30), offer(Mjpg, 640, 480, 60)} << 0;
    QTest::newRow("no 640 x 480: the nearest size")
        << QList<MfOffer>{offer(Mjpg, 1920, 1080, 30), offer(Nv12, 320, 240, 30),
                          offer(Yuy2, 800, 600, 15)}
        << 2;
    QTest::newRow("as near below as above: the larger")
        << QList<MfOffer>{offer(Nv12, 560, 420, 30), offer(Nv12, 720, 540, 30)} << 1;
    QTest::newRow("formats the station cannot read are passed over")
        << QList<MfOffer>{offer(H264, 640, 480, 30), offer(Rgb24, 640, 480, 30),
                          offer(Yuy2, 1280, 720, 10)}
        << 2;
    QTest::newRow("a size of nothing is passed over")
        << QList<MfOffer>{offer(Nv12, 0, 0, 30), offer(Mjpg, 1280, 960, 30)} << 1;
    QTest::newRow("nothing readable") << QList<MfOffer>{offer(H264, 640, 480, 30)} << -1;
    QTest::newRow("nothing offered") << QList<MfOffer>{} << -1;
}

void TestMfCamera::choosesTheFormat()
{
    QFETCH(QList<MfOffer>, offers);
    QFETCH(int, chosen);
    QCOMPARE(qc::chooseMfOffer(offers), chosen);
}

void TestMfCamera::ordersTheCameras_data()
{
    QTest::addColumn<QStringList>("found"); // "name|link" as Windows lists them
    QTest::addColumn<int>("limit");
    QTest::addColumn<QStringList>("listed");

    QTest::newRow("by name, whatever order Windows found them in")
        << QStringList{"USB Camera|b", "Integrated Webcam|a", "HD Pro Webcam C920|c"} << 10
        << QStringList{"HD Pro Webcam C920|c", "Integrated Webcam|a", "USB Camera|b"};
    QTest::newRow("two of one model: by link")
        << QStringList{"USB Camera|\\\\?\\usb#2", "USB Camera|\\\\?\\usb#1"} << 10
        << QStringList{"USB Camera|\\\\?\\usb#1", "USB Camera|\\\\?\\usb#2"};
    QTest::newRow("no link: left out; no name: listed by its link")
        << QStringList{"Ghost|", "|\\\\?\\usb#9"} << 10 << QStringList{"\\\\?\\usb#9|\\\\?\\usb#9"};
    QTest::newRow("at most the limit")
        << QStringList{"D|4", "C|3", "B|2", "A|1"} << 3 << QStringList{"A|1", "B|2", "C|3"};
}

void TestMfCamera::ordersTheCameras()
{
    QFETCH(QStringList, found);
    QFETCH(int, limit);
    QFETCH(QStringList, listed);
    QList<qc::CameraDevice> devices;
    for (const QString& entry : found)
        devices.append({entry.section(QLatin1Char('|'), 1), entry.section(QLatin1Char('|'), 0, 0)});
    QStringList result;
    for (const qc::CameraDevice& d : qc::orderMfCameras(devices, limit))
        result << d.name + QLatin1Char('|') + d.id;
    QCOMPARE(result, listed);
}

void TestMfCamera::framesConvertAsOnLinux_data()
{
    QTest::addColumn<quint32>("subtype");
    QTest::addColumn<quint32>("linuxFormat");
    QTest::addColumn<QByteArray>("packed"); // the frame as the Linux driver gets it
    QTest::addColumn<int>("pitch");         // 0: compressed, or tightly packed
    QTest::addColumn<QImage>("picture");

    for (const char* name : {"portrait-astronaut.jpg", "portrait-hopper.jpg"}) {
        const QImage picture = cameraPortrait(dataFile(name));
        QVERIFY2(!picture.isNull(), name);
        const QByteArray nv12 = toNv12(picture), yuyv = toYuyv(picture);
        auto row = [&](const char* what) -> QTestData& {
            return QTest::addRow("%s, %s", name, what);
        };
        row("NV12") << quint32(Nv12) << quint32(V4L2_PIX_FMT_NV12) << nv12 << 0 << picture;
        row("NV12, pitch 704") << quint32(Nv12) << quint32(V4L2_PIX_FMT_NV12) << nv12 << 704
                               << picture;
        row("YUY2") << quint32(Yuy2) << quint32(V4L2_PIX_FMT_YUYV) << yuyv << 0 << picture;
        row("YUY2, pitch 1344") << quint32(Yuy2) << quint32(V4L2_PIX_FMT_YUYV) << yuyv << 1344
                                << picture;
        row("MJPEG 4:2:2") << quint32(Mjpg) << quint32(V4L2_PIX_FMT_MJPEG)
                           << encodeMjpegFrame(picture, 85, 2, 1, true) << 0 << picture;
        row("MJPEG 4:2:0 without Huffman tables")
            << quint32(Mjpg) << quint32(V4L2_PIX_FMT_MJPEG)
            << encodeMjpegFrame(picture, 85, 2, 2, false) << 0 << picture;
    }
}

void TestMfCamera::framesConvertAsOnLinux()
{
    QFETCH(quint32, subtype);
    QFETCH(quint32, linuxFormat);
    QFETCH(QByteArray, packed);
    QFETCH(int, pitch);
    QFETCH(QImage, picture);

    QByteArray buffer = packed;
    if (pitch) {
        const int lineBytes = linuxFormat == V4L2_PIX_FMT_NV12 ? 640 : 1280;
        const int lines = linuxFormat == V4L2_PIX_FMT_NV12 ? 720 : 480;
        buffer = withPitch(packed, lineBytes, lines, pitch);
    }
    qc::MfFrameStore store;
    QVERIFY(store.setFormat(subtype, QSize(640, 480)));
    QCOMPARE(store.pixelFormat(), linuxFormat);
    QVERIFY(store.put(bytes(buffer), std::size_t(buffer.size()), pitch));
    QCOMPARE(store.frameCount(), quint64(1));

    // The preview: what the Linux driver shows for the same frame, to the pixel.
    qc::PreviewConverter linuxPreview;
    const QImage expectedPreview = linuxPreview.toPreview(
        linuxFormat, 640, 480, 0, bytes(packed), std::size_t(packed.size()), QSize(400, 400));
    QVERIFY(!expectedPreview.isNull());
    QCOMPARE(store.preview(QSize(400, 400)), expectedPreview);

    // The grab: whole, the picture the camera saw.
    const QImage whole = store.whole();
    QCOMPARE(whole.size(), QSize(640, 480));
    const double seen = meanAbsDifference(picture, whole);
    QVERIFY2(seen < 6, qPrintable(QStringLiteral("differs from the picture by %1").arg(seen)));
#ifndef Q_OS_WIN
    // The same bytes through libv4lconvert, as the Linux driver grabs them: the same photo.
    qc::FrameConverter libv4lconvert;
    const QImage linuxWhole =
        libv4lconvert.toRgb(linuxFormat, 640, 480, 0, bytes(packed), std::size_t(packed.size()))
            .valueOr(QImage());
    QVERIFY(!linuxWhole.isNull());
    QCOMPARE(whole, linuxWhole);
#else
    // Windows has no libv4lconvert: the grab's own decoder, shown equal to it on Linux,
    // on the packed bytes, so that the buffer's pitch is what is checked here.
    qc::FrameDecoder decoder;
    QCOMPARE(whole,
             decoder.toRgb(linuxFormat, 640, 480, 0, bytes(packed), std::size_t(packed.size()))
                 .valueOr(QImage()));
#endif
}

void TestMfCamera::damagedFramesAreNotKept_data()
{
    QTest::addColumn<quint32>("subtype");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("pitch");

    const QImage picture = referencePicture();
    const QByteArray nv12 = toNv12(picture), yuyv = toYuyv(picture);
    const QByteArray jpeg = encodeMjpegFrame(picture, 85, 2, 1, true);
    QTest::newRow("NV12 without its last chroma line") << Nv12 << nv12.left(nv12.size() - 640) << 0;
    QTest::newRow("YUY2 one byte short") << Yuy2 << yuyv.left(yuyv.size() - 1) << 0;
    QTest::newRow("YUY2 pitch shorter than a line") << Yuy2 << yuyv << 1200;
    QTest::newRow("YUY2 lines bottom-up") << Yuy2 << yuyv << -1280;
    QTest::newRow("MJPEG torn in transfer") << Mjpg << jpeg.left(jpeg.size() * 2 / 3) << 0;
    QTest::newRow("empty sample") << Mjpg << QByteArray() << 0;
}

void TestMfCamera::damagedFramesAreNotKept()
{
    QFETCH(quint32, subtype);
    QFETCH(QByteArray, frame);
    QFETCH(int, pitch);

    qc::MfFrameStore store;
    QVERIFY(store.setFormat(subtype, QSize(640, 480)));
    QVERIFY(!store.put(bytes(frame), std::size_t(frame.size()), pitch));
    QCOMPARE(store.frameCount(), quint64(0));
    QVERIFY(store.preview(QSize(400, 400)).isNull());
    QVERIFY(store.whole().isNull());
}

void TestMfCamera::failuresTellTheOperator_data()
{
    QTest::addColumn<quint32>("hresult");
    QTest::addColumn<QString>("systemText");
    QTest::addColumn<CaptureError::Kind>("kind");
    QTest::addColumn<QString>("message");

    const QString open = QStringLiteral("Não foi possível abrir a câmera");
    const QString reason = QStringLiteral("\n\nMotivo informado pelo driver: ");
    const QString busy = open + QStringLiteral(": ela está sendo usada por outro programa.");
    const QString gone = open + QStringLiteral(": ela não está mais conectada.");
    QTest::newRow("hardware busy")
        << 0xC00D3704u << QStringLiteral("Hardware MFT failed to start streaming.")
        << CaptureError::Kind::Busy
        << busy + reason +
               QStringLiteral("ativar a câmera: Hardware MFT failed to start streaming. "
                              "(0xC00D3704)");
    QTest::newRow("taken by another program")
        << 0xC00D3EA3u << QString() << CaptureError::Kind::Busy
        << busy + reason + QStringLiteral("ativar a câmera: 0xC00D3EA3");
    QTest::newRow("sharing violation")
        << 0x80070020u << QString() << CaptureError::Kind::Busy
        << busy + reason + QStringLiteral("ativar a câmera: 0x80070020");
    QTest::newRow("device invalidated")
        << 0xC00D3EA2u << QString() << CaptureError::Kind::Gone
        << gone + reason + QStringLiteral("ativar a câmera: 0xC00D3EA2");
    QTest::newRow("device removed")
        << 0x80070651u << QStringLiteral("The device has been removed.\r\n")
        << CaptureError::Kind::Gone
        << gone + reason +
               QStringLiteral("ativar a câmera: The device has been removed. (0x80070651)");
    QTest::newRow("privacy setting")
        << 0x80070005u << QStringLiteral("Acesso negado.") << CaptureError::Kind::Privacy
        << open +
               QStringLiteral(": a configuração de privacidade do Windows não deixa programas da "
                              "área de trabalho usarem a câmera. Para permitir, abra "
                              "Configurações > Privacidade > Câmera e ative o acesso à câmera "
                              "para aplicativos da área de trabalho.") +
               reason + QStringLiteral("ativar a câmera: Acesso negado. (0x80070005)");
    QTest::newRow("no format the station reads")
        << 0xC00D36B4u << QString() << CaptureError::Kind::Unsupported
        << open +
               QStringLiteral(": ela não oferece um formato de imagem que a estação saiba ler.") +
               reason + QStringLiteral("ativar a câmera: 0xC00D36B4");
    QTest::newRow("anything else")
        << 0x80004005u << QStringLiteral("Unspecified error") << CaptureError::Kind::Failed
        << open + QStringLiteral(".") + reason +
               QStringLiteral("ativar a câmera: Unspecified error "
                              "(0x80004005)");
}

void TestMfCamera::failuresTellTheOperator()
{
    QFETCH(quint32, hresult);
    QFETCH(QString, systemText);
    QFETCH(CaptureError::Kind, kind);
    QFETCH(QString, message);

    const CaptureError error =
        qc::mfCaptureError(hresult, QStringLiteral("ativar a câmera"), systemText);
    QCOMPARE(error.kind, kind);
    QCOMPARE(qc::cameraOpenFailureText(error), message);
}

// The reason is Windows' own text, looked up for the code (Wine has texts of its own).
void TestMfCamera::windowsGivesItsOwnReason()
{
#ifndef Q_OS_WIN
    QSKIP("Windows' texts for its codes exist on Windows only");
#endif
    const QString denied = qc::systemTextOf(0x80070005u);
    QVERIFY(!denied.isEmpty());
    QVERIFY(!denied.endsWith(QLatin1Char('\n')));
    const CaptureError error = qc::mfCaptureError(0x80070005u, QStringLiteral("abrir"), denied);
    QCOMPARE(error.reason, QStringLiteral("abrir: ") + denied + QStringLiteral(" (0x80070005)"));
}

QTEST_MAIN(TestMfCamera)
#include "tst_MfCamera.moc"
