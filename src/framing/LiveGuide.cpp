#include "framing/LiveGuide.h"

#include "core/Error.h"
#include "core/Logging.h"
#include "core/SettingsStore.h"
#include "framing/FramingWorker.h"
#include "framing/GuideOverlay.h"

#include <QLabel>
#include <QTimer>

namespace qc {

namespace {

constexpr int LabelHeight = 24;

QLabel* makeHintLabel(QWidget* parent, const QRect& geometry)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QStringLiteral("lblGuia"));
    label->setGeometry(geometry);
    label->setAlignment(Qt::AlignCenter);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, QColor(48, 48, 48));
    palette.setColor(QPalette::WindowText, GuideOverlay::hintColour());
    label->setPalette(palette);
    label->setAccessibleName(LiveGuide::labelName());
    label->setAccessibleDescription(LiveGuide::labelName());
    label->hide();
    return label;
}

} // namespace

LiveGuide::LiveGuide(QWidget* picture, const QRect& previewArea, SettingsStore& settings,
                     WorkerSource worker, FrameSource frames)
    : m_settings(settings), m_workerSource(std::move(worker)), m_frames(std::move(frames)),
      m_poll(new QTimer(this))
{
    // Siblings of the picture box, over it: its own children are the capture windows.
    QWidget* area = picture->parentWidget();
    m_overlay = new GuideOverlay(area);
    m_overlay->setObjectName(QStringLiteral("guiaRosto"));
    m_overlay->setGeometry(previewArea);
    m_overlay->hide();
    m_label = makeHintLabel(area, QRect(previewArea.left(), previewArea.bottom() + 1,
                                        previewArea.width(), LabelHeight));
    m_on = m_settings.framing();
    m_autoCapture = m_settings.value(autoCaptureKey()) == QStringLiteral("1");
    m_poll->setInterval(PollMs);
    connect(m_poll, &QTimer::timeout, this, &LiveGuide::offerFrame);
    m_clock.start();
}

LiveGuide::~LiveGuide()
{
    if (m_worker)
        m_worker->release(this);
    // The widgets belong to the window, which may outlive this guide.
    delete m_overlay;
    delete m_label;
}

FramingWorker& LiveGuide::worker()
{
    if (!m_worker)
        m_worker = &m_workerSource();
    return *m_worker;
}

void LiveGuide::setOn(bool on)
{
    m_on = on;
    if (!on)
        previewStopped();
}

void LiveGuide::setAutoCapture(bool on)
{
    m_autoCapture = on;
    m_capture.reset();
    try {
        m_settings.setValue(autoCaptureKey(), on ? QStringLiteral("1") : QStringLiteral("0"));
    } catch (const Error& error) {
        // The choice holds for this session all the same.
        qCWarning(lcFraming, "automatic capture setting not kept: %s",
                  qUtf8Printable(error.description()));
    }
}

bool LiveGuide::isRunning() const
{
    return m_poll->isActive();
}

void LiveGuide::previewStarted()
{
    previewStopped();
    if (!m_on)
        return;
    m_overlay->raise();
    m_label->raise();
    m_overlay->show();
    m_label->show();
    m_poll->start();
    offerFrame();
}

void LiveGuide::previewStopped()
{
    ++m_session;
    m_poll->stop();
    m_offeredKey = 0;
    m_capture.reset();
    m_verdict = GuideVerdict();
    m_overlay->setVerdict(m_verdict);
    m_overlay->hide();
    m_label->clear();
    m_label->setAccessibleName(labelName());
    m_label->hide();
}

void LiveGuide::offerFrame()
{
    // Asked first: taking the frame may mean decoding it, for nothing while one is in hand.
    if (worker().isLiveBusy())
        return;
    const QImage frame = m_frames ? m_frames() : QImage();
    if (frame.isNull()) {
        // No picture (yet, or any more: the camera went): no guide either.
        if (m_verdict.hasFace || !m_verdict.hint.isEmpty()) {
            m_verdict = GuideVerdict();
            m_overlay->setVerdict(m_verdict);
            m_label->clear();
        }
        return;
    }
    // A camera slower than the analysis (or a still picture) hands the same frame again:
    // looked at again now and then, not over and over.
    if (frame.cacheKey() == m_offeredKey && m_clock.elapsed() - m_offeredAt < SameFrameMs)
        return;
    const quint64 session = m_session;
    if (worker().analyseLive(frame, this, [this, session](const FrameAnalysis& analysis) {
            if (session == m_session)
                show(analysis);
        })) {
        m_offeredKey = frame.cacheKey();
        m_offeredAt = m_clock.elapsed();
    }
}

void LiveGuide::show(const FrameAnalysis& analysis)
{
    m_verdict = FaceGuide::judge(analysis);
    m_overlay->setVerdict(m_verdict);
    if (m_label->text() != m_verdict.hint) {
        m_label->setText(m_verdict.hint);
        // A dark band only while there is something to read in it.
        m_label->setAutoFillBackground(!m_verdict.hint.isEmpty());
        m_label->setAccessibleName(m_verdict.hint.isEmpty() ? labelName() : m_verdict.hint);
    }
    emit verdictShown(m_verdict, analysis.handedOverNs);
    if (m_autoCapture && m_capture.offer(m_verdict, m_clock.elapsed()))
        emit captureWanted(); // the grab stops the preview, and this guide with it
    // The next frame goes now rather than at the next poll: the guide keeps up.
    if (isRunning())
        offerFrame();
}

} // namespace qc
