#pragma once

#include <QString>

namespace qc {

// Which engine a server setting names and how that engine is reached.
struct ConnectionTarget
{
    enum class Engine
    {
        Sqlite,
        PostgreSql,
        SqlServer
    };

    Engine engine = Engine::SqlServer;
    QString sqlitePath;             // Sqlite only
    QString odbcString;             // ODBC engines: the string handed to SQLDriverConnect
    QString odbcDriver;             // ODBC engines: the driver name chosen
    bool freeTds = false;           // SqlServer through FreeTDS (needs the unlimited text size)
    bool verifyCertificate = false; // SqlServer: the server's certificate is checked
};

// The connection string the station has always built, and its translation into the
// connection each engine understands.
//
// The classic string is kept as it is ("Provider=SQLOLEDB.1;...;Data Source=server"),
// because that is what the station has always produced; but it is plain concatenation,
// so a ';' in a password makes it ambiguous. Translation therefore takes the user and
// the password from the separate arguments of the open call (they are authoritative) and
// peels them off the front of the string; only catalog and server are read from it.
// Every value written into an ODBC string is wrapped in {} with '}' doubled, so that
// ';', '=', '{' or '}' in a value can never add or change an attribute. Two drivers read
// braces their own way: psqlODBC undoes them only around the password, so there the
// password is quoted and a server, port, database or user holding one of ;={} is
// refused; FreeTDS ends a braced value at the first "};" and does not undo doubling, so
// its values go between braces unchanged and a value holding "};" is refused.
class ConnectionString
{
public:
    static QString build(const QString& user, const QString& password, const QString& database,
                         const QString& server);

    // Catalog and server of a classic string; throws DatabaseError when the text is not one.
    struct Parts
    {
        QString database;
        QString server;
    };
    static Parts parse(const QString& text, const QString& user, const QString& password);

    // The engine and its own connection. odbcDriver is the installed ODBC driver for the
    // engine the server names (OdbcDrivers): for SQL Server "" when there is none (a
    // DatabaseError then names what to install), for PostgreSQL "" stands for psqlODBC's
    // "PostgreSQL Unicode". Microsoft's drivers encrypt the connection; verifyCertificate
    // has them check the server's certificate instead of taking it as it is.
    static ConnectionTarget translate(const Parts& parts, const QString& user,
                                      const QString& password, const QString& odbcDriver,
                                      bool verifyCertificate = false);

    // The engine a server setting names: "sqlite:PATH" and "postgresql://HOST[:PORT]" in
    // any case and with blanks around them, anything else a SQL Server host.
    static ConnectionTarget::Engine engineOf(const QString& server);

    // {value} with every '}' doubled.
    static QString quoteOdbc(const QString& value);

    // The ODBC string with the PWD value replaced by "***", for logs and reports.
    static QString masked(const ConnectionTarget& target);
};

} // namespace qc
