#include "shell/UiStallProbe.h"

#include "records/DatabaseWaits.h"

#include <QFile>
#include <QSaveFile>

namespace qc {

UiStallProbe::UiStallProbe(const QString& path, QObject* parent) : QObject(parent), m_path(path)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(IntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &UiStallProbe::tick);
    m_clock.start();
    m_timer.start();
}

UiStallProbe* UiStallProbe::fromEnvironment(QObject* parent)
{
    const QString path = qEnvironmentVariable("QUVELOCAP_UI_PROBE");
    return path.isEmpty() ? nullptr : new UiStallProbe(path, parent);
}

void UiStallProbe::tick()
{
    const qint64 now = m_clock.nsecsElapsed() / 1000;
    const qint64 gap = now - m_last;
    m_last = now;
    const qint64 database = DatabaseWaits::threadTotalNs() / 1000;
    const qint64 waited = database - m_lastDatabaseUs;
    m_lastDatabaseUs = database;
    ++m_ticks;
    m_maxGapUs = qMax(m_maxGapUs, gap);
    m_ownMaxGapUs = qMax(m_ownMaxGapUs, gap - waited);
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
    file.write(QStringLiteral("max_gap_ms %1 busy_ms %2 ticks %3 own_max_gap_ms %4\n")
                   .arg(m_maxGapUs / 1000.0, 0, 'f', 1)
                   .arg(m_busyUs / 1000.0, 0, 'f', 1)
                   .arg(m_ticks)
                   .arg(m_ownMaxGapUs / 1000.0, 0, 'f', 1)
                   .toUtf8());
    file.commit();
}

} // namespace qc
