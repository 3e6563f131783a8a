#pragma once

#include <QImage>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <algorithm>
#include <atomic>
#include <memory>

namespace qc {

// One face in an image, in image pixels. The detector's box covers roughly brow to chin;
// with the landmark model the eyes, nose, jaw and chin are measured, without it they are
// estimated from the box. The crown is never visible to either (hair, caps), so it is
// estimated from the eyes and the chin (on an upright adult head the eye line lies about
// halfway between crown and chin) and from the box, and the higher of the two is taken.
// A head bowed or raised foreshortens eyes-to-chin, and that estimate puts the crown into
// the hair; the jaw's width does not foreshorten, so for a face turned away the head is
// also taken as tall as the tallest head measured per jaw width, and the largest head wins.
struct Face
{
    // Where the crown lies at least above the box's top, as a share of the box's height,
    // and how tall a head is at most per jaw width: the least and the most measured on
    // upright portraits, so that there the landmarks decide.
    static constexpr double CrownAboveBox = 0.32;
    static constexpr double HeadPerJawWidth = 1.65;
    // Beyond these the face is turned away: the nose tip off the middle of the jaw by more
    // than this share of the jaw's width, or its height between eye line and chin (about
    // 0.4 on a frontal face) outside the band.
    static constexpr double YawLimit = 0.12;
    static constexpr double PitchLow = 0.25;
    static constexpr double PitchHigh = 0.52;

    QRectF box;
    bool measured = false; // eyes, nose, jaw and chin come from landmarks
    QPointF leftEye;       // the eye on the image's left
    QPointF rightEye;
    QPointF chin;
    QPointF noseTip;
    QPointF jawLeft; // the jaw's ends, at the ears, on the image's left and right
    QPointF jawRight;

    double centreX() const { return (leftEye.x() + rightEye.x()) / 2.0; }
    double eyeY() const { return (leftEye.y() + rightEye.y()) / 2.0; }
    double chinY() const { return chin.y(); }
    double crownY() const;
    double headHeight() const { return chinY() - crownY(); }

    // Turn aside: the nose tip's offset from the middle of the jaw, in jaw widths (0 when
    // frontal, negative towards the image's left).
    double yaw() const;
    // Nod: the nose tip's height between the eye line and the chin (0 at the eyes, 1 at
    // the chin); it grows as the head bows.
    double pitch() const;
    // Facing the camera; a face without landmarks counts as frontal (the detector only
    // finds roughly frontal faces).
    bool isFrontal() const;

    // A face from the box alone, with eyes, nose and chin where they sit on average.
    static Face fromBox(const QRectF& box);
};

// Frontal faces with dlib's HOG detector, which is built into the library, through the
// face engine (FaceEngine.h). When the 68-point landmark model is installed it refines
// each face's eyes and chin. Faces smaller than about 80 pixels are not found: at a photo
// station the student is close. Without the engine's module no face is found, and the
// log says where it was looked for.
class FaceDetector
{
public:
    // Where Debian's libdlib-data puts the landmark model; on Windows, the program's own
    // folder, where the installer puts it.
    static QString defaultLandmarkModel();

    // Loads the landmark model when the file exists (about a second for its 100 MB);
    // an empty path or a missing or unreadable file leaves the detector without it. When
    // cancel becomes true the load stops soon, quietly, and leaves it without as well.
    explicit FaceDetector(const QString& landmarkModel = defaultLandmarkModel(),
                          const std::atomic<bool>* cancel = nullptr);
    ~FaceDetector();
    FaceDetector(const FaceDetector&) = delete;
    FaceDetector& operator=(const FaceDetector&) = delete;

    // One detector for the whole process, made at its first use: the model is large.
    // For tools and tests; the station's window analyses on its FramingWorker.
    static FaceDetector& shared();

    // The face engine loaded: without it detect finds nothing, whatever the picture.
    bool isAvailable() const;
    bool hasLandmarks() const;
    // Faces from left to right; none for a null image.
    QList<Face> detect(const QImage& image);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace qc
