#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class QWidget;

namespace qc {

// How long the UI thread was kept from its event loop, for the photo-day benchmark that
// drives the real program from outside. A short timer runs on the UI thread; whatever
// delays a tick beyond its interval kept the thread busy. Every quarter of a second
// PATH is rewritten with one line:
//   "max_gap_ms X busy_ms Y ticks N own_max_gap_ms Z start_ms S"
// (the longest gap between ticks, the sum of the delays, the longest gap less the time the
// thread spent waiting on the database within it, and the start-up). The start-up, from the
// probe's making, before the window loads, to the first tick after the window's first
// paint, is reported apart and in no other figure: the start-up benchmark has its own.
// Each stall over 40 ms of the station's own is also logged with its time and how much of
// it the thread ran.
//
//   QUVELOCAP_UI_PROBE=PATH
class UiStallProbe : public QObject
{
public:
    // WINDOW is the one whose first paint ends the start-up; it owns the probe.
    UiStallProbe(const QString& path, QWidget* window);
    // Null when the variable is not set.
    static UiStallProbe* fromEnvironment(QWidget* window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void tick();
    void write() const;

    static constexpr int IntervalMs = 5;
    // A stall longer than this is logged with its time, to find what held the thread.
    static constexpr qint64 LoggedStallUs = 40'000;
    QString m_path;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_lastWrite = 0;
    qint64 m_maxGapUs = 0;
    qint64 m_ownMaxGapUs = 0;
    qint64 m_lastDatabaseUs = 0;
    qint64 m_lastCpuUs = 0;
    qint64 m_busyUs = 0;
    qint64 m_ticks = 0;
    qint64 m_startUs = -1;
    bool m_painted = false;
};

} // namespace qc
