#include "cli/RunSettings.h"

#include "cli/CliOptions.h"
#include "cli/Console.h"

#include <optional>

namespace qc {

QString RunSettings::value(const QString& key) const
{
    const auto it = m_overrides.constFind(key);
    return it != m_overrides.constEnd() ? *it : m_stored.value(key);
}

QString RunSettings::takeFrom(const CliOptions& options, Console& console)
{
    if (options.server)
        override(ServerKey, *options.server);
    if (options.database)
        override(DatabaseKey, *options.database);
    const bool otherUser = options.user && *options.user != m_stored.user();
    if (options.user)
        override(UserKey, *options.user);
    if (server().isEmpty())
        return QStringLiteral("nenhum servidor configurado: configure a estação ou dê --server.");
    choosePassword(otherUser, console);
    return QString();
}

// The stored password belongs to the stored user; a SQLite file needs none.
void RunSettings::choosePassword(bool otherUser, Console& console)
{
    if (console.environmentPassword) {
        override(PasswordKey, *console.environmentPassword);
        return;
    }
    if (!otherUser && !m_stored.password().isEmpty())
        return;
    std::optional<QString> answer;
    if (!server().startsWith(QLatin1String("sqlite:")) && console.askPassword)
        answer = console.askPassword(QStringLiteral("Senha de %1: ").arg(user()));
    override(PasswordKey, answer.value_or(QString()));
}

} // namespace qc
