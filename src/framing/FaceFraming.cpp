#include "framing/FaceFraming.h"

#include "core/Error.h"
#include "core/SettingsStore.h"
#include "framing/FaceDetector.h"
#include "framing/FrameQuality.h"
#include "framing/IdFraming.h"
#include "imaging/ImageControl.h"

#include <QLabel>
#include <QStringList>

namespace qc {

FaceFraming::FaceFraming(const FaceFramingControls& controls, SettingsStore& settings,
                         DetectorSource detector)
    : m_controls(controls), m_settings(settings), m_detector(std::move(detector))
{
    if (!m_detector)
        m_detector = []() -> FaceDetector& { return FaceDetector::shared(); };
    m_on = m_settings.framing();
}

void FaceFraming::setOn(bool on)
{
    m_on = on;
    m_settings.setFraming(on);
}

void FaceFraming::afterGrab()
{
    m_proposal = QRect();
    if (!m_on)
        return;
    const QImage frame = m_controls.ImagXpress1->picture();
    if (frame.isNull())
        return;

    const QList<Face> faces = m_detector().detect(frame);
    QStringList status;
    if (faces.isEmpty())
        status << noFaceText();
    else if (faces.size() > 1)
        status << manyFacesText();

    // Judged on the face when there is exactly one: a dim or plain background is no fault.
    const QRect face = faces.size() == 1 ? faces.first().box.toAlignedRect() : QRect();
    const QString hint = FrameQuality::measure(frame, face).hint();
    if (!hint.isEmpty())
        status << hint;

    if (faces.size() == 1) {
        const QRect crop = IdFraming::crop(faces.first(), frame.size());
        if (!crop.isEmpty()) {
            try {
                m_controls.ImagXpress1->setSelectionRect(crop);
                m_controls.ImagXpress2->setImageHandle(m_controls.ImagXpress1->selectionImage());
                m_proposal = crop;
            } catch (const Error&) {
                // Nothing proposed: the operator crops by hand as always.
                m_controls.ImagXpress1->selectionBand(false);
            }
        }
    }
    // A new grab is a new photo: what the line said about the last one no longer holds.
    m_controls.lblMensagem->setText(status.join(QStringLiteral(" - ")));
}

} // namespace qc
