#pragma once

#include <QString>

namespace qc {

// Per-user store of the connection settings: section "Config", keys "srv", "db",
// "us", "pw". A key never stored reads as the empty text; a stored value reads back
// exactly as it was given.
class SettingsStore
{
public:
    virtual ~SettingsStore() = default;
    virtual QString value(const QString& key) const = 0;
    // Throws qc::Error with the reason when the value could not be kept (a folder that
    // cannot be written, a full disk, a file that does not hold it afterwards).
    virtual void setValue(const QString& key, const QString& value) = 0;
};

} // namespace qc
