#pragma once

#include "core/SettingsStore.h"

#include <QString>

namespace qc {

// The settings store on Windows: string values (REG_SZ) under a key of the current user,
// where the station has always kept them: "srv", "db", "us", "pw" and "enquadrar" under
// HKEY_CURRENT_USER\Software\VB and VBA Program Settings\QuveloCap\Config. A school that
// replaces an older station keeps its connection settings without typing them again.
//
// Every value reads back exactly as written (any characters, any length, an empty value as
// the empty text). A value of another registry type than REG_SZ reads as the empty text,
// and the log says so. Through the Win32 registry calls directly, with wide strings.
class RegistrySettingsStore : public SettingsStore
{
public:
    // The station's own key, under HKEY_CURRENT_USER.
    static inline const QString StationKey =
        QStringLiteral("Software\\VB and VBA Program Settings\\QuveloCap\\Config");
    // The demo's, beside it: trying the station never touches the real settings.
    static inline const QString DemoKey =
        QStringLiteral("Software\\VB and VBA Program Settings\\QuveloCap (demonstração)\\Config");

    explicit RegistrySettingsStore(const QString& subKey = StationKey) : m_subKey(subKey) {}

    QString value(const QString& key) const override;
    // Throws qc::Error with Windows' reason when the key cannot be made or the value
    // cannot be written, or when it does not read back as written.
    void setValue(const QString& key, const QString& value) override;

    // "HKEY_CURRENT_USER\..." for messages and logs.
    QString keyName() const { return QStringLiteral("HKEY_CURRENT_USER\\") + m_subKey; }

private:
    QString m_subKey;
};

} // namespace qc
