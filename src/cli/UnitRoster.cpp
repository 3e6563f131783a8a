#include "cli/UnitRoster.h"

#include "records/Connection.h"
#include "records/Field.h"
#include "records/PhotoPanel.h"
#include "records/PhotoRecords.h"
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

qint64 UnitRoster::readPhoto(const QString& matricula,
                             const std::function<void(const QByteArray& piece)>& sink) const
{
    // The statement of "&Ver Foto", so that the file holds what the window would show.
    Recordset rs;
    rs.open(QStringLiteral("SELECT matricula, foto FROM Aca_FichaCadastralAluno WHERE "
                           "CodigoUnidade = ? and matricula = ?"),
            m_connection, {m_unit, matricula});
    for (; !rs.eof(); rs.moveNext()) {
        Field& photo = rs.fields(PhotoPanel::CampoFoto);
        const qint64 size = photo.actualSize();
        if (size == 0)
            continue;
        qint64 handed = 0;
        while (handed < size) {
            const QByteArray piece = photo.getChunk(PhotoRecords::ChunkSize);
            if (piece.isEmpty())
                break;
            sink(piece);
            handed += piece.size();
        }
        rs.close();
        return handed;
    }
    rs.close();
    return 0;
}

} // namespace qc
