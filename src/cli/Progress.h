#pragma once

#include <QElapsedTimer>
#include <QString>

#include <functional>

namespace qc {

// The one line that says how far a run is: done/total, photos per second and the time
// left, redrawn in place (at most a few times a second) on a terminal, and nothing at all
// where the output goes to a pipe or a file.
class Progress
{
public:
    Progress(std::function<void(const QString&)> write, bool enabled, qint64 total);

    void step();
    // Wipes the line, so that a message can be written where it was; the next step redraws.
    void clear();

    static QString line(qint64 done, qint64 total, qint64 elapsedMs);

private:
    void draw();

    std::function<void(const QString&)> m_write;
    bool m_enabled;
    qint64 m_total;
    qint64 m_done = 0;
    qint64 m_lastDraw = -1;
    bool m_shown = false;
    QElapsedTimer m_clock;
};

} // namespace qc
