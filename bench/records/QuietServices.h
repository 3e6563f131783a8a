#pragma once

#include "core/Desktop.h"
#include "core/SettingsStore.h"

#include <QImage>
#include <QString>

// The desktop and settings are not what the record benchmarks measure: they do nothing.
class QuietDesktop : public qc::Desktop
{
public:
    void messageBox(const QString&, const QString&, Icon, Buttons) override {}
    void setWaitCursor(bool wait) override { m_wait = wait; }
    bool waitCursor() const override { return m_wait; }
    void beep() override {}
    QString saveFileName(const QString&) override { return {}; }
    void endProgram() override {}

private:
    bool m_wait = false;
};

class NoSettings : public qc::SettingsStore
{
public:
    QString value(const QString&) const override { return {}; }
    void setValue(const QString&, const QString&) override {}
};
