#pragma once

#include "records/ConnectionString.h"

#include <QString>
#include <QStringList>

namespace qc {

class SettingsStore;

// What the operator may set beside the four connection settings to reach an ODBC server
// another way; both are unset on a station that was never told otherwise.
struct OdbcOverrides
{
    QString driver;                 // an installed driver's exact name, in place of the choice
    bool verifyCertificate = false; // SQL Server: check the server's certificate

    static OdbcOverrides from(const SettingsStore& settings);
};

// Which installed ODBC driver the station uses for each engine. The choice is a function of
// the names the driver manager lists (SQLDrivers) and nothing else, so that it can be
// checked on any list.
//
// SQL Server: Microsoft's "ODBC Driver NN for SQL Server", the newest first (18, then 17,
// then older ones); then, on Windows, the "SQL Server" driver that every Windows carries;
// then FreeTDS. PostgreSQL: psqlODBC, the Unicode driver before the ANSI one, the names its
// Windows installer gives the 64-bit drivers ("PostgreSQL Unicode(x64)") first.
namespace OdbcDrivers {

enum class Platform
{
    Linux,
    Windows
};
#ifdef _WIN32
constexpr Platform ThisPlatform = Platform::Windows;
#else
constexpr Platform ThisPlatform = Platform::Linux;
#endif

// Windows' own SQL Server driver (SQLSRV32.DLL).
inline const QString BuiltInSqlServer = QStringLiteral("SQL Server");

// The preferred installed driver for SQL Server, or "" when there is none.
QString chooseSqlServer(const QStringList& installed, Platform platform = ThisPlatform);
// The preferred installed driver for PostgreSQL, or "" when there is none.
QString choosePostgreSql(const QStringList& installed);

// The driver for engine (PostgreSQL or SQL Server): the override when it is installed,
// else the choice above. Throws DatabaseError saying what to install when there is none,
// and naming the installed drivers when the override is not one of them.
QString driverFor(ConnectionTarget::Engine engine, const QStringList& installed,
                  const QString& override, Platform platform = ThisPlatform);

// The operator's sentence for an engine without a driver: what to install.
QString missingDriverText(ConnectionTarget::Engine engine, Platform platform = ThisPlatform);

// A connection refused for the server's certificate ("SSL Provider: ... certificate ...")
// as the operator reads it: what happened and what to do (verifying: the station was told
// to check the certificate), then the driver's own text. Any other failure comes back
// unchanged.
QString explainCertificateFailure(const QString& driverText, bool verifying);

// The drivers the ODBC driver manager lists, in its order.
QStringList installed();

} // namespace OdbcDrivers

} // namespace qc
