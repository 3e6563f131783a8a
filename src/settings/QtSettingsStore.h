#pragma once

#include "core/SettingsStore.h"

#include <QString>

namespace qc {

// The settings store on QSettings: organisation and application "QuveloCap", group
// "Config". The file holds the password as plain text, so every store leaves it
// readable and writable by its owner only.
class QtSettingsStore : public SettingsStore
{
public:
    // The station's own file (the user's config folder).
    QtSettingsStore();
    // A file of its own, e.g. the demo's, kept apart from the real settings.
    explicit QtSettingsStore(const QString& iniFile);

    QString value(const QString& key) const override;
    void setValue(const QString& key, const QString& value) override;

    QString fileName() const;

private:
    QString m_file; // empty: the station's own file
};

} // namespace qc
