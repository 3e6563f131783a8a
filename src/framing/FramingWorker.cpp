#include "framing/FramingWorker.h"

#include <QMetaObject>
#include <QMutexLocker>
#include <QThread>

#include <chrono>

namespace qc {

qint64 FrameAnalysis::nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

FrameAnalysis FrameAnalysis::of(FaceDetector& detector, const QImage& picture)
{
    FrameAnalysis analysis;
    analysis.frameSize = picture.size();
    analysis.searched = detector.isAvailable();
    analysis.faces = detector.detect(picture);
    const QRect face =
        analysis.faces.size() == 1 ? analysis.faces.first().box.toAlignedRect() : QRect();
    analysis.quality = FrameQuality::measure(picture, face);
    return analysis;
}

FramingWorker::FramingWorker(const QString& landmarkModel) : m_model(landmarkModel) {}

FramingWorker::~FramingWorker()
{
    if (!m_thread)
        return;
    {
        QMutexLocker lock(&m_mutex);
        m_stop = true;
        m_wake.wakeAll();
    }
    m_thread->wait();
}

void FramingWorker::start()
{
    if (m_thread)
        return;
    m_thread.reset(QThread::create([this] { run(); }));
    m_thread->setObjectName(QStringLiteral("framing"));
    m_thread->start(QThread::LowPriority);
}

quint64 FramingWorker::analyseGrab(const QImage& frame, QObject* context, Done done)
{
    start();
    QMutexLocker lock(&m_mutex);
    m_grab = Job{frame, context, std::move(done), FrameAnalysis::nowNs()};
    m_wake.wakeAll();
    return ++m_grabNumber;
}

std::optional<FrameAnalysis> FramingWorker::waitForGrab(quint64 number)
{
    QMutexLocker lock(&m_mutex);
    if (number != m_grabNumber || !m_thread)
        return std::nullopt;
    while (m_grabFinished != number && !m_stop)
        m_grabDone.wait(&m_mutex);
    if (m_grabFinished != number)
        return std::nullopt;
    return m_grabAnalysis;
}

bool FramingWorker::analyseLive(const QImage& frame, QObject* context, Done done)
{
    start();
    QMutexLocker lock(&m_mutex);
    if (m_live || m_liveInHand)
        return false;
    m_live = Job{frame, context, std::move(done), FrameAnalysis::nowNs()};
    m_wake.wakeAll();
    return true;
}

bool FramingWorker::isLiveBusy() const
{
    QMutexLocker lock(&m_mutex);
    return m_live || m_liveInHand;
}

void FramingWorker::release(QObject* context)
{
    QMutexLocker lock(&m_mutex);
    if (m_grab && m_grab->context == context)
        m_grab.reset();
    if (m_live && m_live->context == context)
        m_live.reset();
    if (m_inHandFor == context)
        m_inHandFor = nullptr;
}

bool FramingWorker::nextJob(Job& job, bool& isGrab)
{
    QMutexLocker lock(&m_mutex);
    while (!m_stop && !m_grab && !m_live)
        m_wake.wait(&m_mutex);
    if (m_stop)
        return false;
    isGrab = m_grab.has_value();
    std::optional<Job>& slot = isGrab ? m_grab : m_live;
    job = std::move(*slot);
    slot.reset();
    if (!isGrab)
        m_liveInHand = true;
    m_inHandFor = job.context;
    return true;
}

void FramingWorker::deliver(Job& job, const FrameAnalysis& analysis)
{
    // Under the lock, so that a context released meanwhile is never posted to; what is
    // posted already Qt drops when the context is deleted.
    if (!job.context || job.context != m_inHandFor)
        return;
    m_inHandFor = nullptr;
    QMetaObject::invokeMethod(
        job.context, [done = std::move(job.done), analysis] { done(analysis); },
        Qt::QueuedConnection);
}

void FramingWorker::run()
{
    FaceDetector detector(m_model, &m_stop);
    m_hasLandmarks = detector.hasLandmarks();
    m_ready = true;
    Job job;
    bool isGrab = false;
    while (nextJob(job, isGrab)) {
        FrameAnalysis analysis = FrameAnalysis::of(detector, job.picture);
        analysis.handedOverNs = job.handedOverNs;
        QMutexLocker lock(&m_mutex);
        if (isGrab) {
            // The number of the grab in hand is the last one unless a newer came meanwhile,
            // which is then analysed next and supersedes this one.
            if (!m_grab) {
                m_grabFinished = m_grabNumber;
                m_grabAnalysis = analysis;
                m_grabDone.wakeAll();
            }
        } else {
            m_liveInHand = false;
        }
        deliver(job, analysis);
        job = Job();
    }
    QMutexLocker lock(&m_mutex);
    m_grabDone.wakeAll();
}

} // namespace qc
