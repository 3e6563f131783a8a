#pragma once

#include "core/SettingsStore.h"

#include <QString>

namespace qc {

// The settings store: an INI file, section [Config], in the user's config folder
// (~/.config/QuveloCap/QuveloCap.conf) or a file of its own. The file holds the password
// as plain text, so every store leaves it readable and writable by its owner only.
//
// QSettings is not used for this file: its INI reader takes a comma for a list
// separator (SQLSRV01,1433 reads as a list, so as empty text), a ';' for the start of a
// comment and "\n" in HOST\new for a line break, so a hand-written value would not
// read back as written. The rules here: blanks around an unquoted value are dropped and
// everything between them is the value, backslashes and commas included; a value
// between double quotes is taken whole, with \" and \\ for a quote and a backslash.
// A file written by QSettings (quotes, \\, a leading @@) reads the same. Every value is
// written quoted, other lines and sections of the file are kept as they are.
class QtSettingsStore : public SettingsStore
{
public:
    // The station's own file (the user's config folder).
    QtSettingsStore();
    // A file of its own, e.g. the demo's, kept apart from the real settings (empty: the
    // station's own file).
    explicit QtSettingsStore(const QString& iniFile);

    QString value(const QString& key) const override;
    void setValue(const QString& key, const QString& value) override;

    QString fileName() const { return m_file; }

private:
    QString m_file;
};

} // namespace qc
