#pragma once

#include "core/SettingsStore.h"

#include <QImage>
#include <QObject>
#include <QRect>
#include <QString>

#include <functional>

class QLabel;

namespace qc {

class FramingWorker;
class ImageControl;
struct FrameAnalysis;

struct FaceFramingControls
{
    ImageControl* ImagXpress1 = nullptr; // the grabbed frame
    ImageControl* ImagXpress2 = nullptr; // the confirmed photo
    QLabel* lblMensagem = nullptr;       // the status line
};

// Proposes the ID crop after a grab: with exactly one face in the frame the band is
// drawn on the frame and its region becomes the photo, as if the operator had dragged
// it; a drag or a double-click afterwards replaces it as always. The status line says
// when no face or more than one was found, and hints at a dark, bright or blurred
// picture. Switched off, nothing of this happens. The choice is kept in the settings.
// The faces are found on the framing worker: the grabbed frame shows at once and the
// proposal follows; a drag or double-click the operator starts before it arrives wins,
// and the proposal is dropped.
class FaceFraming : public QObject
{
    Q_OBJECT

public:
    static QString settingKey() { return SettingsStore::FramingKey; }
    using WorkerSource = std::function<FramingWorker&()>;

    FaceFraming(const FaceFramingControls& controls, SettingsStore& settings, WorkerSource worker);
    ~FaceFraming() override;

    // On unless switched off and stored so.
    bool isOn() const { return m_on; }
    void setOn(bool on);

    void afterGrab();
    // The proposal for the last grab is still to come.
    bool isPending() const { return m_pending != 0; }
    // Waits for that proposal and applies it now, so that what is stored next is what
    // the operator would have seen. After the operator's own crop nothing of it would be
    // stored: it is dropped, unwaited.
    void settle();
    // The crop proposed for the last grab (empty when none was).
    QRect proposal() const { return m_proposal; }

    static QString noFaceText() { return QStringLiteral("Nenhum rosto encontrado"); }
    static QString manyFacesText() { return QStringLiteral("Mais de um rosto na imagem"); }

signals:
    // The analysis of the last grab was applied (or dropped, after the operator's crop).
    void proposalSettled();

private:
    void apply(const FrameAnalysis& analysis);
    FramingWorker& worker();

    FaceFramingControls m_controls;
    SettingsStore& m_settings;
    WorkerSource m_workerSource;
    FramingWorker* m_worker = nullptr; // once asked for
    bool m_on = true;
    QRect m_proposal;
    quint64 m_pending = 0;          // the worker's number of the grab awaited, 0 for none
    qint64 m_grabbedKey = 0;        // the grabbed picture's cache key
    bool m_operatorCropped = false; // a press or a double-click since the grab
};

} // namespace qc
