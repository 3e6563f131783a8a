#include "shell/StationDiagnostics.h"

#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QWidget>
#include <cstdio>
#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#endif

namespace qc {

StationDiagnostics::StationDiagnostics(QWidget* window, QLabel* statusLine, bool reportFirstPaint,
                                       QString statusFile)
    : QObject(window), m_window(window), m_statusLine(statusLine),
      m_reportFirstPaint(reportFirstPaint), m_statusFile(std::move(statusFile))
{
    if (m_reportFirstPaint && m_window)
        m_window->installEventFilter(this);
    if (!m_statusFile.isEmpty() && m_statusLine)
        m_statusLine->installEventFilter(this);
}

StationDiagnostics* StationDiagnostics::fromEnvironment(QWidget* window, QLabel* statusLine)
{
    const bool firstPaint = qEnvironmentVariableIntValue("QUVELOCAP_REPORT_FIRST_PAINT") != 0;
    const QString statusFile = qEnvironmentVariable("QUVELOCAP_STATUS_FILE");
    if (!firstPaint && statusFile.isEmpty())
        return nullptr;
    return new StationDiagnostics(window, statusLine, firstPaint, statusFile);
}

bool StationDiagnostics::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Paint) {
        if (m_reportFirstPaint && watched == m_window) {
            m_reportFirstPaint = false;
            m_window->removeEventFilter(this);
#ifdef Q_OS_WIN
            // A tool waits for this exact line; text mode would end it with "\r\n".
            _setmode(_fileno(stderr), _O_BINARY);
#endif
            std::fprintf(stderr, "%s\n", firstPaintMarker());
            std::fflush(stderr);
        } else if (watched == m_statusLine) {
            recordStatus(m_statusLine->text());
        }
    }
    return QObject::eventFilter(watched, event);
}

void StationDiagnostics::recordStatus(const QString& text)
{
    // A caption is painted many times (exposes, the window moving); one line per change.
    if (m_statusRecorded && text == m_lastStatus)
        return;
    m_statusRecorded = true;
    m_lastStatus = text;
    QFile file(m_statusFile);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return; // a diagnostic never stands in the operator's way
    QString line = text;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    file.write(line.toUtf8() + '\n');
}

} // namespace qc
