#pragma once

#include "core/SettingsStore.h"

#include <QRect>
#include <QString>

#include <functional>

class QLabel;

namespace qc {

class FaceDetector;
class ImageControl;

struct FaceFramingControls
{
    ImageControl* ImagXpress1 = nullptr; // the grabbed frame
    ImageControl* ImagXpress2 = nullptr; // the confirmed photo
    QLabel* lblMensagem = nullptr;       // the status line
};

// Proposes the ID crop right after a grab: with exactly one face in the frame the band
// is drawn on the frame and its region becomes the photo, as if the operator had dragged
// it; a drag or a double-click afterwards replaces it as always. The status line says
// when no face or more than one was found, and hints at a dark, bright or blurred
// picture. Switched off, nothing of this happens. The choice is kept in the settings.
class FaceFraming
{
public:
    static QString settingKey() { return SettingsStore::FramingKey; }
    using DetectorSource = std::function<FaceDetector&()>;

    // The process's shared detector unless another is given.
    FaceFraming(const FaceFramingControls& controls, SettingsStore& settings,
                DetectorSource detector = {});

    // On unless switched off and stored so.
    bool isOn() const { return m_on; }
    void setOn(bool on);

    void afterGrab();
    // The crop proposed for the last grab (empty when none was).
    QRect proposal() const { return m_proposal; }

    static QString noFaceText() { return QStringLiteral("Nenhum rosto encontrado"); }
    static QString manyFacesText() { return QStringLiteral("Mais de um rosto na imagem"); }

private:
    FaceFramingControls m_controls;
    SettingsStore& m_settings;
    DetectorSource m_detector;
    bool m_on = true;
    QRect m_proposal;
};

} // namespace qc
