#pragma once

#include "core/Desktop.h"

#include <QImage>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

// Test double of the desktop seam. Records every call in order (calls), keeps the
// message boxes with their exact text, title as shown and icon, and answers the Save
// dialog with a scripted path.
class RecordingDesktop : public qc::Desktop
{
public:
    struct Box
    {
        QString text;
        QString title; // as shown: the application name when none was given
        Icon icon;
    };

    QVector<Box> boxes;
    QStringList calls; // "messageBox:<text>", "wait:on", "wait:off", "beep", "save:<filter>",
                       // "end"
    int beeps = 0;
    int endRequests = 0;
    QString nextSaveName;    // what the next Save dialog returns ("" = cancelled)
    QStringList saveFilters; // filters the Save dialog was opened with
    std::function<void(const Box&)> onMessageBox; // runs while the "modal" box is up

    void messageBox(const QString& text, const QString& title, Icon icon, Buttons) override
    {
        Box box{text, titleOrDefault(title), icon};
        boxes.append(box);
        calls.append(QStringLiteral("messageBox:") + text);
        if (onMessageBox)
            onMessageBox(box);
    }
    void setWaitCursor(bool wait) override
    {
        m_wait = wait;
        calls.append(wait ? QStringLiteral("wait:on") : QStringLiteral("wait:off"));
    }
    bool waitCursor() const override { return m_wait; }
    void beep() override
    {
        ++beeps;
        calls.append(QStringLiteral("beep"));
    }
    QString saveFileName(const QString& filter) override
    {
        saveFilters.append(filter);
        calls.append(QStringLiteral("save:") + filter);
        return nextSaveName;
    }
    void endProgram() override
    {
        ++endRequests;
        calls.append(QStringLiteral("end"));
    }

    void clear()
    {
        boxes.clear();
        calls.clear();
        beeps = 0;
        endRequests = 0;
    }

private:
    bool m_wait = false;
};
