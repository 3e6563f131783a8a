#pragma once

#include <QImage>
#include <QString>

class QByteArray;
class QIODevice;

namespace qc {

// Turns the bytes of a stored photo into a picture.
// The bytes come from a database that other programs write too, so they are treated as
// outside input: only JPEG, PNG, BMP and GIF are read, and a picture whose header
// declares more than kMaxPixels is refused before anything is allocated for it, so a
// field that claims 60000 x 60000 costs nothing. A refused or undecodable picture is a
// null image and error() says why.
class PictureDecoder
{
public:
    // Well above any camera frame the station grabs (a 4K frame is 8.3 megapixels).
    static constexpr qint64 kMaxPixels = 100'000'000;

    QImage decode(const QByteArray& bytes);
    QImage decode(QIODevice& device); // reads the device to its end
    // Whether decode would give a picture, at a fraction of its cost: a JPEG is read at an
    // eighth of its size, which still reads every coded byte but skips most of the
    // arithmetic, and nothing of its size is kept.
    bool check(const QByteArray& bytes);

    const QString& error() const { return m_error; }

private:
    QImage read(const QByteArray& bytes, bool reduced);
    QImage refuse(const QString& why);

    QString m_error;
};

} // namespace qc
