#include "records/ProviderConnection.h"

#include "records/DatabaseError.h"

#include <QRegularExpression>

namespace qc {

void ProviderConnection::checkIdentifier(const QString& name)
{
    // Table and column names are the program's own constants; anything else would end up
    // as SQL text, so it is refused.
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    if (!plain.match(name).hasMatch())
        throw DatabaseError(QStringLiteral("Nome de tabela ou coluna inválido: \"%1\"").arg(name));
}

} // namespace qc
