#include "framing/FaceDetector.h"

#include "core/Logging.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/image_processing/shape_predictor.h>
#include <dlib/serialize.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <fstream>

namespace qc {

namespace {

// Where eyes and chin sit inside the detector's box on average, measured with the
// landmark model on frontal portraits; used only when the model is not installed.
constexpr double EyeLineInBox = 0.26;
constexpr double ChinInBox = 1.04;

// Landmark numbers of the 68-point model: the jaw runs 0-16 with the chin at 8; the eye
// on the image's left is 36-41, the other 42-47.
constexpr unsigned ChinPoint = 8;
constexpr unsigned LeftEyeFirst = 36;
constexpr unsigned RightEyeFirst = 42;
constexpr unsigned EyePoints = 6;

QPointF meanOf(const dlib::full_object_detection& shape, unsigned first, unsigned count)
{
    double x = 0;
    double y = 0;
    for (unsigned i = first; i < first + count; ++i) {
        x += shape.part(i).x();
        y += shape.part(i).y();
    }
    return QPointF(x / count, y / count);
}

} // namespace

Face Face::fromBox(const QRectF& box)
{
    Face face;
    face.box = box;
    const double eyeY = box.top() + EyeLineInBox * box.height();
    face.leftEye = QPointF(box.left() + 0.3 * box.width(), eyeY);
    face.rightEye = QPointF(box.left() + 0.7 * box.width(), eyeY);
    face.chin = QPointF(box.center().x(), box.top() + ChinInBox * box.height());
    return face;
}

struct FaceDetector::Private
{
    dlib::frontal_face_detector detector = dlib::get_frontal_face_detector();
    dlib::shape_predictor landmarks;
    bool hasLandmarks = false;
    dlib::array2d<unsigned char> grey;
};

QString FaceDetector::defaultLandmarkModel()
{
#ifdef Q_OS_WIN
    // The installer puts it beside quvelocap.exe, in Program Files\QuveloCap.
    return QCoreApplication::applicationDirPath() +
           QStringLiteral("/shape_predictor_68_face_landmarks.dat");
#else
    return QStringLiteral("/usr/share/dlib/shape_predictor_68_face_landmarks.dat");
#endif
}

FaceDetector::FaceDetector(const QString& landmarkModel) : d(std::make_unique<Private>())
{
    if (landmarkModel.isEmpty() || !QFileInfo(landmarkModel).isFile())
        return;
    try {
        std::ifstream in(QFileInfo(landmarkModel).absoluteFilePath().toStdString(),
                         std::ios::binary);
        dlib::deserialize(d->landmarks, in);
        d->hasLandmarks = d->landmarks.num_parts() == 68;
        if (!d->hasLandmarks)
            qCWarning(
                lcFraming, "landmark model %s has %lu points, not 68; framing by the face's box",
                qPrintable(landmarkModel), static_cast<unsigned long>(d->landmarks.num_parts()));
    } catch (const std::exception& error) {
        // A damaged model is as good as none: the boxes still frame the face. Whoever
        // looks after the station learns why the framing is coarser than it should be.
        d->hasLandmarks = false;
        qCWarning(lcFraming, "landmark model %s cannot be read (%s); framing by the face's box",
                  qPrintable(landmarkModel), error.what());
    }
}

FaceDetector::~FaceDetector() = default;

FaceDetector& FaceDetector::shared()
{
    static FaceDetector detector;
    return detector;
}

bool FaceDetector::hasLandmarks() const
{
    return d->hasLandmarks;
}

QList<Face> FaceDetector::detect(const QImage& image)
{
    QList<Face> faces;
    if (image.isNull())
        return faces;
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    d->grey.set_size(grey.height(), grey.width());
    for (int y = 0; y < grey.height(); ++y)
        std::memcpy(&d->grey[y][0], grey.constScanLine(y), std::size_t(grey.width()));

    for (const dlib::rectangle& r : d->detector(d->grey)) {
        const QRectF box(r.left(), r.top(), r.width(), r.height());
        if (!d->hasLandmarks) {
            faces.append(Face::fromBox(box));
            continue;
        }
        const dlib::full_object_detection shape = d->landmarks(d->grey, r);
        Face face;
        face.box = box;
        face.measured = true;
        face.leftEye = meanOf(shape, LeftEyeFirst, EyePoints);
        face.rightEye = meanOf(shape, RightEyeFirst, EyePoints);
        face.chin = QPointF(shape.part(ChinPoint).x(), shape.part(ChinPoint).y());
        faces.append(face);
    }
    std::sort(faces.begin(), faces.end(),
              [](const Face& a, const Face& b) { return a.box.left() < b.box.left(); });
    return faces;
}

} // namespace qc
