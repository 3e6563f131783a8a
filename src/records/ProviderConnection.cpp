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

QString ProviderConnection::whereClause(const QVector<ColumnValue>& keys, QVariantList& values)
{
    QString where;
    for (const ColumnValue& key : keys) {
        checkIdentifier(key.column);
        where += where.isEmpty() ? QStringLiteral(" WHERE ") : QStringLiteral(" AND ");
        if (isNull(key.value)) {
            where += key.column + QStringLiteral(" IS NULL");
        } else {
            where += key.column + QStringLiteral(" = ?");
            values.append(key.value);
        }
    }
    return where;
}

QString ProviderConnection::setClause(const QVector<ColumnValue>& sets, QVariantList& values,
                                      const Placeholder& placeholder)
{
    QString assignments;
    for (const ColumnValue& set : sets) {
        checkIdentifier(set.column);
        if (!assignments.isEmpty())
            assignments += QStringLiteral(", ");
        if (isNull(set.value)) {
            assignments += set.column + QStringLiteral(" = NULL");
        } else if (placeholder) {
            assignments += set.column + QStringLiteral(" = ") + placeholder(set.value, values);
        } else {
            assignments += set.column + QStringLiteral(" = ?");
            values.append(set.value);
        }
    }
    return assignments;
}

} // namespace qc
