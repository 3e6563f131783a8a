#include "framing/FaceFraming.h"

#include "core/Error.h"
#include "core/SettingsStore.h"
#include "framing/FaceDetector.h"
#include "framing/FrameQuality.h"
#include "framing/FramingWorker.h"
#include "framing/IdFraming.h"
#include "imaging/ImageControl.h"

#include <QLabel>
#include <QStringList>

#include <memory>

namespace qc {

FaceFraming::FaceFraming(const FaceFramingControls& controls, SettingsStore& settings,
                         WorkerSource worker)
    : m_controls(controls), m_settings(settings), m_workerSource(std::move(worker))
{
    m_on = m_settings.framing();
    // The operator's own crop, begun before the proposal arrived, is the one that counts.
    connect(m_controls.ImagXpress1, &ImageControl::MouseDown, this,
            [this] { m_operatorCropped = true; });
    connect(m_controls.ImagXpress1, &ImageControl::DblClick, this,
            [this] { m_operatorCropped = true; });
}

FaceFraming::~FaceFraming()
{
    if (m_worker)
        m_worker->release(this);
}

FramingWorker& FaceFraming::worker()
{
    if (!m_worker)
        m_worker = &m_workerSource();
    return *m_worker;
}

void FaceFraming::setOn(bool on)
{
    m_on = on;
    m_settings.setFraming(on);
}

void FaceFraming::afterGrab()
{
    m_proposal = QRect();
    m_pending = 0;
    if (!m_on)
        return;
    const QImage frame = m_controls.ImagXpress1->picture();
    if (frame.isNull())
        return;
    // A new grab is a new photo: what the line said about the last one no longer holds.
    m_controls.lblMensagem->clear();
    m_operatorCropped = false;
    m_grabbedKey = frame.cacheKey();
    auto number = std::make_shared<quint64>(0);
    *number = worker().analyseGrab(frame, this, [this, number](const FrameAnalysis& analysis) {
        if (m_pending == *number)
            apply(analysis);
    });
    m_pending = *number;
}

void FaceFraming::settle()
{
    if (!m_pending)
        return;
    if (m_operatorCropped) {
        // A late analysis would only rewrite the status line over the store's answer.
        m_pending = 0;
        return;
    }
    if (const std::optional<FrameAnalysis> analysis = worker().waitForGrab(m_pending))
        apply(*analysis);
}

void FaceFraming::apply(const FrameAnalysis& analysis)
{
    m_pending = 0;
    // The frame was replaced meanwhile (a new preview or another picture): nothing to say.
    if (m_controls.ImagXpress1->picture().cacheKey() != m_grabbedKey) {
        emit proposalSettled();
        return;
    }
    const QList<Face>& faces = analysis.faces;
    QStringList status;
    // Without the face engine (the log says why) nothing was looked for, and nothing is
    // said: the operator crops as without the framing.
    if (analysis.searched && faces.isEmpty())
        status << noFaceText();
    else if (faces.size() > 1)
        status << manyFacesText();
    if (const QString hint = analysis.quality.hint(); !hint.isEmpty())
        status << hint;

    if (faces.size() == 1 && !m_operatorCropped) {
        const QRect crop = IdFraming::crop(faces.first(), analysis.frameSize);
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
    m_controls.lblMensagem->setText(status.join(QStringLiteral(" - ")));
    emit proposalSettled();
}

} // namespace qc
