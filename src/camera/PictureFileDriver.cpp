#include "camera/PictureFileDriver.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QTimer>

namespace qc {

PictureFileDriver::PictureFileDriver(const QString& path, QObject* parent)
    : CaptureDriver(parent), m_path(path), m_timer(new QTimer(this))
{
    m_timer->setInterval(FrameIntervalMs);
    connect(m_timer, &QTimer::timeout, this, &PictureFileDriver::nextFrame);
}

PictureFileDriver::~PictureFileDriver() = default;

QString PictureFileDriver::name() const
{
    const QFileInfo info(m_path);
    const QString shown = info.fileName().isEmpty() ? QDir(m_path).dirName() : info.fileName();
    return QStringLiteral("Arquivo: ") + shown;
}

QString PictureFileDriver::version() const
{
    if (m_picture.isNull())
        return QString();
    return QStringLiteral("%1 x %2").arg(m_picture.width()).arg(m_picture.height());
}

QStringList PictureFileDriver::pictures() const
{
    const QFileInfo info(m_path);
    if (!info.isDir())
        return info.isFile() ? QStringList{info.absoluteFilePath()} : QStringList{};
    QStringList filters;
    for (const QByteArray& suffix : QImageReader::supportedImageFormats())
        filters << QStringLiteral("*.") + QString::fromLatin1(suffix);
    QStringList files;
    const QDir dir(m_path);
    for (const QFileInfo& file :
         dir.entryInfoList(filters, QDir::Files | QDir::Readable, QDir::Name | QDir::IgnoreCase))
        files << file.absoluteFilePath();
    return files;
}

bool PictureFileDriver::open()
{
    if (m_open)
        return false;
    // Read afresh at every connect: the folder may have changed in between.
    m_files = pictures();
    m_current = -1;
    bool shown = false;
    for (int i = 0; i < m_files.size() && !shown; ++i)
        shown = showPicture(i);
    if (!shown) {
        setLastError(m_files.isEmpty() ? QStringLiteral("Nenhuma imagem em %1").arg(m_path)
                                       : QStringLiteral("Não foi possível ler %1").arg(m_path));
        return false;
    }
    setLastError(QString());
    m_open = true;
    m_framesShown = 0;
    // Like the test pattern: a window connected a moment ago has a frame to show and copy.
    m_frame = m_picture;
    ++m_frameCount;
    emit frameArrived();
    m_timer->start();
    return true;
}

void PictureFileDriver::close()
{
    m_timer->stop();
    m_open = false;
    m_frame = QImage();
}

bool PictureFileDriver::showPicture(int index)
{
    QImageReader reader(m_files.at(index));
    reader.setAutoTransform(true); // as the photo was taken, upright
    QImage picture = reader.read();
    if (picture.isNull())
        return false;
    m_picture = picture.convertToFormat(QImage::Format_RGB32);
    m_current = index;
    return true;
}

void PictureFileDriver::nextFrame()
{
    if (++m_framesShown >= FramesPerPicture && m_files.size() > 1) {
        m_framesShown = 0;
        // The next picture that can be read; an unreadable one is passed over.
        for (int step = 1; step < m_files.size(); ++step)
            if (showPicture((m_current + step) % int(m_files.size())))
                break;
    }
    m_frame = m_picture;
    ++m_frameCount;
    emit frameArrived();
}

} // namespace qc
