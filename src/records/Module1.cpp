#include "records/Module1.h"

#include "core/Desktop.h"
#include "core/Error.h"
#include "core/SettingsStore.h"
#include "records/Connection.h"
#include "records/ConnectionString.h"
#include "records/DatabaseError.h"

namespace qc {

Module1::Module1(Desktop& desktop, SettingsStore& settings)
    : m_desktop(desktop), m_settings(settings)
{}

Module1::~Module1() = default;

bool Module1::AbrirConexao()
{
    try {
        m_desktop.setWaitCursor(true);
        const QString srv = m_settings.value(QStringLiteral("srv"));
        const QString db = m_settings.value(QStringLiteral("db"));
        const QString us = m_settings.value(QStringLiteral("us"));
        const QString pw = m_settings.value(QStringLiteral("pw"));
        if (!srv.isEmpty()) {
            // The new object replaces the old one before the open, so a failed open leaves
            // a closed connection behind, as the station always did.
            m_cnBanco = std::make_shared<Connection>();
            m_cnBanco->setCursorLocation(Connection::UseClient);
            m_cnBanco->setOdbcOverrides(OdbcOverrides::from(m_settings));
            m_cnBanco->open(ConnectionString::build(us, pw, db, srv), us, pw, -1);
            m_desktop.setWaitCursor(false);
            return true;
        }
        m_desktop.setWaitCursor(false);
        if (m_showSettingsDialog)
            m_showSettingsDialog();
        return false;
    } catch (const Error& error) {
        m_desktop.setWaitCursor(false);
        m_desktop.messageBox(QStringLiteral("Erro ao conectar ao Banco de Dados. Erro:") +
                                 error.description(),
                             QString(), Desktop::Icon::Critical);
        return false;
    }
}

std::shared_ptr<Connection> Module1::reconnect()
{
    const QString srv = m_settings.value(QStringLiteral("srv"));
    const QString db = m_settings.value(QStringLiteral("db"));
    const QString us = m_settings.value(QStringLiteral("us"));
    const QString pw = m_settings.value(QStringLiteral("pw"));
    if (srv.isEmpty())
        throw DatabaseError(QStringLiteral("A conexão com o banco de dados não está aberta."),
                            QString(), true);
    auto connection = std::make_shared<Connection>();
    connection->setCursorLocation(Connection::UseClient);
    connection->setOdbcOverrides(OdbcOverrides::from(m_settings));
    connection->open(ConnectionString::build(us, pw, db, srv), us, pw, -1);
    m_cnBanco = connection;
    return connection;
}

} // namespace qc
