#pragma once

#include <QImage>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <memory>

namespace qc {

// One face in an image, in image pixels. The detector's box covers roughly brow to chin;
// with the landmark model the eyes and the chin are measured, without it they are
// estimated from the box. The crown is never visible to either (hair, caps), so it is
// estimated from the eyes and the chin: on an upright adult head the eye line lies about
// halfway between crown and chin.
struct Face
{
    QRectF box;
    bool measured = false; // eyes and chin come from landmarks
    QPointF leftEye;       // the eye on the image's left
    QPointF rightEye;
    QPointF chin;

    double centreX() const { return (leftEye.x() + rightEye.x()) / 2.0; }
    double eyeY() const { return (leftEye.y() + rightEye.y()) / 2.0; }
    double chinY() const { return chin.y(); }
    double crownY() const { return eyeY() - (chinY() - eyeY()); }
    double headHeight() const { return chinY() - crownY(); }

    // A face from the box alone, with eyes and chin where they sit on average.
    static Face fromBox(const QRectF& box);
};

// Frontal faces with dlib's HOG detector, which is built into the library. When the
// 68-point landmark model is installed it refines each face's eyes and chin. Faces
// smaller than about 80 pixels are not found: at a photo station the student is close.
class FaceDetector
{
public:
    // Where Debian's libdlib-data puts the landmark model; on Windows, the program's own
    // folder, where the installer puts it.
    static QString defaultLandmarkModel();

    // Loads the landmark model when the file exists (about a second for its 100 MB);
    // an empty path or a missing or unreadable file leaves the detector without it.
    explicit FaceDetector(const QString& landmarkModel = defaultLandmarkModel());
    ~FaceDetector();
    FaceDetector(const FaceDetector&) = delete;
    FaceDetector& operator=(const FaceDetector&) = delete;

    // One detector for the whole process, made at its first use: the model is large.
    static FaceDetector& shared();

    bool hasLandmarks() const;
    // Faces from left to right; none for a null image.
    QList<Face> detect(const QImage& image);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace qc
