#include "framing/FaceDetector.h"

#include "core/Logging.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/image_processing/shape_predictor.h>
#include <dlib/serialize.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <istream>
#include <streambuf>
#include <vector>

namespace qc {

namespace {

// Where eyes and chin sit inside the detector's box on average, measured with the
// landmark model on frontal portraits; used only when the model is not installed.
constexpr double EyeLineInBox = 0.26;
constexpr double ChinInBox = 1.04;
constexpr double NoseInBox = 0.60;

// Landmark numbers of the 68-point model: the jaw runs 0-16 with the chin at 8; the eye
// on the image's left is 36-41, the other 42-47.
constexpr unsigned ChinPoint = 8;
constexpr unsigned JawLeftPoint = 0;
constexpr unsigned JawRightPoint = 16;
constexpr unsigned NoseTipPoint = 30;
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

QPointF pointOf(const dlib::full_object_detection& shape, unsigned index)
{
    return QPointF(shape.part(index).x(), shape.part(index).y());
}

// The model file read in pieces, giving up at the next piece once asked to: a station
// closed while the model still loads ends at once instead of waiting for 100 MB.
class CancellableFile : public std::streambuf
{
public:
    CancellableFile(const QString& path, const std::atomic<bool>* cancel)
        : m_file(openForReading(path)), m_cancel(cancel), m_buffer(1 << 20)
    {}
    ~CancellableFile() override
    {
        if (m_file)
            std::fclose(m_file);
    }
    CancellableFile(const CancellableFile&) = delete;
    CancellableFile& operator=(const CancellableFile&) = delete;

    bool isOpen() const { return m_file != nullptr; }
    bool cancelled() const { return m_cancel && m_cancel->load(); }

protected:
    int_type underflow() override
    {
        if (!m_file || cancelled())
            return traits_type::eof();
        const std::size_t n = std::fread(m_buffer.data(), 1, m_buffer.size(), m_file);
        if (n == 0)
            return traits_type::eof();
        setg(m_buffer.data(), m_buffer.data(), m_buffer.data() + n);
        return traits_type::to_int_type(m_buffer[0]);
    }

private:
    static std::FILE* openForReading(const QString& path)
    {
#ifdef Q_OS_WIN
        // Any folder name, not only those of the ANSI code page.
        return _wfopen(reinterpret_cast<const wchar_t*>(path.utf16()), L"rb");
#else
        return std::fopen(QFile::encodeName(path).constData(), "rb");
#endif
    }

    std::FILE* m_file;
    const std::atomic<bool>* m_cancel;
    std::vector<char> m_buffer;
};

} // namespace

double Face::crownY() const
{
    double crown = std::min(eyeY() - (chinY() - eyeY()), box.top() - CrownAboveBox * box.height());
    const double jawWidth = jawRight.x() - jawLeft.x();
    if (!isFrontal() && jawWidth > 0)
        crown = std::min(crown, chinY() - HeadPerJawWidth * jawWidth);
    return crown;
}

double Face::yaw() const
{
    const double span = jawRight.x() - jawLeft.x();
    if (span <= 0)
        return 0;
    return (noseTip.x() - (jawLeft.x() + jawRight.x()) / 2.0) / span;
}

double Face::pitch() const
{
    const double span = chin.y() - eyeY();
    if (span <= 0)
        return 1;
    return (noseTip.y() - eyeY()) / span;
}

bool Face::isFrontal() const
{
    if (!measured)
        return true;
    const double nod = pitch();
    return std::abs(yaw()) <= YawLimit && nod >= PitchLow && nod <= PitchHigh;
}

Face Face::fromBox(const QRectF& box)
{
    Face face;
    face.box = box;
    const double eyeY = box.top() + EyeLineInBox * box.height();
    face.leftEye = QPointF(box.left() + 0.3 * box.width(), eyeY);
    face.rightEye = QPointF(box.left() + 0.7 * box.width(), eyeY);
    face.chin = QPointF(box.center().x(), box.top() + ChinInBox * box.height());
    face.noseTip = QPointF(box.center().x(), box.top() + NoseInBox * box.height());
    face.jawLeft = QPointF(box.left(), eyeY);
    face.jawRight = QPointF(box.right(), eyeY);
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

FaceDetector::FaceDetector(const QString& landmarkModel, const std::atomic<bool>* cancel)
    : d(std::make_unique<Private>())
{
    if (landmarkModel.isEmpty() || !QFileInfo(landmarkModel).isFile())
        return;
    CancellableFile file(QFileInfo(landmarkModel).absoluteFilePath(), cancel);
    try {
        std::istream in(&file);
        dlib::deserialize(d->landmarks, in);
        d->hasLandmarks = d->landmarks.num_parts() == 68;
        if (!d->hasLandmarks)
            qCWarning(
                lcFraming, "landmark model %s has %lu points, not 68; framing by the face's box",
                qPrintable(landmarkModel), static_cast<unsigned long>(d->landmarks.num_parts()));
    } catch (const std::exception& error) {
        d->hasLandmarks = false;
        if (file.cancelled())
            return;
        // A damaged model is as good as none: the boxes still frame the face. Whoever
        // looks after the station learns why the framing is coarser than it should be.
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
        face.chin = pointOf(shape, ChinPoint);
        face.noseTip = pointOf(shape, NoseTipPoint);
        face.jawLeft = pointOf(shape, JawLeftPoint);
        face.jawRight = pointOf(shape, JawRightPoint);
        faces.append(face);
    }
    std::sort(faces.begin(), faces.end(),
              [](const Face& a, const Face& b) { return a.box.left() < b.box.left(); });
    return faces;
}

} // namespace qc
