#include "records/Recordset.h"

#include "records/Connection.h"
#include "records/DatabaseError.h"
#include "records/ProviderConnection.h"

namespace qc {

Recordset::Recordset() = default;
Recordset::~Recordset() = default;

void Recordset::setUpdateTarget(const QString& table, const QStringList& keyColumns)
{
    ProviderConnection::checkIdentifier(table);
    for (const QString& key : keyColumns)
        ProviderConnection::checkIdentifier(key);
    m_updateTable = table;
    m_keyColumns = keyColumns;
}

void Recordset::open(const QString& statement, const std::shared_ptr<Connection>& connection,
                     const QVariantList& params, int cursorType, int lockType, int /*options*/)
{
    if (m_open)
        throw DatabaseError(QStringLiteral("O recordset já está aberto."));
    if (!connection)
        throw DatabaseError(QStringLiteral("A conexão com o banco de dados não está aberta."));
    if (cursorType >= 0)
        m_cursorType = cursorType;
    if (lockType >= 0)
        m_lockType = lockType;
    ResultTable table = connection->provider().query(statement, params);
    m_connection = connection;
    m_columns = table.columns;
    m_rows = std::move(table.rows);
    m_fields.clear();
    for (int i = 0; i < m_columns.size(); ++i)
        m_fields.push_back(std::make_unique<Field>(*this, i, m_columns.at(i)));
    m_position = 0;
    m_open = true;
}

void Recordset::close()
{
    checkOpen();
    m_open = false;
    m_fields.clear();
    m_rows.clear();
    m_columns.clear();
    m_connection.reset();
}

void Recordset::checkOpen() const
{
    if (!m_open)
        throw DatabaseError(QStringLiteral("Operação não permitida com o recordset fechado."));
}

bool Recordset::eof() const
{
    checkOpen();
    return m_position >= m_rows.size();
}

void Recordset::moveFirst()
{
    checkOpen();
    m_position = 0;
    positionChanged();
}

void Recordset::moveNext()
{
    checkOpen();
    if (m_position >= m_rows.size())
        throw DatabaseError(QStringLiteral("Não há registro atual (fim do recordset)."));
    ++m_position;
    positionChanged();
}

int Recordset::recordCount() const
{
    checkOpen();
    return int(m_rows.size());
}

void Recordset::positionChanged()
{
    for (const auto& field : m_fields)
        field->resetForRow();
}

Field& Recordset::fields(const QString& name)
{
    checkOpen();
    for (const auto& field : m_fields)
        if (field->name().compare(name, Qt::CaseInsensitive) == 0)
            return *field;
    throw DatabaseError(QStringLiteral("Campo não encontrado: \"%1\"").arg(name));
}

int Recordset::fieldCount() const
{
    checkOpen();
    return int(m_fields.size());
}

const QVariant& Recordset::current(int column) const
{
    checkOpen();
    if (m_position >= m_rows.size())
        throw DatabaseError(QStringLiteral("Não há registro atual (fim do recordset)."));
    return m_rows.at(m_position).at(column);
}

void Recordset::update()
{
    checkOpen();
    QVector<ColumnValue> sets;
    for (auto& field : m_fields)
        if (field->m_pending)
            sets.append({field->name(), field->m_pendingValue});
    if (sets.isEmpty())
        return;
    if (m_updateTable.isEmpty())
        throw DatabaseError(QStringLiteral("Recordset sem tabela de atualização definida."));
    QVector<ColumnValue> keys;
    for (const QString& key : m_keyColumns)
        keys.append({key, current(fields(key).m_index)});
    const qint64 changed = m_connection->provider().updateFirstRow(m_updateTable, sets, keys);
    if (changed < 1)
        throw DatabaseError(QStringLiteral("O registro a atualizar não foi encontrado."));
    QVector<QVariant>& row = m_rows[m_position];
    for (auto& field : m_fields) {
        if (field->m_pending) {
            row[field->m_index] = field->m_pendingValue;
            field->resetForRow();
        }
    }
}

} // namespace qc
