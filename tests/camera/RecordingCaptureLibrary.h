#pragma once

#include "camera/CaptureLibrary.h"
#include "common/RecordingDesktop.h"

#include <QMap>
#include <QSet>
#include <QStringList>
#include <QWidget>

#include <utility>

// Test double of the capture library. Every call goes into a log shared with the
// desktop double below, so that the order of capture calls, message boxes and
// "process pending messages" can be checked as one sequence.
class RecordingCaptureLibrary : public qc::CaptureLibrary
{
public:
    explicit RecordingCaptureLibrary(QStringList& log) : m_log(log) {}

    QMap<int, QString> drivers;         // index -> name
    QSet<int> failingDrivers;           // connect fails for these indices
    QImage frame;                       // what the connected camera shows now
    QMap<int, qc::CaptureError> errors; // why connecting a failing driver fails
    bool createFails = false;
    QSet<qc::CaptureWindowHandle> liveWindows;
    QMap<qc::CaptureWindowHandle, int> connections;

    static QString messageName(unsigned message)
    {
        switch (message) {
        case qc::WM_CAP_DRIVER_CONNECT:
            return QStringLiteral("DRIVER_CONNECT");
        case qc::WM_CAP_DRIVER_DISCONNECT:
            return QStringLiteral("DRIVER_DISCONNECT");
        case qc::WM_CAP_EDIT_COPY:
            return QStringLiteral("EDIT_COPY");
        case qc::WM_CAP_DLG_VIDEOSOURCE:
            return QStringLiteral("DLG_VIDEOSOURCE");
        case qc::WM_CAP_SET_PREVIEW:
            return QStringLiteral("SET_PREVIEW");
        case qc::WM_CAP_SET_PREVIEWRATE:
            return QStringLiteral("SET_PREVIEWRATE");
        case qc::WM_CAP_SET_SCALE:
            return QStringLiteral("SET_SCALE");
        }
        return QString::number(message, 16);
    }

    bool driverDescription(int index, QString& name, QString&) override
    {
        m_log << QStringLiteral("describe %1").arg(index);
        if (!drivers.contains(index))
            return false;
        name = drivers.value(index);
        return true;
    }

    qc::CameraResult<qc::CaptureWindowHandle> createCaptureWindow(const QString& windowName,
                                                                  quint32 style, int x, int y,
                                                                  int width, int height,
                                                                  QWidget* parent, int id) override
    {
        m_log << QStringLiteral("create \"%1\" style=%2 %3,%4 %5x%6 parent=%7 id=%8")
                     .arg(windowName)
                     .arg(style, 8, 16, QLatin1Char('0'))
                     .arg(x)
                     .arg(y)
                     .arg(width)
                     .arg(height)
                     .arg(parent ? parent->objectName() : QStringLiteral("none"))
                     .arg(id);
        if (createFails)
            return qc::CaptureError{qc::CaptureError::Kind::Failed, QString()};
        const qc::CaptureWindowHandle handle = m_next++;
        liveWindows.insert(handle);
        return handle;
    }

    qc::CameraResult<qintptr> sendMessage(qc::CaptureWindowHandle window, unsigned message,
                                          qintptr wParam, qintptr lParam) override
    {
        m_log << QStringLiteral("send %1 %2 %3 %4")
                     .arg(window)
                     .arg(messageName(message))
                     .arg(wParam)
                     .arg(lParam);
        const qc::CaptureError refused{qc::CaptureError::Kind::Failed, QString()};
        if (!liveWindows.contains(window))
            return refused;
        if (message == qc::WM_CAP_DRIVER_CONNECT) {
            if (!drivers.contains(int(wParam)))
                return qc::CaptureError{qc::CaptureError::Kind::Absent, QString()};
            if (failingDrivers.contains(int(wParam)))
                return errors.value(int(wParam), refused);
            connections.insert(window, int(wParam));
            return 1;
        }
        if (message == qc::WM_CAP_DRIVER_DISCONNECT)
            connections.remove(window);
        if (message == qc::WM_CAP_EDIT_COPY)
            m_copied = frame;
        return 1;
    }

    bool destroyWindow(qc::CaptureWindowHandle window) override
    {
        m_log << QStringLiteral("destroy %1").arg(window);
        connections.remove(window);
        return liveWindows.remove(window);
    }

    QImage takeCopiedFrame() override
    {
        m_log << QStringLiteral("take copy");
        return std::exchange(m_copied, QImage());
    }

    int connectedDriver(qc::CaptureWindowHandle window) const override
    {
        return connections.value(window, -1);
    }

    // Cameras came or went: the library reports it on its own.
    void changeDrivers(const QMap<int, QString>& now)
    {
        drivers = now;
        notifyDriversChanged();
    }

private:
    QStringList& m_log;
    qc::CaptureWindowHandle m_next = 100;
    QImage m_copied;
};

// The desktop double, writing its message boxes and pending-message
// processing into the same log.
class LoggingDesktop : public RecordingDesktop
{
public:
    explicit LoggingDesktop(QStringList& log) : m_log(log) {}

    void messageBox(const QString& text, const QString& title, Icon icon, Buttons buttons) override
    {
        m_log << QStringLiteral("box \"%1\" title=\"%2\" icon=%3")
                     .arg(text, titleOrDefault(title))
                     .arg(int(icon));
        RecordingDesktop::messageBox(text, title, icon, buttons);
    }
    void processEvents() override { m_log << QStringLiteral("processEvents"); }

private:
    QStringList& m_log;
};
