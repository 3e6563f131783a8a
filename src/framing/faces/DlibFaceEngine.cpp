// The face engine on dlib: the module the station loads when it first analyses a picture.

#include "framing/FaceEngine.h"

#include <QFile>
#include <QFileInfo>

#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/image_processing/shape_predictor.h>
#include <dlib/serialize.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <istream>
#include <streambuf>
#include <vector>

namespace qc {

namespace {

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

class DlibFaceEngine : public FaceEngine
{
public:
    DlibFaceEngine(const QString& landmarkModel, const std::atomic<bool>* cancel, QString& warning);

    bool hasLandmarks() const override { return m_hasLandmarks; }
    QList<Face> detect(const QImage& image) override;

private:
    dlib::frontal_face_detector m_detector = dlib::get_frontal_face_detector();
    dlib::shape_predictor m_landmarks;
    bool m_hasLandmarks = false;
    dlib::array2d<unsigned char> m_grey;
};

DlibFaceEngine::DlibFaceEngine(const QString& landmarkModel, const std::atomic<bool>* cancel,
                               QString& warning)
{
    if (landmarkModel.isEmpty() || !QFileInfo(landmarkModel).isFile())
        return;
    CancellableFile file(QFileInfo(landmarkModel).absoluteFilePath(), cancel);
    try {
        std::istream in(&file);
        dlib::deserialize(m_landmarks, in);
        m_hasLandmarks = m_landmarks.num_parts() == 68;
        if (!m_hasLandmarks)
            warning = QStringLiteral("landmark model %1 has %2 points, not 68")
                          .arg(landmarkModel)
                          .arg(m_landmarks.num_parts());
    } catch (const std::exception& error) {
        m_hasLandmarks = false;
        if (!file.cancelled())
            warning = QStringLiteral("landmark model %1 cannot be read (%2)")
                          .arg(landmarkModel, QString::fromLocal8Bit(error.what()));
    }
}

QList<Face> DlibFaceEngine::detect(const QImage& image)
{
    QList<Face> faces;
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    m_grey.set_size(grey.height(), grey.width());
    for (int y = 0; y < grey.height(); ++y)
        std::memcpy(&m_grey[y][0], grey.constScanLine(y), std::size_t(grey.width()));

    for (const dlib::rectangle& r : m_detector(m_grey)) {
        Face face;
        face.box = QRectF(r.left(), r.top(), r.width(), r.height());
        if (m_hasLandmarks) {
            const dlib::full_object_detection shape = m_landmarks(m_grey, r);
            face.measured = true;
            face.leftEye = meanOf(shape, LeftEyeFirst, EyePoints);
            face.rightEye = meanOf(shape, RightEyeFirst, EyePoints);
            face.chin = pointOf(shape, ChinPoint);
            face.noseTip = pointOf(shape, NoseTipPoint);
            face.jawLeft = pointOf(shape, JawLeftPoint);
            face.jawRight = pointOf(shape, JawRightPoint);
        }
        faces.append(face);
    }
    return faces;
}

} // namespace

} // namespace qc

qc::FaceEngine* quvelocap_create_face_engine(const QString* landmarkModel,
                                             const std::atomic<bool>* cancel, QString* warning)
{
    QString said;
    try {
        auto* engine =
            new qc::DlibFaceEngine(landmarkModel ? *landmarkModel : QString(), cancel, said);
        if (warning)
            *warning = said;
        return engine;
    } catch (const std::exception& error) {
        if (warning)
            *warning = QString::fromLocal8Bit(error.what());
        return nullptr;
    }
}
