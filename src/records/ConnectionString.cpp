#include "records/ConnectionString.h"

#include "records/DatabaseError.h"

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

ConnectionTarget ConnectionString::translate(const Parts& parts, const QString& user,
                                             const QString& password,
                                             const QString& sqlServerDriver)
{
    // Every engine is handed its connection as a C string, which ends at the first NUL:
    // a setting holding one would lose its tail, and with it the attributes after it.
    for (const QString* value :
         {&parts.server, &parts.database, &user, &password, &sqlServerDriver}) {
        if (value->contains(QChar(0)))
            throw DatabaseError(
                QStringLiteral("Configuração de conexão com caractere nulo não é aceita."));
    }

    ConnectionTarget target;
    // Blanks around a server typed or pasted into the dialog are no part of any name,
    // and would otherwise turn " sqlite:..." into a SQL Server host.
    const QString server = parts.server.trimmed();
    target.engine = engineOf(server);

    if (target.engine == ConnectionTarget::Engine::Sqlite) {
        target.sqlitePath = server.mid(kSqliteScheme.size());
        if (target.sqlitePath.isEmpty())
            throw DatabaseError(QStringLiteral("Caminho do arquivo SQLite vazio em \"sqlite:\"."));
        return target;
    }

    if (target.engine == ConnectionTarget::Engine::PostgreSql) {
        target.odbcDriver = QStringLiteral("PostgreSQL Unicode");
        QString hostPort = server.mid(kPostgresScheme.size());
        if (hostPort.endsWith(QLatin1Char('/')))
            hostPort.chop(1);
        QString host = hostPort;
        QString port = QStringLiteral("5432");
        // [v6-address]:port, or host:port with a single colon.
        static const QRegularExpression v6(QStringLiteral(R"(^\[([^\]]+)\](?::(\d+))?$)"));
        static const QRegularExpression v4(QStringLiteral(R"(^([^:]*)(?::(\d+))?$)"));
        if (auto m = v6.match(hostPort); m.hasMatch()) {
            host = m.captured(1);
            if (!m.captured(2).isEmpty())
                port = m.captured(2);
        } else if (auto m4 = v4.match(hostPort); m4.hasMatch()) {
            host = m4.captured(1);
            if (!m4.captured(2).isEmpty())
                port = m4.captured(2);
        }
        if (host.isEmpty())
            throw DatabaseError(
                QStringLiteral("Servidor PostgreSQL sem nome em \"%1\".").arg(server));
        // psqlODBC takes {} apart only around the password (and the driver name, which
        // unixODBC reads); around any other value the braces reach the server as part of
        // the name. So the password is quoted and every other value must be plain.
        target.odbcString =
            attribute(QStringLiteral("DRIVER"), target.odbcDriver) +
            plainAttribute(QStringLiteral("SERVER"), host, QStringLiteral("Servidor")) +
            plainAttribute(QStringLiteral("PORT"), port, QStringLiteral("Porta")) +
            plainAttribute(QStringLiteral("DATABASE"), parts.database, QStringLiteral("Banco")) +
            plainAttribute(QStringLiteral("UID"), user, QStringLiteral("Usuario")) +
            attribute(QStringLiteral("PWD"), password) + QStringLiteral("ByteaAsLongVarBinary=1;");
        return target;
    }

    if (sqlServerDriver.isEmpty())
        throw DatabaseError(QStringLiteral(
            "Nenhum driver ODBC para SQL Server está instalado. Instale o pacote \"tdsodbc\" "
            "(FreeTDS) ou o \"ODBC Driver 18 for SQL Server\" da Microsoft (msodbcsql18)."));
    target.odbcDriver = sqlServerDriver;
    target.freeTds = sqlServerDriver.contains(QLatin1String("FreeTDS"), Qt::CaseInsensitive);
    QString odbc = attribute(QStringLiteral("DRIVER"), sqlServerDriver);
    if (target.freeTds) {
        // FreeTDS reads HOST\INSTANCE itself, but wants a port of its own.
        const QString srv = QStringLiteral("Servidor");
        const qsizetype comma = server.lastIndexOf(QLatin1Char(','));
        if (comma >= 0) {
            odbc += freeTdsAttribute(QStringLiteral("SERVER"), server.left(comma).trimmed(), srv) +
                    freeTdsAttribute(QStringLiteral("PORT"), server.mid(comma + 1).trimmed(), srv);
        } else if (server.contains(QLatin1Char('\\'))) {
            odbc += freeTdsAttribute(QStringLiteral("SERVER"), server, srv);
        } else {
            odbc += freeTdsAttribute(QStringLiteral("SERVER"), server, srv) +
                    attribute(QStringLiteral("PORT"), QStringLiteral("1433"));
        }
        odbc +=
            freeTdsAttribute(QStringLiteral("DATABASE"), parts.database, QStringLiteral("Banco")) +
            freeTdsAttribute(QStringLiteral("UID"), user, QStringLiteral("Usuario")) +
            freeTdsAttribute(QStringLiteral("PWD"), password, QStringLiteral("Senha")) +
            attribute(QStringLiteral("TDS_Version"), QStringLiteral("7.4")) +
            attribute(QStringLiteral("ClientCharset"), QStringLiteral("UTF-8"));
    } else {
        // Microsoft's driver takes HOST, HOST\INSTANCE and HOST,PORT as they are.
        odbc += attribute(QStringLiteral("SERVER"), server) +
                attribute(QStringLiteral("DATABASE"), parts.database) +
                attribute(QStringLiteral("UID"), user) +
                attribute(QStringLiteral("PWD"), password) +
                attribute(QStringLiteral("TrustServerCertificate"), QStringLiteral("yes"));
    }
    target.odbcString = odbc;
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
