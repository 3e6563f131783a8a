#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QLabel;
class QWidget;

namespace qc {

// What the station tells about itself when asked through the environment, for tools
// that drive the real program from outside (the end-to-end run, the start-up
// benchmark) and cannot read the screen:
//
//   QUVELOCAP_REPORT_FIRST_PAINT=1  writes "quvelocap: first paint" to stderr when the
//                                   window is painted for the first time;
//   QUVELOCAP_STATUS_FILE=PATH      appends to PATH, one line each, every caption of the
//                                   status line that is painted, as the operator sees it.
//
// Both watch paint events, so they report what reached the screen, not what the code
// meant to show. Without the variables nothing is watched.
class StationDiagnostics : public QObject
{
public:
    StationDiagnostics(QWidget* window, QLabel* statusLine, bool reportFirstPaint,
                       QString statusFile);
    // Reads the two variables; returns null when neither is set.
    static StationDiagnostics* fromEnvironment(QWidget* window, QLabel* statusLine);

    static const char* firstPaintMarker() { return "quvelocap: first paint"; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void recordStatus(const QString& text);

    QPointer<QWidget> m_window;
    QPointer<QLabel> m_statusLine;
    bool m_reportFirstPaint;
    QString m_statusFile;
    QString m_lastStatus;
    bool m_statusRecorded = false;
};

} // namespace qc
