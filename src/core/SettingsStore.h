#pragma once

#include <QString>

namespace qc {

// Per-user store of the connection settings: section "Config", keys "srv", "db",
// "us", "pw", and the face-framing switch beside them. A key never stored reads as the
// empty text; a stored value reads back exactly as it was given.
class SettingsStore
{
public:
    // The names the station has always kept its settings under (a school replacing an
    // old station keeps them), named here once.
    static inline const QString ServerKey = QStringLiteral("srv");
    static inline const QString DatabaseKey = QStringLiteral("db");
    static inline const QString UserKey = QStringLiteral("us");
    static inline const QString PasswordKey = QStringLiteral("pw");
    static inline const QString FramingKey = QStringLiteral("enquadrar");
    // Set only by hand, for a server the automatic choice does not suit: the ODBC driver
    // to use by its exact name, and "1" to have SQL Server's certificate verified.
    static inline const QString DriverKey = QStringLiteral("driver");
    static inline const QString VerifyCertificateKey = QStringLiteral("verificarcertificado");

    virtual ~SettingsStore() = default;
    virtual QString value(const QString& key) const = 0;
    // Throws qc::Error with the reason when the value could not be kept (a folder that
    // cannot be written, a full disk, a file that does not hold it afterwards).
    virtual void setValue(const QString& key, const QString& value) = 0;

    QString server() const { return value(ServerKey); }
    QString database() const { return value(DatabaseKey); }
    QString user() const { return value(UserKey); }
    QString password() const { return value(PasswordKey); }
    void setServer(const QString& server) { setValue(ServerKey, server); }
    void setDatabase(const QString& database) { setValue(DatabaseKey, database); }
    void setUser(const QString& user) { setValue(UserKey, user); }
    void setPassword(const QString& password) { setValue(PasswordKey, password); }

    // Face framing is on unless it was switched off.
    bool framing() const { return value(FramingKey) != QStringLiteral("0"); }
    void setFraming(bool on)
    {
        setValue(FramingKey, on ? QStringLiteral("1") : QStringLiteral("0"));
    }
};

} // namespace qc
