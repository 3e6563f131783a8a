// Any bytes as a stored photo field: the decoder, and the read of the work file that a
// photo read goes through, must refuse or decode, never crash, read out of bounds or
// allocate for a size the bytes merely declare.

#include "imaging/PictureDecoder.h"
#include "records/PhotoRecords.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>

#include <cstdint>
#include <cstdlib>

#include <unistd.h>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // The JPEG and GIF readers are plugins, found through the application object.
    qputenv("QT_LOGGING_RULES", "qt.gui.imageio*=false");
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    qc::PictureDecoder decoder;
    const QImage image = decoder.decode(bytes);
    // A picture and a reason never come together, and what comes back keeps to the limit.
    if (image.isNull() == decoder.error().isEmpty())
        std::abort();
    if (!image.isNull() && qint64(image.width()) * image.height() > qc::PictureDecoder::kMaxPixels)
        std::abort();

    // The work file, as a photo read writes it and reads it back.
    static const QString workFile =
        QDir::temp().filePath(QStringLiteral("fuzz-pictemp-%1.jpg").arg(getpid()));
    QFile file(workFile);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        std::abort();
    file.close();
    const QImage read = qc::PhotoRecords::loadPicture(workFile);
    if (!read.isNull() && qint64(read.width()) * read.height() > qc::PictureDecoder::kMaxPixels)
        std::abort();
    return 0;
}
