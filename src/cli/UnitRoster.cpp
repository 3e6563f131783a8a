#include "cli/UnitRoster.h"

#include "records/Connection.h"
#include "records/Field.h"
#include "records/ProviderConnection.h"
#include "records/Recordset.h"

namespace qc {

namespace {

qint64 single(const std::shared_ptr<Connection>& cn, const QString& sql, const QVariantList& params)
{
    Recordset rs;
    rs.open(sql, cn, params);
    const qint64 value = rs.eof() ? 0 : rs.fields(QStringLiteral("n")).value().toLongLong();
    rs.close();
    return value;
}

} // namespace

UnitRoster::UnitRoster(std::shared_ptr<Connection> connection, const QString& unit)
    : m_connection(std::move(connection)), m_unit(unit)
{}

// The engines name the size of a binary value differently; the size is read from the
// value's header, the photo itself is not fetched.
QString UnitRoster::photoSize() const
{
    switch (m_connection->engine()) {
    case ConnectionTarget::Engine::Sqlite:
        return QStringLiteral("length(foto)");
    case ConnectionTarget::Engine::PostgreSql:
        return QStringLiteral("octet_length(foto)");
    case ConnectionTarget::Engine::SqlServer:
        break;
    }
    return QStringLiteral("DATALENGTH(foto)");
}

// One page of the unit's enrolment numbers after the last one seen. Grouped, so that the
// rows of one number never fall on two pages.
QString UnitRoster::page(bool onlyWithPhoto, bool after) const
{
    const bool sqlServer = m_connection->engine() == ConnectionTarget::Engine::SqlServer;
    const QString hasPhoto =
        QStringLiteral("MAX(CASE WHEN foto IS NULL THEN 0 WHEN %1 = 0 THEN 0 ELSE 1 END)")
            .arg(photoSize());
    QString sql = QStringLiteral("SELECT ");
    if (sqlServer)
        sql += QStringLiteral("TOP (%1) ").arg(PageSize);
    sql += QStringLiteral("matricula, ") + hasPhoto +
           QStringLiteral(" AS comfoto FROM Aca_FichaCadastralAluno WHERE codigounidade = ? AND "
                          "matricula IS NOT NULL");
    if (after)
        sql += QStringLiteral(" AND matricula > ?");
    sql += QStringLiteral(" GROUP BY matricula");
    if (onlyWithPhoto)
        sql += QStringLiteral(" HAVING ") + hasPhoto + QStringLiteral(" = 1");
    sql += QStringLiteral(" ORDER BY matricula");
    if (!sqlServer)
        sql += QStringLiteral(" LIMIT %1").arg(PageSize);
    return sql;
}

bool UnitRoster::unitExists() const
{
    return single(m_connection,
                  QStringLiteral("SELECT COUNT(*) AS n FROM bas_unidades WHERE codigounidade = ?"),
                  {m_unit}) > 0;
}

qint64 UnitRoster::countWithPhoto() const
{
    return single(m_connection,
                  QStringLiteral("SELECT COUNT(*) AS n FROM (SELECT matricula FROM "
                                 "Aca_FichaCadastralAluno WHERE codigounidade = ? AND matricula "
                                 "IS NOT NULL AND foto IS NOT NULL AND %1 > 0 GROUP BY matricula) "
                                 "AS alunos")
                      .arg(photoSize()),
                  {m_unit});
}

bool UnitRoster::hasStudent(const QString& matricula) const
{
    return single(m_connection,
                  QStringLiteral("SELECT COUNT(*) AS n FROM Aca_FichaCadastralAluno WHERE "
                                 "codigounidade = ? and matricula = ?"),
                  {m_unit, matricula}) > 0;
}

void UnitRoster::forEachStudent(
    bool onlyWithPhoto,
    const std::function<void(const QString& matricula, bool hasPhoto)>& visit) const
{
    QString last;
    bool after = false;
    for (;;) {
        // The page is copied out and its recordset closed before visit runs its own
        // statements (FreeTDS allows one active result per connection).
        QStringList numbers;
        QList<bool> photos;
        {
            Recordset rs;
            rs.open(page(onlyWithPhoto, after), m_connection,
                    after ? QVariantList{m_unit, last} : QVariantList{m_unit});
            for (; !rs.eof(); rs.moveNext()) {
                numbers.append(rs.fields(QStringLiteral("matricula")).value().toString());
                photos.append(rs.fields(QStringLiteral("comfoto")).value().toLongLong() != 0);
            }
            rs.close();
        }
        for (qsizetype i = 0; i < numbers.size(); ++i)
            visit(numbers.at(i), photos.at(i));
        if (numbers.size() < PageSize)
            return;
        last = numbers.constLast();
        after = true;
    }
}

QByteArray UnitRoster::readPhoto(const QString& matricula) const
{
    // "&Ver Foto"'s statement, kept to the rows that have a photo: of several rows of one
    // number the unit walk counts the student as having a photo when any row has one.
    const QString statement =
        QStringLiteral("SELECT matricula, foto FROM Aca_FichaCadastralAluno WHERE "
                       "CodigoUnidade = ? and matricula = ? and foto IS NOT NULL and %1 > 0")
            .arg(photoSize());
    ResultTable table = m_connection->provider().query(statement, {m_unit, matricula}, 1);
    if (table.rows.isEmpty())
        return QByteArray();
    QVariant& value = table.rows.first()[1];
    if (ProviderConnection::isNull(value))
        return QByteArray();
    // Taken over, not copied: the row lets go of the bytes with the table.
    return value.typeId() == QMetaType::QByteArray
               ? std::move(*static_cast<QByteArray*>(value.data()))
               : value.toString().toUtf8();
}

} // namespace qc
