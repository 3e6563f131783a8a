#include "imaging/PictureDecoder.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>

namespace qc {

namespace {

// Qt has readers for more formats (XPM, PBM, ICO, ...); a photo field never holds one, and
// each reader left out is one parser fewer that a corrupt field can reach.
bool isPhotoFormat(const QByteArray& format)
{
    return format == "jpeg" || format == "jpg" || format == "png" || format == "bmp" ||
           format == "gif";
}

// Sides beyond this are refused by the pixel limit anyway; bounding them here keeps the
// size arithmetic below far from overflowing.
constexpr qint64 kMaxSide = 1 << 24;

quint32 littleEndian(const QByteArray& bytes, qsizetype at, int count)
{
    quint32 value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = value << 8 | uchar(bytes.at(at + i));
    return value;
}

// Qt's JPEG, GIF and BMP readers fill whatever is missing at the end of a cut-off
// picture with grey and report success; a photo cut off in the database would then
// show as a photo. So the end of each format is checked here.
bool isComplete(const QByteArray& format, const QByteArray& bytes)
{
    if (format == "jpeg" || format == "jpg") {
        // Entropy-coded data escapes every 0xFF, so the markers are found by their bytes.
        // An embedded thumbnail has an end marker of its own, but before the last scan.
        const qsizetype lastScan = bytes.lastIndexOf(QByteArrayView("\xFF\xDA", 2));
        const qsizetype end = bytes.lastIndexOf(QByteArrayView("\xFF\xD9", 2));
        return lastScan >= 0 && end > lastScan;
    }
    if (format == "gif") {
        qsizetype last = bytes.size() - 1;
        while (last >= 0 && bytes.at(last) == '\0') // some writers pad after the trailer
            --last;
        return last >= 0 && bytes.at(last) == ';';
    }
    if (format == "bmp") {
        // Uncompressed (and bit-field) rows have a fixed size; compressed ones are checked
        // by the reader itself. The old 12-byte header has 16-bit sizes and no compression.
        if (bytes.size() < 26)
            return false;
        const qint64 offset = littleEndian(bytes, 10, 4);
        const bool core = littleEndian(bytes, 14, 4) < 40;
        if (!core) {
            if (bytes.size() < 54)
                return false;
            const quint32 compression = littleEndian(bytes, 30, 4);
            if (compression != 0 && compression != 3)
                return true;
        }
        const qint64 width = core ? littleEndian(bytes, 18, 2) : qint32(littleEndian(bytes, 18, 4));
        const qint64 height =
            core ? littleEndian(bytes, 20, 2) : qint32(littleEndian(bytes, 22, 4));
        const qint64 bitsPerPixel = littleEndian(bytes, core ? 24 : 28, 2);
        if (bitsPerPixel == 0 || bitsPerPixel > 32 || qAbs(width) > kMaxSide ||
            qAbs(height) > kMaxSide)
            return false;
        const qint64 stride = (bitsPerPixel * qAbs(width) + 31) / 32 * 4;
        return bytes.size() >= offset + stride * qAbs(height);
    }
    return true; // PNG: Qt's reader fails on a cut-off picture
}

} // namespace

QImage PictureDecoder::decode(QIODevice& device)
{
    return decode(device.readAll());
}

QImage PictureDecoder::decode(const QByteArray& bytes)
{
    return read(bytes, false);
}

bool PictureDecoder::check(const QByteArray& bytes)
{
    return !read(bytes, true).isNull();
}

QImage PictureDecoder::read(const QByteArray& bytes, bool reduced)
{
    m_error.clear();
    QByteArray copy = bytes; // QBuffer wants a non-const array; the copy shares the data
    QBuffer device(&copy);
    if (!device.open(QIODevice::ReadOnly))
        return refuse(QStringLiteral("Foto não pôde ser lida."));
    const QByteArray format = QImageReader::imageFormat(&device);
    if (format.isEmpty() || !isPhotoFormat(format))
        return refuse(QStringLiteral("Foto em formato desconhecido."));

    QImageReader reader(&device, format);
    reader.setDecideFormatFromContent(false);
    const QSize declared = reader.size();
    if (!declared.isValid() || declared.isEmpty())
        return refuse(QStringLiteral("Foto sem dimensões válidas."));
    if (qint64(declared.width()) * declared.height() > kMaxPixels)
        return refuse(QStringLiteral("Foto de %1 x %2 pixels excede o limite de %3 megapixels.")
                          .arg(declared.width())
                          .arg(declared.height())
                          .arg(kMaxPixels / 1'000'000));

    if (!isComplete(format, bytes))
        return refuse(QStringLiteral("Foto incompleta."));

    // libjpeg scales while it decodes (by 1/2, 1/4 or 1/8): the entropy-coded data is read
    // whole, so what a full read would refuse is still refused.
    if (reduced && (format == "jpeg" || format == "jpg"))
        reader.setScaledSize(QSize((declared.width() + 7) / 8, (declared.height() + 7) / 8));

    QImage image;
    // A reader may fail halfway and still hand back the part it made: only success counts.
    if (!reader.read(&image) || image.isNull())
        return refuse(QStringLiteral("Foto corrompida: %1.").arg(reader.errorString()));
    return image;
}

QImage PictureDecoder::refuse(const QString& why)
{
    m_error = why;
    return QImage();
}

} // namespace qc
