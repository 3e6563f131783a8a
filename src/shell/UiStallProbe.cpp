#include "shell/UiStallProbe.h"

#include "core/Logging.h"
#include "records/DatabaseWaits.h"

#include <QEvent>
#include <QFile>
#include <QSaveFile>
#include <QWidget>

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

namespace qc {

namespace {

// The CPU time this thread has run, in microseconds: a stall with little of it was the
// thread kept waiting (the system's scheduler, a lock, paging), not working.
qint64 threadCpuUs()
{
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user))
        return 0;
    const auto hundredNs = [](const FILETIME& t) {
        return (qint64(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return (hundredNs(kernel) + hundredNs(user)) / 10;
#else
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
#endif
}

} // namespace

UiStallProbe::UiStallProbe(const QString& path, QWidget* window)
    : QObject(window), m_path(path)
{
    window->installEventFilter(this);
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(IntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &UiStallProbe::tick);
    m_clock.start();
    m_timer.start();
}

UiStallProbe* UiStallProbe::fromEnvironment(QWidget* window)
{
    const QString path = qEnvironmentVariable("QUVELOCAP_UI_PROBE");
    return path.isEmpty() ? nullptr : new UiStallProbe(path, window);
}

bool UiStallProbe::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Paint) {
        m_painted = true;
        watched->removeEventFilter(this);
    }
    return false;
}

void UiStallProbe::tick()
{
    const qint64 now = m_clock.nsecsElapsed() / 1000;
    const qint64 gap = now - m_last;
    m_last = now;
    const qint64 database = DatabaseWaits::threadTotalNs() / 1000;
    const qint64 waited = database - m_lastDatabaseUs;
    m_lastDatabaseUs = database;
    const qint64 cpu = threadCpuUs();
    const qint64 ran = cpu - m_lastCpuUs;
    m_lastCpuUs = cpu;
    ++m_ticks;
    if (m_startUs < 0) {
        if (m_painted)
            m_startUs = now;
        return;
    }
    m_maxGapUs = qMax(m_maxGapUs, gap);
    m_ownMaxGapUs = qMax(m_ownMaxGapUs, gap - waited);
    if (gap - waited > LoggedStallUs)
        qCWarning(lcShell,
                  "UI thread held %.1f ms (%.1f ms of it running, %.1f ms more on the database), "
                  "%.3f s after the first paint",
                  (gap - waited) / 1000.0, ran / 1000.0, waited / 1000.0, (now - m_startUs) / 1e6);
    if (gap > IntervalMs * 1000)
        m_busyUs += gap - IntervalMs * 1000;
    if (now - m_lastWrite >= 250'000) {
        m_lastWrite = now;
        write();
    }
}

void UiStallProbe::write() const
{
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(QStringLiteral("max_gap_ms %1 busy_ms %2 ticks %3 own_max_gap_ms %4 start_ms %5\n")
                   .arg(m_maxGapUs / 1000.0, 0, 'f', 1)
                   .arg(m_busyUs / 1000.0, 0, 'f', 1)
                   .arg(m_ticks)
                   .arg(m_ownMaxGapUs / 1000.0, 0, 'f', 1)
                   .arg(m_startUs / 1000.0, 0, 'f', 1)
                   .toUtf8());
    file.commit();
}

} // namespace qc
