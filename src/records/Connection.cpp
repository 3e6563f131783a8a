#include "records/Connection.h"

#include "core/Error.h"
#include "core/Logging.h"
#include "records/DatabaseError.h"
#include "records/DatabaseWaits.h"
#include "records/OdbcConnection.h"
#include "records/SqliteConnection.h"

namespace qc {

Connection::Connection() = default;
Connection::~Connection() = default;

void Connection::open(const QString& connectionString, const QString& user, const QString& password,
                      int /*options*/)
{
    close();
    const DatabaseWaits::Scope connecting;
    const ConnectionString::Parts parts = ConnectionString::parse(connectionString, user, password);
    // The classic string holds the password in clear: only the server, the database and
    // the user go into a message, or the translated string with its PWD masked.
    try {
        const ConnectionTarget::Engine engine = ConnectionString::engineOf(parts.server);
        const QString driver =
            engine == ConnectionTarget::Engine::Sqlite
                ? QString()
                : OdbcDrivers::driverFor(engine, OdbcDrivers::installed(), m_overrides.driver);
        const ConnectionTarget target = ConnectionString::translate(parts, user, password, driver,
                                                                    m_overrides.verifyCertificate);
        qCDebug(lcRecords, "connecting: %s", qUtf8Printable(ConnectionString::masked(target)));
        if (target.engine == ConnectionTarget::Engine::Sqlite)
            m_provider =
                DatabaseWaits::counted(std::make_unique<SqliteConnection>(target.sqlitePath));
        else
            m_provider = DatabaseWaits::counted(std::make_unique<OdbcConnection>(target));
        m_engine = target.engine;
    } catch (const Error& error) {
        qCWarning(lcRecords, "cannot connect to server \"%s\", database \"%s\", user \"%s\": %s",
                  qUtf8Printable(parts.server), qUtf8Printable(parts.database),
                  qUtf8Printable(user), qUtf8Printable(error.description()));
        throw;
    }
}

void Connection::openSqlite(const QString& path, bool create)
{
    close();
    const DatabaseWaits::Scope connecting;
    m_provider = DatabaseWaits::counted(std::make_unique<SqliteConnection>(path, create));
    m_engine = ConnectionTarget::Engine::Sqlite;
}

void Connection::close()
{
    m_provider.reset();
}

QString Connection::maskedTarget() const
{
    return m_provider ? m_provider->maskedTarget() : QString();
}

ProviderConnection& Connection::provider() const
{
    if (!m_provider)
        throw DatabaseError(QStringLiteral("A conexão com o banco de dados não está aberta."),
                            QString(), true);
    return *m_provider;
}

qint64 Connection::execute(const QString& sql, const QVariantList& params)
{
    return provider().execute(sql, params);
}

void Connection::beginTransaction()
{
    provider().begin();
}

void Connection::commitTransaction()
{
    provider().commit();
}

void Connection::rollbackTransaction()
{
    provider().rollback();
}

bool Connection::inTransaction() const
{
    return m_provider && m_provider->inTransaction();
}

} // namespace qc
