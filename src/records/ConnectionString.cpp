#include "records/ConnectionString.h"

#include "records/DatabaseError.h"
#include "records/OdbcDrivers.h"

#include <QRegularExpression>

namespace qc {

namespace {

const QString kPrefix = QStringLiteral("Provider=SQLOLEDB.1;Persist Security Info=False;User ID=");
const QString kPassword = QStringLiteral(";Password=");
const QString kCatalog = QStringLiteral(";Initial Catalog=");
const QString kSource = QStringLiteral(";Data Source=");
const QString kSqliteScheme = QStringLiteral("sqlite:");
const QString kPostgresScheme = QStringLiteral("postgresql://");

QString attribute(const QString& key, const QString& value)
{
    return key + QLatin1Char('=') + ConnectionString::quoteOdbc(value) + QLatin1Char(';');
}

// A value written without quotes: refused when it holds a character that would end it or
// start another attribute.
QString plainAttribute(const QString& key, const QString& value, const QString& label)
{
    static const QRegularExpression special(QStringLiteral("[;={}]"));
    if (value.contains(special))
        throw DatabaseError(QStringLiteral("%1 \"%2\": o driver PostgreSQL não aceita ; = { } "
                                           "neste valor.")
                                .arg(label, value));
    return key + QLatin1Char('=') + value + QLatin1Char(';');
}

// FreeTDS ends a value in braces at the first '}' that a ';' (or the end) follows, and
// keeps doubled braces doubled: so a value goes between braces as it is, and one that
// holds "};" cannot be given to it at all.
QString freeTdsAttribute(const QString& key, const QString& value, const QString& label)
{
    if (value.contains(QLatin1String("};")))
        throw DatabaseError(
            QStringLiteral("%1: o driver FreeTDS não aceita \"};\" neste valor.").arg(label));
    return key + QStringLiteral("={") + value + QStringLiteral("};");
}

} // namespace

QString ConnectionString::build(const QString& user, const QString& password,
                                const QString& database, const QString& server)
{
    return kPrefix + user + kPassword + password + kCatalog + database + kSource + server;
}

ConnectionString::Parts ConnectionString::parse(const QString& text, const QString& user,
                                                const QString& password)
{
    const QString head = kPrefix + user + kPassword + password + kCatalog;
    if (!text.startsWith(head))
        throw DatabaseError(
            QStringLiteral("Texto de conexão não reconhecido (usuário ou senha diferentes dos "
                           "informados na abertura)."));
    const QString rest = text.mid(head.size());
    // A catalog name holding ";Data Source=" is not a thing; a server name holding it is
    // even less likely, so the first occurrence separates the two.
    const qsizetype at = rest.indexOf(kSource);
    if (at < 0)
        throw DatabaseError(QStringLiteral("Texto de conexão sem \"Data Source\"."));
    return Parts{rest.left(at), rest.mid(at + kSource.size())};
}

ConnectionTarget::Engine ConnectionString::engineOf(const QString& server)
{
    const QString text = server.trimmed();
    if (text.startsWith(kSqliteScheme, Qt::CaseInsensitive))
        return ConnectionTarget::Engine::Sqlite;
    if (text.startsWith(kPostgresScheme, Qt::CaseInsensitive))
        return ConnectionTarget::Engine::PostgreSql;
    return ConnectionTarget::Engine::SqlServer;
}

QString ConnectionString::quoteOdbc(const QString& value)
{
    QString quoted = value;
    quoted.replace(QLatin1Char('}'), QStringLiteral("}}"));
    return QLatin1Char('{') + quoted + QLatin1Char('}');
}

namespace {

// The login of the connection: user and password, and the catalog.
struct Login
{
    const QString& database;
    const QString& user;
    const QString& password;
};

// HOST, [V6-ADDRESS] or either with :PORT, after "postgresql://" (a trailing '/' allowed).
std::pair<QString, QString> postgresHostPort(QString hostPort)
{
    if (hostPort.endsWith(QLatin1Char('/')))
        hostPort.chop(1);
    QString host = hostPort;
    QString port = QStringLiteral("5432");
    // [v6-address]:port, or host:port with a single colon.
    static const QRegularExpression v6(QStringLiteral(R"(^\[([^\]]+)\](?::(\d+))?$)"));
    static const QRegularExpression v4(QStringLiteral(R"(^([^:]*)(?::(\d+))?$)"));
    QRegularExpressionMatch m = v6.match(hostPort);
    if (!m.hasMatch())
        m = v4.match(hostPort);
    if (m.hasMatch()) {
        host = m.captured(1);
        if (!m.captured(2).isEmpty())
            port = m.captured(2);
    }
    return {host, port};
}

QString postgresString(const QString& server, const QString& driver, const Login& login)
{
    const auto [host, port] = postgresHostPort(server.mid(kPostgresScheme.size()));
    if (host.isEmpty())
        throw DatabaseError(QStringLiteral("Servidor PostgreSQL sem nome em \"%1\".").arg(server));
    // psqlODBC takes {} apart only around the password (and the driver name, which
    // unixODBC reads); around any other value the braces reach the server as part of
    // the name. So the password is quoted and every other value must be plain.
    return attribute(QStringLiteral("DRIVER"), driver) +
           plainAttribute(QStringLiteral("SERVER"), host, QStringLiteral("Servidor")) +
           plainAttribute(QStringLiteral("PORT"), port, QStringLiteral("Porta")) +
           plainAttribute(QStringLiteral("DATABASE"), login.database, QStringLiteral("Banco")) +
           plainAttribute(QStringLiteral("UID"), login.user, QStringLiteral("Usuario")) +
           attribute(QStringLiteral("PWD"), login.password) +
           QStringLiteral("ByteaAsLongVarBinary=1;");
}

QString freeTdsString(const QString& server, const Login& login)
{
    // FreeTDS reads HOST\INSTANCE itself, but wants a port of its own.
    const QString srv = QStringLiteral("Servidor");
    QString odbc;
    const qsizetype comma = server.lastIndexOf(QLatin1Char(','));
    if (comma >= 0) {
        odbc = freeTdsAttribute(QStringLiteral("SERVER"), server.left(comma).trimmed(), srv) +
               freeTdsAttribute(QStringLiteral("PORT"), server.mid(comma + 1).trimmed(), srv);
    } else if (server.contains(QLatin1Char('\\'))) {
        odbc = freeTdsAttribute(QStringLiteral("SERVER"), server, srv);
    } else {
        odbc = freeTdsAttribute(QStringLiteral("SERVER"), server, srv) +
               attribute(QStringLiteral("PORT"), QStringLiteral("1433"));
    }
    return odbc +
           freeTdsAttribute(QStringLiteral("DATABASE"), login.database, QStringLiteral("Banco")) +
           freeTdsAttribute(QStringLiteral("UID"), login.user, QStringLiteral("Usuario")) +
           freeTdsAttribute(QStringLiteral("PWD"), login.password, QStringLiteral("Senha")) +
           attribute(QStringLiteral("TDS_Version"), QStringLiteral("7.4")) +
           attribute(QStringLiteral("ClientCharset"), QStringLiteral("UTF-8"));
}

void sqlServerTarget(ConnectionTarget& target, const QString& server, const QString& driver,
                     const Login& login)
{
    if (driver.isEmpty())
        throw DatabaseError(OdbcDrivers::missingDriverText(ConnectionTarget::Engine::SqlServer));
    target.odbcDriver = driver;
    target.freeTds = driver.contains(QLatin1String("FreeTDS"), Qt::CaseInsensitive);
    if (target.freeTds) {
        target.odbcString =
            attribute(QStringLiteral("DRIVER"), driver) + freeTdsString(server, login);
        return;
    }
    // Microsoft's drivers take HOST, HOST\INSTANCE and HOST,PORT as they are.
    target.odbcString = attribute(QStringLiteral("DRIVER"), driver) +
                        attribute(QStringLiteral("SERVER"), server) +
                        attribute(QStringLiteral("DATABASE"), login.database) +
                        attribute(QStringLiteral("UID"), login.user) +
                        attribute(QStringLiteral("PWD"), login.password);
    // Windows' own driver is left to its defaults: it is no longer developed, knows no
    // TrustServerCertificate on older Windows, and encrypts when the server demands it. The others
    // always encrypt (Driver 18 does unless told otherwise); a school's server has a self-signed
    // certificate, which is taken as it is unless the operator asked for it to be verified.
    if (driver.compare(OdbcDrivers::BuiltInSqlServer, Qt::CaseInsensitive) != 0)
        target.odbcString +=
            attribute(QStringLiteral("Encrypt"), QStringLiteral("yes")) +
            attribute(QStringLiteral("TrustServerCertificate"),
                      target.verifyCertificate ? QStringLiteral("no") : QStringLiteral("yes"));
}

} // namespace

ConnectionTarget ConnectionString::translate(const Parts& parts, const QString& user,
                                             const QString& password, const QString& odbcDriver,
                                             bool verifyCertificate)
{
    // Every engine is handed its connection as a C string, which ends at the first NUL:
    // a setting holding one would lose its tail, and with it the attributes after it.
    for (const QString* value : {&parts.server, &parts.database, &user, &password, &odbcDriver}) {
        if (value->contains(QChar(0)))
            throw DatabaseError(
                QStringLiteral("Configuração de conexão com caractere nulo não é aceita."));
    }

    ConnectionTarget target;
    target.verifyCertificate = verifyCertificate;
    // Blanks around a server typed or pasted into the dialog are no part of any name,
    // and would otherwise turn " sqlite:..." into a SQL Server host.
    const QString server = parts.server.trimmed();
    target.engine = engineOf(server);
    const Login login{parts.database, user, password};
    switch (target.engine) {
    case ConnectionTarget::Engine::Sqlite:
        target.sqlitePath = server.mid(kSqliteScheme.size());
        if (target.sqlitePath.isEmpty())
            throw DatabaseError(QStringLiteral("Caminho do arquivo SQLite vazio em \"sqlite:\"."));
        break;
    case ConnectionTarget::Engine::PostgreSql:
        target.odbcDriver =
            odbcDriver.isEmpty() ? QStringLiteral("PostgreSQL Unicode") : odbcDriver;
        target.odbcString = postgresString(server, target.odbcDriver, login);
        break;
    case ConnectionTarget::Engine::SqlServer:
        sqlServerTarget(target, server, odbcDriver, login);
        break;
    }
    return target;
}

QString ConnectionString::masked(const ConnectionTarget& target)
{
    if (target.engine == ConnectionTarget::Engine::Sqlite)
        return QStringLiteral("sqlite:") + target.sqlitePath;
    QString text = target.odbcString;
    // Doubled braces in the standard form; FreeTDS's value ends at the first "};".
    static const QRegularExpression pwd(QStringLiteral(R"(PWD=\{(?:[^}]|\}\})*\};)"));
    static const QRegularExpression freeTdsPwd(QStringLiteral(R"(PWD=\{.*?\};)"));
    text.replace(target.freeTds ? freeTdsPwd : pwd, QStringLiteral("PWD=***;"));
    return text;
}

} // namespace qc
