#include "records/SqliteConnection.h"

#include "records/DatabaseError.h"

#include <sqlite3.h>

namespace qc {

class SqliteConnection::Statement
{
public:
    Statement(const SqliteConnection& owner, const QString& sql) : m_owner(owner)
    {
        const QByteArray text = sql.toUtf8();
        if (sqlite3_prepare_v2(owner.m_db, text.constData(), int(text.size()), &m_stmt, nullptr) !=
            SQLITE_OK)
            owner.fail();
        if (!m_stmt)
            throw DatabaseError(QStringLiteral("Comando SQL vazio."));
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void bind(const QVariantList& params)
    {
        if (params.size() != sqlite3_bind_parameter_count(m_stmt))
            throw DatabaseError(QStringLiteral("O comando espera %1 parâmetros, recebeu %2.")
                                    .arg(sqlite3_bind_parameter_count(m_stmt))
                                    .arg(params.size()));
        for (int i = 0; i < params.size(); ++i) {
            const QVariant& v = params.at(i);
            int rc;
            if (isNull(v)) {
                rc = sqlite3_bind_null(m_stmt, i + 1);
            } else if (v.typeId() == QMetaType::QByteArray) {
                // The bytes stay in params, which outlive the statement's run: no copy.
                const QByteArray& bytes = *static_cast<const QByteArray*>(v.constData());
                rc = sqlite3_bind_blob64(m_stmt, i + 1, bytes.isNull() ? "" : bytes.constData(),
                                         sqlite3_uint64(bytes.size()), SQLITE_STATIC);
            } else if (v.typeId() == QMetaType::Int || v.typeId() == QMetaType::LongLong ||
                       v.typeId() == QMetaType::UInt || v.typeId() == QMetaType::Bool) {
                rc = sqlite3_bind_int64(m_stmt, i + 1, v.toLongLong());
            } else if (v.typeId() == QMetaType::Double) {
                rc = sqlite3_bind_double(m_stmt, i + 1, v.toDouble());
            } else {
                const QByteArray text = v.toString().toUtf8();
                rc =
                    sqlite3_bind_text64(m_stmt, i + 1, text.constData(),
                                        sqlite3_uint64(text.size()), SQLITE_TRANSIENT, SQLITE_UTF8);
            }
            if (rc != SQLITE_OK)
                m_owner.fail();
        }
    }

    bool step()
    {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
            m_owner.fail();
        return false;
    }

    sqlite3_stmt* handle() const { return m_stmt; }

private:
    const SqliteConnection& m_owner;
    sqlite3_stmt* m_stmt = nullptr;
};

SqliteConnection::SqliteConnection(const QString& path, bool create) : m_path(path)
{
    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
    const int rc = sqlite3_open_v2(path.toUtf8().constData(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        const QString text =
            m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close(m_db);
        m_db = nullptr;
        throw DatabaseError(text + QStringLiteral(" (") + path + QLatin1Char(')'));
    }
    sqlite3_busy_timeout(m_db, 5000);
    sqlite3_extended_result_codes(m_db, 1);
    // SQLite reads the file only at the first statement, so any file at all "opens"; a
    // text file named by mistake would then show as a database without units. Reading
    // the schema now refuses it here, with the file's name.
    const int probe =
        sqlite3_exec(m_db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    if (probe != SQLITE_OK) {
        const QString reason = QString::fromUtf8(sqlite3_errmsg(m_db));
        const bool notADatabase = (sqlite3_errcode(m_db) & 0xff) == SQLITE_NOTADB;
        sqlite3_close(m_db);
        m_db = nullptr;
        throw DatabaseError(notADatabase ? QStringLiteral("O arquivo %1 não é um banco de dados "
                                                          "SQLite (%2).")
                                               .arg(path, reason)
                                         : reason + QStringLiteral(" (") + path + QLatin1Char(')'));
    }
}

SqliteConnection::~SqliteConnection()
{
    sqlite3_close_v2(m_db);
}

void SqliteConnection::fail() const
{
    throw DatabaseError(QString::fromUtf8(sqlite3_errmsg(m_db)));
}

ResultTable SqliteConnection::query(const QString& sql, const QVariantList& params,
                                    qsizetype maxRows)
{
    Statement st(*this, sql);
    st.bind(params);
    ResultTable table;
    const int count = sqlite3_column_count(st.handle());
    for (int c = 0; c < count; ++c)
        table.columns.append(QString::fromUtf8(sqlite3_column_name(st.handle(), c)));
    while ((maxRows < 0 || table.rows.size() < maxRows) && st.step()) {
        QVector<QVariant> row(count);
        for (int c = 0; c < count; ++c) {
            sqlite3_stmt* h = st.handle();
            switch (sqlite3_column_type(h, c)) {
            case SQLITE_INTEGER:
                row[c] = qint64(sqlite3_column_int64(h, c));
                break;
            case SQLITE_FLOAT:
                row[c] = sqlite3_column_double(h, c);
                break;
            case SQLITE_TEXT:
                row[c] = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(h, c)),
                                           sqlite3_column_bytes(h, c));
                break;
            case SQLITE_BLOB: {
                const void* data = sqlite3_column_blob(h, c);
                const int size = sqlite3_column_bytes(h, c);
                // An empty blob is a value, not NULL: keep it a non-null empty array.
                row[c] =
                    size ? QByteArray(static_cast<const char*>(data), size) : QByteArray("", 0);
                break;
            }
            default:
                row[c] = QVariant();
            }
        }
        table.rows.append(row);
    }
    return table;
}

qint64 SqliteConnection::execute(const QString& sql, const QVariantList& params)
{
    Statement st(*this, sql);
    st.bind(params);
    while (st.step()) {
    }
    return sqlite3_changes64(m_db);
}

void SqliteConnection::begin()
{
    execute(QStringLiteral("BEGIN"), {});
}

void SqliteConnection::commit()
{
    execute(QStringLiteral("COMMIT"), {});
}

void SqliteConnection::rollback()
{
    execute(QStringLiteral("ROLLBACK"), {});
}

bool SqliteConnection::inTransaction() const
{
    return sqlite3_get_autocommit(m_db) == 0;
}

qint64 SqliteConnection::updateFirstRow(const QString& table, const QVector<ColumnValue>& sets,
                                        const QVector<ColumnValue>& keys)
{
    checkIdentifier(table);
    QVariantList keyValues;
    const QString where = whereClause(keys, keyValues);

    // A savepoint makes the update and its blob writes one step, inside or outside the
    // caller's transaction.
    execute(QStringLiteral("SAVEPOINT qc_update_row"), {});
    try {
        const ResultTable found =
            query(QStringLiteral("SELECT rowid FROM ") + table + where + QStringLiteral(" LIMIT 1"),
                  keyValues);
        if (found.rows.isEmpty()) {
            execute(QStringLiteral("RELEASE qc_update_row"), {});
            return 0;
        }
        const qint64 rowid = found.rows.first().first().toLongLong();

        // Every value bound once and written once: no empty room written first and filled
        // in pieces after, which wrote each page twice and let triggers see zeros.
        QVariantList values;
        const QString assignments = setClause(sets, values);
        values.append(rowid);
        const qint64 changed = execute(QStringLiteral("UPDATE ") + table + QStringLiteral(" SET ") +
                                           assignments + QStringLiteral(" WHERE rowid = ?"),
                                       values);
        execute(QStringLiteral("RELEASE qc_update_row"), {});
        return changed;
    } catch (...) {
        try {
            execute(QStringLiteral("ROLLBACK TO qc_update_row"), {});
            execute(QStringLiteral("RELEASE qc_update_row"), {});
        } catch (const DatabaseError&) {
            // The first failure is the one worth reporting.
        }
        throw;
    }
}

QString SqliteConnection::maskedTarget() const
{
    return QStringLiteral("sqlite:") + m_path;
}

} // namespace qc
