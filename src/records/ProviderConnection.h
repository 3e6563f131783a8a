#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <functional>

namespace qc {

// All rows of one result, read at once: the station's statements return one student's row
// or the unit list, and reading everything up front lets a recordset move freely and lets
// the same connection run an update while the result is still open (FreeTDS allows only
// one active result per connection).
struct ResultTable
{
    QStringList columns;
    QVector<QVector<QVariant>> rows;
};

struct ColumnValue
{
    QString column;
    QVariant value; // invalid QVariant = NULL; QByteArray = binary; QString = text
};

// What an engine's connection must do for the data-access layer. Parameters are bound,
// never spliced into the text; a value that is an invalid QVariant is NULL.
class ProviderConnection
{
public:
    static constexpr qsizetype ChunkSize = 16384;

    virtual ~ProviderConnection() = default;

    // maxRows >= 0 stops reading after that many rows.
    virtual ResultTable query(const QString& sql, const QVariantList& params,
                              qsizetype maxRows = -1) = 0;
    virtual qint64 execute(const QString& sql, const QVariantList& params) = 0;

    virtual void begin() = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;
    virtual bool inTransaction() const = 0;

    // Sets columns of the first row of table that matches every key (NULL keys match
    // NULL). Binary values go to the engine in ChunkSize pieces. Returns the rows changed
    // (0 or 1). table and column names must be plain identifiers.
    virtual qint64 updateFirstRow(const QString& table, const QVector<ColumnValue>& sets,
                                  const QVector<ColumnValue>& keys) = 0;

    // What the engine was given to connect, password masked.
    virtual QString maskedTarget() const = 0;

    static void checkIdentifier(const QString& name);

    // " WHERE k1 = ? AND k2 IS NULL ...": every key matched, NULL keys by IS NULL; the
    // bound values are appended to values in order.
    static QString whereClause(const QVector<ColumnValue>& keys, QVariantList& values);
    // "c1 = ?, c2 = NULL, ...". A NULL goes in as text (a NULL parameter carries a type,
    // and SQL Server will not turn a character NULL into varbinary); any other value gets
    // the placeholder that placeholder returns, which appends what it binds to values.
    using Placeholder = std::function<QString(const QVariant& value, QVariantList& values)>;
    static QString setClause(const QVector<ColumnValue>& sets, QVariantList& values,
                             const Placeholder& placeholder = {});
    static bool isNull(const QVariant& value) { return !value.isValid() || value.isNull(); }
};

} // namespace qc
