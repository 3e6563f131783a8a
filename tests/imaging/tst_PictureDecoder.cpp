// A stored photo's bytes turned into a picture: the four formats a photo field holds are
// read; anything cut off, malformed or declaring an enormous size is refused with a reason
// and no picture.

#include "imaging/PictureDecoder.h"

#include <QFile>
#include <QImageReader>
#include <QtTest>

#ifdef Q_OS_WIN
#include <windows.h>
#include <psapi.h>
#else
#include <sys/resource.h>
#endif

using qc::PictureDecoder;

namespace {

QByteArray corpusFile(const QString& name)
{
    QFile file(qEnvironmentVariable("QUVELOCAP_SOURCE_DIR") +
               QStringLiteral("/tests/fuzz-corpus/picture/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing sample picture %s", qPrintable(file.fileName()));
    return file.readAll();
}

// The JPEG sample with the frame header's height and width replaced.
QByteArray jpegDeclaring(int width, int height)
{
    QByteArray bytes = corpusFile(QStringLiteral("photo.jpg"));
    for (qsizetype at = 2; at + 9 < bytes.size();) {
        const auto marker = uchar(bytes.at(at + 1));
        const int length = uchar(bytes.at(at + 2)) << 8 | uchar(bytes.at(at + 3));
        if (marker == 0xC0 || marker == 0xC2) {
            bytes[at + 5] = char(height >> 8);
            bytes[at + 6] = char(height);
            bytes[at + 7] = char(width >> 8);
            bytes[at + 8] = char(width);
            return bytes;
        }
        at += 2 + length;
    }
    qFatal("sample JPEG without a frame header");
}

long peakResidentKiB()
{
#ifdef Q_OS_WIN
    PROCESS_MEMORY_COUNTERS counters{};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return long(counters.PeakWorkingSetSize / 1024);
#else
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
#endif
}

} // namespace

class PictureDecoderTest : public QObject
{
    Q_OBJECT

private slots:
    void readsEachPhotoFormat_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QSize>("size");
        QTest::newRow("jpeg") << QStringLiteral("photo.jpg") << QSize(32, 24);
        QTest::newRow("progressive jpeg") << QStringLiteral("progressive.jpg") << QSize(32, 24);
        QTest::newRow("png") << QStringLiteral("photo.png") << QSize(16, 12);
        QTest::newRow("bmp") << QStringLiteral("photo.bmp") << QSize(16, 12);
        QTest::newRow("gif") << QStringLiteral("photo.gif") << QSize(16, 12);
    }
    void readsEachPhotoFormat()
    {
        QFETCH(QString, file);
        QFETCH(QSize, size);
        PictureDecoder decoder;
        const QImage image = decoder.decode(corpusFile(file));
        QCOMPARE(image.size(), size);
        QCOMPARE(decoder.error(), QString());
        // The same pixels Qt's own reader gives for the whole file.
        const QImage reference = QImage::fromData(corpusFile(file));
        QCOMPARE(image.convertToFormat(QImage::Format_RGB32),
                 reference.convertToFormat(QImage::Format_RGB32));
        QVERIFY2(decoder.check(corpusFile(file)), qPrintable(decoder.error()));
    }

    void readsADevice()
    {
        QFile file(qEnvironmentVariable("QUVELOCAP_SOURCE_DIR") +
                   QStringLiteral("/tests/fuzz-corpus/picture/photo.jpg"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        PictureDecoder decoder;
        QCOMPARE(decoder.decode(file).size(), QSize(32, 24));
    }

    void refusesWhatIsNotAWholePhoto_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("error"); // the reason, or its start when it ends with "..."
        const auto cut = [](const QString& file, double part) {
            const QByteArray whole = corpusFile(file);
            return whole.left(qsizetype(whole.size() * part));
        };
        QTest::newRow("nothing") << QByteArray() << QStringLiteral("Foto em formato desconhecido.");
        QTest::newRow("text") << QByteArray("not a photo at all")
                              << QStringLiteral("Foto em formato desconhecido.");
        // Qt reads XPM, but a photo field never holds one.
        QTest::newRow("xpm") << QByteArray(
                                    "/* XPM */\nstatic char*x[]={\"1 1 1 1\",\"a c #ff0000\","
                                    "\"a\"};\n")
                             << QStringLiteral("Foto em formato desconhecido.");
        for (const double part : {0.95, 0.7}) {
            const QByteArray pct = QByteArray::number(int(part * 100)) + "%";
            QTest::newRow("progressive jpeg cut at " + pct)
                << cut(QStringLiteral("progressive.jpg"), part)
                << QStringLiteral("Foto incompleta.");
            QTest::newRow("gif cut at " + pct)
                << cut(QStringLiteral("photo.gif"), part) << QStringLiteral("Foto incompleta.");
            QTest::newRow("bmp cut at " + pct)
                << cut(QStringLiteral("photo.bmp"), part) << QStringLiteral("Foto incompleta.");
            QTest::newRow("png cut at " + pct)
                << cut(QStringLiteral("photo.png"), part) << QStringLiteral("Foto corrompida: ...");
        }
        // The sample's only scan starts at 85% of its length.
        QTest::newRow("jpeg cut in its scan")
            << cut(QStringLiteral("photo.jpg"), 0.95) << QStringLiteral("Foto incompleta.");
        QTest::newRow("jpeg cut before its scan") << cut(QStringLiteral("photo.jpg"), 0.7)
                                                  << QStringLiteral("Foto sem dimensões válidas.");
        // A complete picture followed by a cut-off one: the end marker belongs to the first.
        QTest::newRow("jpeg with a cut-off second picture")
            << corpusFile(QStringLiteral("photo.jpg")) +
                   cut(QStringLiteral("progressive.jpg"), 0.95)
            << QStringLiteral("Foto incompleta.");
    }
    void refusesWhatIsNotAWholePhoto()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, error);
        // The quick check refuses each of them for the same reason as the whole read.
        for (const bool whole : {true, false}) {
            PictureDecoder decoder;
            QVERIFY(whole ? decoder.decode(bytes).isNull() : !decoder.check(bytes));
            if (error.endsWith(QLatin1String("...")))
                QVERIFY2(decoder.error().startsWith(error.chopped(3)),
                         qPrintable(decoder.error()));
            else
                QCOMPARE(decoder.error(), error);
        }
    }

    // A field that declares an enormous picture in a few hundred bytes is refused before
    // anything is allocated for it.
    void refusesEnormousPictures_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("error");
        const QString over =
            QStringLiteral("Foto de %1 x %2 pixels excede o limite de 100 megapixels.");
        QTest::newRow("jpeg 60000 x 60000")
            << corpusFile(QStringLiteral("huge.jpg")) << over.arg(60000).arg(60000);
        QTest::newRow("png 60000 x 60000")
            << corpusFile(QStringLiteral("huge.png")) << over.arg(60000).arg(60000);
        QTest::newRow("gif 60000 x 60000")
            << corpusFile(QStringLiteral("huge.gif")) << over.arg(60000).arg(60000);
        // Qt's BMP reader already refuses to give a size for it.
        QTest::newRow("bmp 60000 x 60000") << corpusFile(QStringLiteral("huge.bmp"))
                                           << QStringLiteral("Foto sem dimensões válidas.");
        QTest::newRow("one line over the limit")
            << jpegDeclaring(10000, 10001) << over.arg(10000).arg(10001);
        QTest::newRow("long strip") << jpegDeclaring(65500, 1527) << over.arg(65500).arg(1527);
    }
    void refusesEnormousPictures()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, error);
        // Qt's own allocation limit is taken away, so only the decoder's check stands between
        // the field and gigabytes of memory.
        const int qtLimit = QImageReader::allocationLimit();
        QImageReader::setAllocationLimit(0);
        const long before = peakResidentKiB();
        PictureDecoder decoder;
        const QImage image = decoder.decode(bytes);
        QImageReader::setAllocationLimit(qtLimit);
        QVERIFY(image.isNull());
        QCOMPARE(decoder.error(), error);
        QVERIFY2(peakResidentKiB() - before < 64 * 1024,
                 qPrintable(
                     QStringLiteral("peak memory grew by %1 KiB").arg(peakResidentKiB() - before)));
    }

    void aRefusalIsForgottenByTheNextPicture()
    {
        PictureDecoder decoder;
        QVERIFY(decoder.decode(QByteArray("garbage")).isNull());
        QVERIFY(!decoder.error().isEmpty());
        QVERIFY(!decoder.decode(corpusFile(QStringLiteral("photo.png"))).isNull());
        QCOMPARE(decoder.error(), QString());
    }
};

QTEST_GUILESS_MAIN(PictureDecoderTest)
#include "tst_PictureDecoder.moc"
