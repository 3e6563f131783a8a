#pragma once

#include "framing/FaceDetector.h"
#include "framing/FrameQuality.h"

#include <QImage>
#include <QList>
#include <QMutex>
#include <QSize>
#include <QWaitCondition>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QObject;
class QThread;

namespace qc {

// What the face analysis found in one picture.
struct FrameAnalysis
{
    // False when no face could be looked for (the face engine is missing): faces is
    // empty then without meaning that there is none.
    bool searched = true;
    QList<Face> faces;
    // Over the face when there is exactly one (a dim or plain background is no fault),
    // else over the whole picture.
    FrameQuality quality;
    QSize frameSize;
    qint64 handedOverNs = 0; // nowNs() when the picture was handed over

    static FrameAnalysis of(FaceDetector& detector, const QImage& picture);
    // The steady clock, in nanoseconds.
    static qint64 nowNs();
};

// The face analysis off the UI thread. One thread of its own loads the landmark model
// (about a second for its 100 MB) and then analyses, one at a time: a grabbed frame
// before anything else, and the newest preview frame, never a queue of them. Results come
// back on the thread of the context object given with each picture, and not at all once
// that object is gone. The owner's lifetime bounds the thread: the destructor stops a
// model load under way, lets the picture in hand finish and joins, so nothing of it is
// left for the process's exit to wait on.
class FramingWorker
{
public:
    using Done = std::function<void(const FrameAnalysis&)>;

    explicit FramingWorker(const QString& landmarkModel = FaceDetector::defaultLandmarkModel());
    ~FramingWorker();
    FramingWorker(const FramingWorker&) = delete;
    FramingWorker& operator=(const FramingWorker&) = delete;

    // Starts the thread and the model's load; later calls do nothing.
    void start();
    // The load has ended (with the model, or without when it is missing or damaged).
    bool isReady() const { return m_ready.load(); }
    bool hasLandmarks() const { return m_hasLandmarks.load(); }

    // A grabbed frame: analysed next; returns its number for waitForGrab.
    quint64 analyseGrab(const QImage& frame, QObject* context, Done done);
    // Blocks until that grab is analysed and returns the analysis (empty for a number
    // that is not the last grab's). Its done still runs later, from the event loop.
    std::optional<FrameAnalysis> waitForGrab(quint64 number);

    // A preview frame, taken only when no other one is waiting or in hand: false then,
    // and the caller offers a newer frame later.
    bool analyseLive(const QImage& frame, QObject* context, Done done);
    bool isLiveBusy() const;

    // Nothing more is delivered to context: called by its destructor, on its thread.
    void release(QObject* context);

private:
    struct Job
    {
        QImage picture;
        QObject* context = nullptr;
        Done done;
        qint64 handedOverNs = 0;
    };
    void run();
    bool nextJob(Job& job, bool& isGrab);
    void deliver(Job& job, const FrameAnalysis& analysis);

    QString m_model;
    std::unique_ptr<QThread> m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_ready{false};
    std::atomic<bool> m_hasLandmarks{false};

    mutable QMutex m_mutex;
    QWaitCondition m_wake; // a job came, or stop
    QWaitCondition m_grabDone;
    std::optional<Job> m_grab;
    std::optional<Job> m_live;
    bool m_liveInHand = false;
    QObject* m_inHandFor = nullptr; // the context of the picture in hand, until released
    quint64 m_grabNumber = 0;       // of the last grab handed over
    quint64 m_grabFinished = 0;     // of the last grab analysed
    FrameAnalysis m_grabAnalysis;   // of m_grabFinished
};

} // namespace qc
