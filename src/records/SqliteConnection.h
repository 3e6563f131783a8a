#pragma once

#include "records/ProviderConnection.h"

struct sqlite3;
struct sqlite3_stmt;

namespace qc {

// SQLite through its C API. Binary values are bound as they are (no copy) and written in
// one statement.
class SqliteConnection : public ProviderConnection
{
public:
    // Opens an existing database file; create also makes a missing one.
    explicit SqliteConnection(const QString& path, bool create = false);
    ~SqliteConnection() override;
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    ResultTable query(const QString& sql, const QVariantList& params,
                      qsizetype maxRows = -1) override;
    qint64 execute(const QString& sql, const QVariantList& params) override;
    void begin() override;
    void commit() override;
    void rollback() override;
    bool inTransaction() const override;
    qint64 updateFirstRow(const QString& table, const QVector<ColumnValue>& sets,
                          const QVector<ColumnValue>& keys) override;
    QString maskedTarget() const override;

private:
    class Statement;
    [[noreturn]] void fail() const;

    sqlite3* m_db = nullptr;
    QString m_path;
};

} // namespace qc
