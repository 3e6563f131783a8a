#include "cli/Progress.h"

namespace qc {

namespace {

constexpr qint64 kRedrawMs = 200;

QString duration(qint64 seconds)
{
    if (seconds >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(seconds / 3600)
            .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
            .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

Progress::Progress(std::function<void(const QString&)> write, bool enabled, qint64 total)
    : m_write(std::move(write)), m_enabled(enabled), m_total(total)
{
    m_clock.start();
}

QString Progress::line(qint64 done, qint64 total, qint64 elapsedMs)
{
    QString text = QStringLiteral("%1/%2").arg(done).arg(total);
    if (done > 0 && elapsedMs > 0) {
        const double rate = double(done) * 1000.0 / double(elapsedMs);
        text += QStringLiteral("  %1 fotos/s").arg(rate, 0, 'f', 1);
        if (total > done)
            text +=
                QStringLiteral("  faltam %1").arg(duration(qint64(double(total - done) / rate)));
    }
    return text;
}

void Progress::step()
{
    ++m_done;
    if (!m_enabled)
        return;
    const qint64 now = m_clock.elapsed();
    if (m_shown && m_done < m_total && now - m_lastDraw < kRedrawMs)
        return;
    m_lastDraw = now;
    draw();
}

void Progress::draw()
{
    // Carriage return and "erase to the end of the line": the line is rewritten in place.
    m_write(QStringLiteral("\r\x1b[K") + line(m_done, m_total, m_clock.elapsed()));
    m_shown = true;
}

void Progress::clear()
{
    if (m_enabled && m_shown) {
        m_write(QStringLiteral("\r\x1b[K"));
        m_shown = false;
    }
}

} // namespace qc
