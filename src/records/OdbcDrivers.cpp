#include "records/OdbcDrivers.h"

#include "core/SettingsStore.h"
#include "records/DatabaseError.h"
#include "records/OdbcConnection.h"

#ifdef _WIN32
#include <windows.h> // the types sql.h uses, which unixODBC defines itself
#endif
#include <sql.h>
#include <sqlext.h>

#include <QRegularExpression>

#include <algorithm>

namespace qc {

OdbcOverrides OdbcOverrides::from(const SettingsStore& settings)
{
    return OdbcOverrides{settings.value(SettingsStore::DriverKey).trimmed(),
                         settings.value(SettingsStore::VerifyCertificateKey).trimmed() ==
                             QLatin1String("1")};
}

namespace OdbcDrivers {

namespace {

// The version of a Microsoft driver ("ODBC Driver 18 for SQL Server" -> 18), else -1.
int microsoftVersion(const QString& name)
{
    static const QRegularExpression pattern(QStringLiteral("^ODBC Driver (\\d+) for SQL Server$"));
    const QRegularExpressionMatch match = pattern.match(name);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

QString firstOf(const QStringList& installed, const QStringList& preferred)
{
    for (const QString& name : preferred)
        for (const QString& driver : installed)
            if (driver.compare(name, Qt::CaseInsensitive) == 0)
                return driver;
    return QString();
}

} // namespace

QString chooseSqlServer(const QStringList& installed, Platform platform)
{
    QString newest;
    int newestVersion = -1;
    for (const QString& driver : installed) {
        const int version = microsoftVersion(driver);
        if (version > newestVersion) {
            newest = driver;
            newestVersion = version;
        }
    }
    if (!newest.isEmpty())
        return newest;
    // On Linux a "SQL Server" entry is whatever the machine's odbcinst.ini calls so (often
    // FreeTDS under another name); only on Windows is it the system's own driver.
    if (platform == Platform::Windows) {
        if (QString builtIn = firstOf(installed, {BuiltInSqlServer}); !builtIn.isEmpty())
            return builtIn;
    }
    return firstOf(installed, {QStringLiteral("FreeTDS")});
}

QString choosePostgreSql(const QStringList& installed)
{
    return firstOf(installed,
                   {QStringLiteral("PostgreSQL Unicode(x64)"), QStringLiteral("PostgreSQL Unicode"),
                    QStringLiteral("PostgreSQL ANSI(x64)"), QStringLiteral("PostgreSQL ANSI")});
}

QString missingDriverText(ConnectionTarget::Engine engine, Platform platform)
{
    const bool windows = platform == Platform::Windows;
    if (engine == ConnectionTarget::Engine::PostgreSql)
        return windows ? QStringLiteral("Nenhum driver ODBC para PostgreSQL está instalado. "
                                        "Instale o psqlODBC (\"PostgreSQL Unicode(x64)\"), "
                                        "disponível em postgresql.org.")
                       : QStringLiteral("Nenhum driver ODBC para PostgreSQL está instalado. "
                                        "Instale o pacote \"odbc-postgresql\" (psqlODBC).");
    return windows ? QStringLiteral("Nenhum driver ODBC para SQL Server está instalado. Instale o "
                                    "\"ODBC Driver 18 for SQL Server\" da Microsoft.")
                   : QStringLiteral("Nenhum driver ODBC para SQL Server está instalado. Instale o "
                                    "pacote \"tdsodbc\" (FreeTDS) ou o \"ODBC Driver 18 for SQL "
                                    "Server\" da Microsoft (msodbcsql18).");
}

QString driverFor(ConnectionTarget::Engine engine, const QStringList& installed,
                  const QString& override, Platform platform)
{
    if (!override.isEmpty()) {
        if (QString named = firstOf(installed, {override}); !named.isEmpty())
            return named;
        throw DatabaseError(QStringLiteral("O driver ODBC \"%1\", indicado na configuração "
                                           "\"%2\", não está instalado. Drivers instalados: %3.")
                                .arg(override, SettingsStore::DriverKey,
                                     installed.isEmpty() ? QStringLiteral("nenhum")
                                                         : installed.join(QStringLiteral(", "))));
    }
    const QString chosen = engine == ConnectionTarget::Engine::PostgreSql
                               ? choosePostgreSql(installed)
                               : chooseSqlServer(installed, platform);
    if (chosen.isEmpty())
        throw DatabaseError(missingDriverText(engine, platform));
    return chosen;
}

QString explainCertificateFailure(const QString& driverText, bool verifying)
{
    if (!driverText.contains(QLatin1String("SSL Provider"), Qt::CaseInsensitive) &&
        !driverText.contains(QLatin1String("SSL Security"), Qt::CaseInsensitive) &&
        !driverText.contains(QLatin1String("certificate"), Qt::CaseInsensitive))
        return driverText;
    const QString what = QStringLiteral(
        "O servidor SQL Server apresentou um certificado de segurança que este computador não "
        "reconhece como confiável (em geral um certificado autoassinado). Instale neste "
        "computador o certificado do servidor, ou o de quem o emitiu, entre as "
        "\"Autoridades de Certificação Raiz Confiáveis\"");
    const QString instead =
        verifying ? QStringLiteral("; ou, para conectar sem verificá-lo (a conexão continua "
                                   "criptografada), apague o valor \"%1\" das configurações.")
                        .arg(SettingsStore::VerifyCertificateKey)
                  : QStringLiteral("; ou instale o \"ODBC Driver 18 for SQL Server\" da "
                                   "Microsoft, com que a estação aceita o certificado do servidor "
                                   "e mantém a conexão criptografada.");
    return what + instead + QLatin1Char('\n') + driverText;
}

QStringList installed()
{
    SQLHENV env = static_cast<SQLHENV>(OdbcConnection::environment());
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
    return drivers;
}

} // namespace OdbcDrivers

void* OdbcConnection::environment()
{
    static SQLHENV env = [] {
        SQLHENV handle = SQL_NULL_HENV;
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &handle)))
            return SQLHENV(SQL_NULL_HENV);
        SQLSetEnvAttr(handle, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        return handle;
    }();
    if (env == SQL_NULL_HENV)
        throw DatabaseError(
            QStringLiteral("Não foi possível iniciar o gerenciador ODBC (unixODBC)."));
    return env;
}

QString OdbcConnection::sqlServerDriver()
{
    return OdbcDrivers::chooseSqlServer(OdbcDrivers::installed());
}

} // namespace qc
