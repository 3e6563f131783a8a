#include "records/PhotoRepository.h"

#include "core/Error.h"
#include "records/Connection.h"
#include "records/DatabaseError.h"
#include "records/Module1.h"
#include "records/ProviderConnection.h"

namespace qc {

QString PhotoRepository::unitListStatement()
{
    return QStringLiteral(
        "select codigounidade, RazaoSocial from bas_unidades order by codigounidade");
}

namespace {

// What differs between the engines in the statements below, decided here only.
struct Dialect
{
    ConnectionTarget::Engine engine;

    bool sqlServer() const { return engine == ConnectionTarget::Engine::SqlServer; }
    // Put after SELECT: SQL Server caps the rows there, the others at the end.
    QString top(int rows) const
    {
        return sqlServer() ? QStringLiteral("TOP (%1) ").arg(rows) : QString();
    }
    QString limit(int rows) const
    {
        return sqlServer() ? QString() : QStringLiteral(" LIMIT %1").arg(rows);
    }
    // The size of a binary value, read from its header: the value itself is not fetched.
    QString size(const QString& column) const
    {
        switch (engine) {
        case ConnectionTarget::Engine::Sqlite:
            return QStringLiteral("length(%1)").arg(column);
        case ConnectionTarget::Engine::PostgreSql:
            return QStringLiteral("octet_length(%1)").arg(column);
        case ConnectionTarget::Engine::SqlServer:
            break;
        }
        return QStringLiteral("DATALENGTH(%1)").arg(column);
    }
    // A column name that might be a reserved word in one of the engines.
    QString quoted(const QString& column) const
    {
        ProviderConnection::checkIdentifier(column);
        return sqlServer() ? QLatin1Char('[') + column + QLatin1Char(']')
                           : QLatin1Char('"') + column + QLatin1Char('"');
    }
    QString hasPhoto() const
    {
        return QStringLiteral("MAX(CASE WHEN foto IS NULL THEN 0 WHEN %1 = 0 THEN 0 ELSE 1 END)")
            .arg(size(QStringLiteral("foto")));
    }
};

// The bytes of a value read from a row, taken over rather than copied: the row lets go of
// them with its table.
QByteArray takeBytes(QVariant& value)
{
    if (ProviderConnection::isNull(value))
        return QByteArray();
    return value.typeId() == QMetaType::QByteArray
               ? std::move(*static_cast<QByteArray*>(value.data()))
               : value.toString().toUtf8();
}

// A failure that another run of the same statement can get past on the same connection.
bool passing(const DatabaseError& error)
{
    const DatabaseError::Kind kind = error.kind();
    return kind == DatabaseError::Kind::Transient ||
           kind == DatabaseError::Kind::AbortedTransaction;
}

} // namespace

PhotoRepository::PhotoRepository(Module1& module) : m_module(module) {}

template <typename Work> auto PhotoRepository::onConnection(Work&& work)
{
    std::shared_ptr<Connection> cn = m_module.cnBanco();
    for (int attempt = 0;; ++attempt) {
        try {
            if (!cn)
                throw DatabaseError(
                    QStringLiteral("A conexão com o banco de dados não está aberta."), QString(),
                    true);
            return work(*cn);
        } catch (const DatabaseError& error) {
            if (attempt > 0)
                throw;
            if (passing(error)) {
                // An aborted transaction refuses everything until it ends.
                if (error.kind() == DatabaseError::Kind::AbortedTransaction && cn->inTransaction())
                    cn->rollbackTransaction();
                continue;
            }
            if (error.kind() != DatabaseError::Kind::ConnectionLost)
                throw;
            try {
                cn = m_module.reconnect();
            } catch (const DatabaseError& reopen) {
                if (reopen.connectionLost()) // no server stored: nothing to reopen
                    throw error;
                throw DatabaseError(error.description() + QLatin1Char('\n') + reopen.description(),
                                    reopen.sqlState(), true);
            }
        }
    }
}

PhotoRepository::Outcome
PhotoRepository::writeField(const QString& Tabela, const QString& CampoFoto, const QString& Filtro,
                            const QVariantList& FiltroValores, const QByteArray& bytes)
{
    ProviderConnection::checkIdentifier(Tabela);
    ProviderConnection::checkIdentifier(CampoFoto);
    // The row is named by its key fields and the photo written once: no hidden row
    // address (a table may have its own "rowid", or none), no read of the old photo, no
    // empty value written first for a trigger to see.
    // One statement, so it is whole or not at all without a transaction of its own (one
    // round trip to a server): it changes the row only when the key names exactly one.
    const QString statement = QStringLiteral("UPDATE ") + Tabela + QStringLiteral(" SET ") +
                              CampoFoto + QStringLiteral(" = ? WHERE (") + Filtro +
                              QStringLiteral(") AND (SELECT COUNT(*) FROM ") + Tabela +
                              QStringLiteral(" WHERE ") + Filtro + QStringLiteral(") = 1");
    const QString countRows =
        QStringLiteral("SELECT COUNT(*) FROM ") + Tabela + QStringLiteral(" WHERE ") + Filtro;
    QVariantList values;
    values.reserve(2 * FiltroValores.size() + 1);
    values.append(bytes);
    values.append(FiltroValores);
    values.append(FiltroValores);
    if (m_probe)
        m_probe->opened(statement);
    return onConnection([&](Connection& cn) {
        for (int attempt = 0;; ++attempt) {
            if (cn.execute(statement, values) == 1)
                return Outcome::Done;
            // Nothing changed: no row, or several that the key cannot tell apart.
            const ResultTable table = cn.provider().query(countRows, FiltroValores);
            const qint64 rows = table.rows.isEmpty() ? 0 : table.rows.first().first().toLongLong();
            if (rows == 0)
                return Outcome::NotFound;
            if (rows > 1)
                throw Error(QStringLiteral("Há %1 registros para esta unidade e matrícula; "
                                           "nenhuma foto foi alterada.")
                                .arg(rows));
            // One row now: another station changed it while this store ran.
            if (attempt > 0)
                throw Error(QStringLiteral("O registro do aluno mudou durante a gravação em "
                                           "outra estação; a foto não foi gravada."));
        }
    });
}

PhotoRepository::Outcome PhotoRepository::readField(const QString& Tabela, const QString& CampoFoto,
                                                    const QString& CampoChave,
                                                    const QString& ValorChave,
                                                    const QString& Unidade, QByteArray& bytes)
{
    bytes.clear();
    ProviderConnection::checkIdentifier(Tabela);
    ProviderConnection::checkIdentifier(CampoFoto);
    ProviderConnection::checkIdentifier(CampoChave);
    QString statement = QStringLiteral("SELECT ") + CampoChave + QStringLiteral(", ") + CampoFoto +
                        QStringLiteral(" FROM ") + Tabela;
    QVariantList params;
    if (!Unidade.isEmpty()) {
        statement +=
            QStringLiteral(" WHERE CodigoUnidade = ? and ") + CampoChave + QStringLiteral(" = ?");
        params = {Unidade, ValorChave};
    } else {
        statement += QStringLiteral(" WHERE ") + CampoChave + QStringLiteral(" = ?");
        params = {ValorChave};
    }
    ResultTable table =
        onConnection([&](Connection& cn) { return cn.provider().query(statement, params, 1); });
    if (m_probe)
        m_probe->opened(statement);
    if (table.rows.isEmpty())
        return Outcome::NotFound;
    bytes = takeBytes(table.rows.first()[1]);
    return bytes.isEmpty() ? Outcome::NoPhoto : Outcome::Done;
}

PhotoRepository::Outcome PhotoRepository::storePhoto(const QString& unit, const QString& enrolment,
                                                     const QByteArray& bytes)
{
    return writeField(QStringLiteral("Aca_FichaCadastralAluno"), QStringLiteral("foto"),
                      QStringLiteral("codigounidade = ? and matricula = ?"), {unit, enrolment},
                      bytes);
}

PhotoRepository::Outcome PhotoRepository::readPhoto(const QString& unit, const QString& enrolment,
                                                    QByteArray& bytes)
{
    return readField(QStringLiteral("Aca_FichaCadastralAluno"), QStringLiteral("foto"),
                     QStringLiteral("matricula"), enrolment, unit, bytes);
}

QByteArray PhotoRepository::readFirstPhoto(const QString& unit, const QString& enrolment)
{
    // "&Ver Foto"'s statement, kept to the rows that have a photo: of several rows of one
    // number a unit walk counts the student as having a photo when any row has one.
    ResultTable table = onConnection([&](Connection& cn) {
        const QString statement =
            QStringLiteral("SELECT matricula, foto FROM Aca_FichaCadastralAluno WHERE "
                           "CodigoUnidade = ? and matricula = ? and foto IS NOT NULL and %1 > 0")
                .arg(Dialect{cn.engine()}.size(QStringLiteral("foto")));
        return cn.provider().query(statement, {unit, enrolment}, 1);
    });
    return table.rows.isEmpty() ? QByteArray() : takeBytes(table.rows.first()[1]);
}

qint64 PhotoRepository::count(const QString& statement, const QVariantList& params)
{
    const ResultTable table =
        onConnection([&](Connection& cn) { return cn.provider().query(statement, params, 1); });
    return table.rows.isEmpty() ? 0 : table.rows.first().first().toLongLong();
}

bool PhotoRepository::unitExists(const QString& unit)
{
    return count(QStringLiteral("SELECT COUNT(*) AS n FROM bas_unidades WHERE codigounidade = ?"),
                 {unit}) > 0;
}

bool PhotoRepository::hasStudent(const QString& unit, const QString& enrolment)
{
    return count(QStringLiteral("SELECT COUNT(*) AS n FROM Aca_FichaCadastralAluno WHERE "
                                "codigounidade = ? and matricula = ?"),
                 {unit, enrolment}) > 0;
}

qint64 PhotoRepository::countWithPhoto(const QString& unit)
{
    const std::shared_ptr<Connection>& cn = m_module.cnBanco();
    const Dialect dialect{cn ? cn->engine() : ConnectionTarget::Engine::SqlServer};
    return count(QStringLiteral("SELECT COUNT(*) AS n FROM (SELECT matricula FROM "
                                "Aca_FichaCadastralAluno WHERE codigounidade = ? AND matricula "
                                "IS NOT NULL AND foto IS NOT NULL AND %1 > 0 GROUP BY matricula) "
                                "AS alunos")
                     .arg(dialect.size(QStringLiteral("foto"))),
                 {unit});
}

PhotoRepository::StudentPage PhotoRepository::students(const QString& unit, bool onlyWithPhoto,
                                                       const std::optional<QString>& after,
                                                       int pageSize)
{
    return students(unit, onlyWithPhoto ? PhotoFilter::WithPhoto : PhotoFilter::Any, after,
                    pageSize, QString());
}

PhotoRepository::StudentPage PhotoRepository::students(const QString& unit, PhotoFilter filter,
                                                       const std::optional<QString>& after,
                                                       int pageSize, const QString& nameColumn)
{
    // Grouped, so that the rows of one number never fall on two pages.
    const ResultTable table = onConnection([&](Connection& cn) {
        const Dialect dialect{cn.engine()};
        QString sql = QStringLiteral("SELECT ") + dialect.top(pageSize) +
                      QStringLiteral("matricula, ") + dialect.hasPhoto() +
                      QStringLiteral(" AS comfoto");
        if (!nameColumn.isEmpty())
            sql +=
                QStringLiteral(", MAX(") + dialect.quoted(nameColumn) + QStringLiteral(") AS nome");
        sql += QStringLiteral(" FROM Aca_FichaCadastralAluno WHERE codigounidade = ? AND "
                              "matricula IS NOT NULL");
        if (after)
            sql += QStringLiteral(" AND matricula > ?");
        sql += QStringLiteral(" GROUP BY matricula");
        if (filter != PhotoFilter::Any)
            sql += QStringLiteral(" HAVING ") + dialect.hasPhoto() +
                   (filter == PhotoFilter::WithPhoto ? QStringLiteral(" = 1")
                                                     : QStringLiteral(" = 0"));
        sql += QStringLiteral(" ORDER BY matricula") + dialect.limit(pageSize);
        return cn.provider().query(sql, after ? QVariantList{unit, *after} : QVariantList{unit});
    });
    StudentPage page;
    for (const QVector<QVariant>& row : table.rows) {
        page.enrolments.append(row.at(0).toString());
        page.hasPhoto.append(row.at(1).toLongLong() != 0);
        if (!nameColumn.isEmpty())
            page.names.append(ProviderConnection::isNull(row.at(2)) ? QString()
                                                                    : row.at(2).toString());
    }
    return page;
}

qint64 PhotoRepository::countStudents(const QString& unit)
{
    return count(QStringLiteral("SELECT COUNT(*) AS n FROM (SELECT matricula FROM "
                                "Aca_FichaCadastralAluno WHERE codigounidade = ? AND matricula "
                                "IS NOT NULL GROUP BY matricula) AS alunos"),
                 {unit});
}

QString PhotoRepository::nameColumnOf(const QString& setting)
{
    // Checked before it comes near a statement; then looked up among the table's own
    // columns, so that only a column that exists is ever named.
    ProviderConnection::checkIdentifier(setting);
    const ResultTable table = onConnection([&](Connection& cn) {
        return cn.provider().query(
            QStringLiteral("SELECT * FROM Aca_FichaCadastralAluno WHERE 1 = 0"), {});
    });
    for (const QString& column : table.columns)
        if (column.compare(setting, Qt::CaseInsensitive) == 0)
            return column;
    throw Error(
        QStringLiteral("A tabela Aca_FichaCadastralAluno não tem a coluna \"%1\".").arg(setting));
}

QString PhotoRepository::studentName(const QString& unit, const QString& enrolment,
                                     const QString& nameColumn)
{
    const ResultTable table = onConnection([&](Connection& cn) {
        const QString statement =
            QStringLiteral("SELECT ") + Dialect{cn.engine()}.quoted(nameColumn) +
            QStringLiteral(" FROM Aca_FichaCadastralAluno WHERE codigounidade = ? AND "
                           "matricula = ?");
        return cn.provider().query(statement, {unit, enrolment}, 1);
    });
    if (table.rows.isEmpty() || ProviderConnection::isNull(table.rows.first().first()))
        return QString();
    return table.rows.first().first().toString();
}

bool PhotoRepository::replacePhotoIf(const QString& unit, const QString& enrolment,
                                     const QByteArray& expected,
                                     const std::optional<QByteArray>& replacement)
{
    // One statement: the comparison and the change are one step for the engine, so a
    // store from another station either comes before it (nothing changes) or after it.
    // A NULL goes in as text: a NULL parameter carries a type that SQL Server will not
    // turn into varbinary.
    QString statement = QStringLiteral("UPDATE Aca_FichaCadastralAluno SET foto = ");
    QVariantList values;
    if (replacement) {
        statement += QLatin1Char('?');
        values.append(*replacement);
    } else {
        statement += QStringLiteral("NULL");
    }
    statement += QStringLiteral(" WHERE codigounidade = ? AND matricula = ? AND foto = ? AND "
                                "(SELECT COUNT(*) FROM Aca_FichaCadastralAluno WHERE "
                                "codigounidade = ? AND matricula = ?) = 1");
    values << unit << enrolment << expected << unit << enrolment;
    if (m_probe)
        m_probe->opened(statement);
    return onConnection([&](Connection& cn) { return cn.execute(statement, values) == 1; });
}

} // namespace qc
