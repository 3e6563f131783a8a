#pragma once

#include <QString>

namespace qc {

// Per-user store of the connection settings: section "Config", keys "srv", "db",
// "us", "pw". A key never stored reads as the empty text.
class SettingsStore
{
public:
    virtual ~SettingsStore() = default;
    virtual QString value(const QString& key) const = 0;
    virtual void setValue(const QString& key, const QString& value) = 0;
};

} // namespace qc
