#pragma once

#include "framing/FaceDetector.h"

#include <QImage>
#include <QList>
#include <QString>

#include <atomic>

namespace qc {

// What finds the faces: dlib's HOG detector and, when its model loads, the 68-point
// landmarks. On Linux it lives in a module of its own (libquvelocap-faces.so) that the
// station loads on its framing thread, so that dlib and the BLAS, LAPACK and Fortran
// runtime it brings are not loaded before the window shows; on Windows dlib is linked
// in whole and the engine with it.
class FaceEngine
{
public:
    virtual ~FaceEngine() = default;
    virtual bool hasLandmarks() const = 0;
    // Faces as found, in any order; without landmarks only their boxes are set and
    // measured is false.
    virtual QList<Face> detect(const QImage& image) = 0;
};

} // namespace qc

// The module's one entry point. Loads the landmark model when the file exists; a
// missing, unreadable or cancelled model leaves the engine without landmarks, and
// warning says why when a model was there but could not be used.
extern "C" Q_DECL_EXPORT qc::FaceEngine*
quvelocap_create_face_engine(const QString* landmarkModel, const std::atomic<bool>* cancel,
                             QString* warning);
