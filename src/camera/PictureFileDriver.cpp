#include "camera/PictureFileDriver.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>

namespace qc {

PictureFileDriver::PictureFileDriver(const QString& path, QObject* parent)
    : TimedFrameDriver(FrameIntervalMs, parent), m_path(path)
{}

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

CameraStatus PictureFileDriver::prepare()
{
    // Read afresh at every connect: the folder may have changed in between.
    m_files = pictures();
    m_current = -1;
    bool shown = false;
    for (int i = 0; i < m_files.size() && !shown; ++i)
        shown = showPicture(i);
    if (!shown)
        return CaptureError{CaptureError::Kind::Failed,
                            m_files.isEmpty()
                                ? QStringLiteral("Nenhuma imagem em %1").arg(m_path)
                                : QStringLiteral("Não foi possível ler %1").arg(m_path)};
    // The first frame shows the first picture for its whole second.
    m_framesShown = -1;
    return {};
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

QImage PictureFileDriver::nextPicture()
{
    if (++m_framesShown >= FramesPerPicture && m_files.size() > 1) {
        m_framesShown = 0;
        // The next picture that can be read; an unreadable one is passed over.
        for (int step = 1; step < m_files.size(); ++step)
            if (showPicture((m_current + step) % int(m_files.size())))
                break;
    }
    return m_picture;
}

} // namespace qc
