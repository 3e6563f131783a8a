#pragma once

#include "records/ConnectionString.h"
#include "records/OdbcDrivers.h"

#include <QString>
#include <QVariant>

#include <memory>

namespace qc {

class ProviderConnection;

// A database connection. Open takes the station's classic connection string plus the user
// and password of the open call; the server inside the string chooses the engine:
//   sqlite:PATH                -> the SQLite file at PATH (it must exist)
//   postgresql://HOST[:PORT]   -> PostgreSQL through psqlODBC
//   anything else              -> SQL Server through Microsoft's ODBC driver, Windows' own
//                                 or FreeTDS (OdbcDrivers says which)
// Every failure is a DatabaseError carrying the driver's text.
class Connection
{
public:
    static constexpr int UseClient = 3;

    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Results are always read to the client whole, so the location is only remembered.
    void setCursorLocation(int location) { m_cursorLocation = location; }
    int cursorLocation() const { return m_cursorLocation; }

    // The operator's driver and certificate settings, for the opens that follow.
    void setOdbcOverrides(const OdbcOverrides& overrides) { m_overrides = overrides; }

    // options is accepted for the callers' sake; every open is synchronous.
    void open(const QString& connectionString, const QString& user, const QString& password,
              int options = -1);
    bool isOpen() const { return m_provider != nullptr; }
    void close();

    // The engine's own connection text, password masked ("" while closed).
    QString maskedTarget() const;
    ConnectionTarget::Engine engine() const { return m_engine; }

    // A statement that returns no rows; values bound to its '?' in order. Rows affected.
    qint64 execute(const QString& sql, const QVariantList& params = {});

    void beginTransaction();
    void commitTransaction();
    void rollbackTransaction();
    bool inTransaction() const;

    // Throws DatabaseError when the connection is not open.
    ProviderConnection& provider() const;

    // Opens a SQLite file directly; create also makes a missing one (demo database).
    void openSqlite(const QString& path, bool create);

private:
    std::unique_ptr<ProviderConnection> m_provider;
    OdbcOverrides m_overrides;
    ConnectionTarget::Engine m_engine = ConnectionTarget::Engine::SqlServer;
    int m_cursorLocation = 2;
};

} // namespace qc
