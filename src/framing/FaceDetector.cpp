#include "framing/FaceDetector.h"

#include "core/Logging.h"
#include "framing/FaceEngine.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace qc {

namespace {

// Where eyes and chin sit inside the detector's box on average, measured with the
// landmark model on frontal portraits; used only when the model is not installed.
constexpr double EyeLineInBox = 0.26;
constexpr double ChinInBox = 1.04;
constexpr double NoseInBox = 0.60;

using CreateEngine = FaceEngine* (*)(const QString*, const std::atomic<bool>*, QString*);

#ifdef QUVELOCAP_FACES_MODULE
// Where the module is looked for: QUVELOCAP_FACES_DIR alone when it is set (tests,
// tools), else beside the program (the build tree) and in the program's private library
// folder, where the package installs it (/usr/lib/quvelocap for /usr/bin/quvelocap).
QStringList moduleFolders()
{
    const QString given = qEnvironmentVariable("QUVELOCAP_FACES_DIR");
    if (!given.isEmpty())
        return {given};
    if (!QCoreApplication::instance())
        return {};
    const QString program = QCoreApplication::applicationDirPath();
    return {program, QDir::cleanPath(program + QStringLiteral("/" QUVELOCAP_FACES_FROM_PROGRAM))};
}

// Loaded once for the process, by whichever thread first needs it, and never unloaded.
CreateEngine engineFactory()
{
    static const CreateEngine factory = []() -> CreateEngine {
        QStringList tried;
        for (const QString& folder : moduleFolders()) {
            const QString path = folder + QStringLiteral("/" QUVELOCAP_FACES_MODULE);
            if (!QFileInfo::exists(path)) {
                tried << path;
                continue;
            }
            static QLibrary module;
            module.setFileName(path);
            if (auto create =
                    reinterpret_cast<CreateEngine>(module.resolve("quvelocap_create_face_engine")))
                return create;
            qCWarning(lcFraming, "face module %s cannot be loaded (%s): no face is found",
                      qUtf8Printable(path), qUtf8Printable(module.errorString()));
            return nullptr;
        }
        qCWarning(lcFraming, "no face module (looked for %s): no face is found",
                  qUtf8Printable(tried.join(QStringLiteral(", "))));
        return nullptr;
    }();
    return factory;
}
#else
CreateEngine engineFactory()
{
    return &quvelocap_create_face_engine;
}
#endif

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
    std::unique_ptr<FaceEngine> engine;
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
    const CreateEngine create = engineFactory();
    if (!create)
        return;
    QString warning;
    d->engine.reset(create(&landmarkModel, cancel, &warning));
    // A damaged model is as good as none: the boxes still frame the face. Whoever looks
    // after the station learns why the framing is coarser than it should be.
    if (!warning.isEmpty())
        qCWarning(lcFraming, "%s; framing by the face's box", qUtf8Printable(warning));
}

FaceDetector::~FaceDetector() = default;

FaceDetector& FaceDetector::shared()
{
    static FaceDetector detector;
    return detector;
}

bool FaceDetector::isAvailable() const
{
    return d->engine != nullptr;
}

bool FaceDetector::hasLandmarks() const
{
    return d->engine && d->engine->hasLandmarks();
}

QList<Face> FaceDetector::detect(const QImage& image)
{
    if (image.isNull() || !d->engine)
        return {};
    QList<Face> faces = d->engine->detect(image);
    for (Face& face : faces)
        if (!face.measured)
            face = Face::fromBox(face.box);
    std::sort(faces.begin(), faces.end(),
              [](const Face& a, const Face& b) { return a.box.left() < b.box.left(); });
    return faces;
}

} // namespace qc
