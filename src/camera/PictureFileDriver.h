#pragma once

#include "camera/TimedFrameDriver.h"

#include <QStringList>

namespace qc {

// A camera made of pictures: one picture file, or every picture of a folder shown in
// turn for about a second each. Frames come at a webcam's pace, at the picture's own
// size, so the preview and the grab work on it as on a camera of that resolution. For
// demonstrations, tests, and sites whose photos are taken with another camera.
class PictureFileDriver : public TimedFrameDriver
{
    Q_OBJECT

public:
    static constexpr int FrameIntervalMs = 33;
    static constexpr int FramesPerPicture = 30; // about a second each

    explicit PictureFileDriver(const QString& path, QObject* parent = nullptr);
    ~PictureFileDriver() override;

    // "Arquivo: " and the file's or the folder's name.
    QString name() const override;
    QString version() const override;

    QList<CaptureControl> controls() const override { return {}; }
    bool setControl(quint32, int) override { return false; }
    int controlValue(quint32) const override { return 0; }

    // The picture files, in the order they are shown.
    QStringList pictures() const;

protected:
    CameraStatus prepare() override;
    QImage nextPicture() override;

private:
    bool showPicture(int index);

    QString m_path;
    QStringList m_files;
    int m_current = -1;
    int m_framesShown = 0;
    QImage m_picture;
};

} // namespace qc
