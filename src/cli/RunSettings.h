#pragma once

#include "core/SettingsStore.h"

#include <QHash>
#include <QString>

namespace qc {

struct CliOptions;
struct Console;

// The station's settings, with what the command line gives for this run in front. A
// run never changes the stored settings.
class RunSettings : public SettingsStore
{
public:
    explicit RunSettings(SettingsStore& stored) : m_stored(stored) {}

    void override(const QString& key, const QString& value) { m_overrides.insert(key, value); }
    QString value(const QString& key) const override;
    void setValue(const QString& key, const QString& value) override { override(key, value); }

    // Puts the command line's server, database and user in front of the stored ones and
    // takes the password from where it comes: QUVELOCAP_PASSWORD; else the stored one,
    // when the user is the stored user; else the terminal's answer (none for a SQLite
    // file). Returns what is wrong (no server at all), else the empty text.
    QString takeFrom(const CliOptions& options, Console& console);

private:
    void choosePassword(bool otherUser, Console& console);

    SettingsStore& m_stored;
    QHash<QString, QString> m_overrides;
};

} // namespace qc
