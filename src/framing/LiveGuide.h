#pragma once

#include "framing/FaceGuide.h"
#include "framing/GuideOverlay.h"

#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QRect>

#include <functional>

class QTimer;

namespace qc {

class FramingWorker;
class SettingsStore;
struct FrameAnalysis;

// The face guide over the live preview: the 3:4 crop the framing would take, drawn over
// the picture, green when exactly one face is well framed, otherwise with one short hint,
// which a label under the picture also gives as text. The newest preview frame goes to
// the framing worker whenever it is free; frames that come meanwhile are skipped, so
// the preview never waits for the analysis. With "Capturar automaticamente" on it asks
// for the grab once the guide has stayed green with the face still for about a second.
class LiveGuide : public QObject
{
    Q_OBJECT

public:
    static QString autoCaptureKey() { return QStringLiteral("capturarautomaticamente"); }
    static QString autoCaptureText() { return QStringLiteral("Capturar automaticamente"); }
    static QString labelName() { return QStringLiteral("Guia do rosto"); }
    static constexpr int PollMs = 15;
    static constexpr int SameFrameMs = 200;

    using WorkerSource = std::function<FramingWorker&()>;
    // The preview's newest frame at the camera's size; null when no preview runs.
    using FrameSource = std::function<QImage()>;

    // The overlay covers previewArea (in picture's parent's coordinates, over the
    // preview window); the hint label sits right under it.
    LiveGuide(QWidget* picture, const QRect& previewArea, SettingsStore& settings,
              WorkerSource worker, FrameSource frames);
    ~LiveGuide() override;

    // Follows the face-framing switch: off, nothing is analysed or drawn.
    void setOn(bool on);
    bool isOn() const { return m_on; }
    bool autoCapture() const { return m_autoCapture; }
    void setAutoCapture(bool on);

    // The preview started or ended.
    void previewStarted();
    void previewStopped();
    bool isRunning() const;

    QLabel* hintLabel() const { return m_label; }
    GuideOverlay* overlay() const { return m_overlay; }
    GuideVerdict verdict() const { return m_verdict; }

signals:
    // A verdict was drawn; handedOverNs is when its frame went to the worker.
    void verdictShown(const qc::GuideVerdict& verdict, qint64 handedOverNs);
    // The guide has been green and still long enough: time to grab.
    void captureWanted();

private:
    void offerFrame();
    FramingWorker& worker();
    void show(const FrameAnalysis& analysis);

    SettingsStore& m_settings;
    WorkerSource m_workerSource;
    FramingWorker* m_worker = nullptr; // once asked for
    FrameSource m_frames;
    QPointer<GuideOverlay> m_overlay;
    QPointer<QLabel> m_label;
    QTimer* m_poll;
    bool m_on = true;
    bool m_autoCapture = false;
    qint64 m_offeredKey = 0;
    qint64 m_offeredAt = 0;
    quint64 m_session = 0; // counts previews, so that a late verdict of the last is dropped
    GuideVerdict m_verdict;
    AutoCapture m_capture;
    QElapsedTimer m_clock;
};

} // namespace qc
