#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

namespace qc {

// How long the UI thread was kept from its event loop, for the photo-day benchmark that
// drives the real program from outside. A short timer runs on the UI thread; whatever
// delays a tick beyond its interval kept the thread busy. Every quarter of a second
// PATH is rewritten with one line: "max_gap_ms X busy_ms Y ticks N own_max_gap_ms Z" (the
// longest gap between ticks, the sum of the delays, and the longest gap less the time the
// thread spent waiting on the database within it).
//
//   QUVELOCAP_UI_PROBE=PATH
class UiStallProbe : public QObject
{
public:
    UiStallProbe(const QString& path, QObject* parent);
    // Null when the variable is not set.
    static UiStallProbe* fromEnvironment(QObject* parent);

private:
    void tick();
    void write() const;

    static constexpr int IntervalMs = 5;
    QString m_path;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_lastWrite = 0;
    qint64 m_maxGapUs = 0;
    qint64 m_ownMaxGapUs = 0;
    qint64 m_lastDatabaseUs = 0;
    qint64 m_busyUs = 0;
    qint64 m_ticks = 0;
};

} // namespace qc
