#pragma once

// Shared by the photo tests: photos made here, the student table filled and read back
// with plain statements, and a probe that logs the chunks a photo procedure moves.

#include "core/Error.h"
#include "records/Connection.h"
#include "records/PhotoRecords.h"
#include "records/Recordset.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <QRandomGenerator>

#include <functional>
#include <memory>

namespace phototest {

// A picture whose every pixel differs from its neighbours.
inline QImage pattern(int width, int height, quint32 seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator generator(seed);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb((x * 7 + y) % 256, (y * 5) % 256, generator.bounded(256)));
    return image;
}

inline QByteArray jpeg(const QImage& image, int quality = 90)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    if (!writer.write(image))
        qFatal("JPEG encoding failed: %s", qPrintable(writer.errorString()));
    return bytes;
}

inline QImage decoded(const QByteArray& bytes)
{
    return QImage::fromData(bytes).convertToFormat(QImage::Format_RGB32);
}

inline QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(generator.bounded(256));
    return bytes;
}

inline void insertStudent(qc::Connection& cn, const QString& unit, const QString& enrolment,
                          const QVariant& photo)
{
    cn.execute(QStringLiteral("INSERT INTO Aca_FichaCadastralAluno (codigounidade, matricula, "
                              "foto) VALUES (?, ?, ?)"),
               {unit, enrolment, photo});
}

// The photos of every row with that unit and enrolment number, in the engine's order.
inline QList<QVariant> photosOf(const std::shared_ptr<qc::Connection>& cn, const QString& unit,
                                const QString& enrolment)
{
    qc::Recordset rs;
    rs.open(QStringLiteral("SELECT foto FROM Aca_FichaCadastralAluno WHERE codigounidade = ? "
                           "and matricula = ?"),
            cn, {unit, enrolment});
    QList<QVariant> photos;
    for (; !rs.eof(); rs.moveNext())
        photos.append(rs.fields(QStringLiteral("foto")).value());
    rs.close();
    return photos;
}

inline QVariant photoOf(const std::shared_ptr<qc::Connection>& cn, const QString& unit,
                        const QString& enrolment)
{
    const QList<QVariant> photos = photosOf(cn, unit, enrolment);
    return photos.size() == 1 ? photos.first()
                              : QVariant(QStringLiteral("<%1 rows>").arg(photos.size()));
}

// Logs what a photo procedure does and runs the test's action at a chosen moment.
class ChunkLog : public qc::PhotoProbe
{
public:
    QStringList statements;
    QList<qsizetype> read;
    QList<qsizetype> appended;
    int updates = 0;
    std::function<void()> onFirstAppend;
    std::function<void()> onUpdate;
    std::function<void()> onRead; // every chunk read

    void opened(const QString& statement) override { statements.append(statement); }
    void chunkRead(qsizetype bytes) override
    {
        read.append(bytes);
        if (onRead)
            onRead();
    }
    void chunkAppended(qsizetype bytes) override
    {
        appended.append(bytes);
        if (appended.size() == 1 && onFirstAppend)
            onFirstAppend();
    }
    void aboutToUpdate() override
    {
        ++updates;
        if (onUpdate)
            onUpdate();
    }
};

} // namespace phototest
