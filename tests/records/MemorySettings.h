#pragma once

#include "core/SettingsStore.h"

#include <QHash>

// Settings held in memory, for tests of the code that reads them.
class MemorySettings : public qc::SettingsStore
{
public:
    QHash<QString, QString> values;
    int reads = 0;

    QString value(const QString& key) const override
    {
        ++const_cast<MemorySettings*>(this)->reads;
        return values.value(key);
    }
    void setValue(const QString& key, const QString& value) override { values.insert(key, value); }
};
