#include "records/OdbcConnection.h"

#ifdef _WIN32
#include <windows.h> // the types sql.h uses, which unixODBC defines itself
#endif
#include <sql.h>
#include <sqlext.h>

#include <QStringList>

namespace qc {

QString OdbcConnection::sqlServerDriver()
{
    SQLHENV env = static_cast<SQLHENV>(environment());
    QStringList drivers;
    SQLWCHAR name[512];
    SQLWCHAR attributes[2048];
    SQLSMALLINT nameLength = 0, attributesLength = 0;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    while (SQL_SUCCEEDED(SQLDriversW(env, direction, name, SQLSMALLINT(std::size(name)),
                                     &nameLength, attributes, SQLSMALLINT(std::size(attributes)),
                                     &attributesLength))) {
        drivers.append(QString::fromUtf16(reinterpret_cast<const char16_t*>(name),
                                          qMin<qsizetype>(nameLength, 511)));
        direction = SQL_FETCH_NEXT;
    }
    for (const QString& preferred : {QStringLiteral("ODBC Driver 18 for SQL Server"),
                                     QStringLiteral("ODBC Driver 17 for SQL Server")})
        if (drivers.contains(preferred))
            return preferred;
    for (const QString& driver : drivers)
        if (driver.startsWith(QLatin1String("ODBC Driver")) &&
            driver.endsWith(QLatin1String("SQL Server")))
            return driver;
    for (const QString& driver : drivers)
        if (driver.compare(QLatin1String("FreeTDS"), Qt::CaseInsensitive) == 0)
            return driver;
    return QString();
}

} // namespace qc
