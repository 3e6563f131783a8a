#pragma once

#include "records/ConnectionString.h"
#include "records/ProviderConnection.h"

namespace qc {

// PostgreSQL (psqlODBC) and SQL Server (Microsoft's drivers, Windows' own or FreeTDS)
// through the ODBC driver manager (unixODBC, or Windows' own).
//
// What the drivers taught us: binary parameters are SQL_C_BINARY bound whole to
// SQL_VARBINARY for psqlODBC, and to SQL_LONGVARBINARY of their real length for SQL Server,
// where values over one chunk are announced with SQL_LEN_DATA_AT_EXEC(n) and sent as
// exactly n bytes with SQLPutData; reads use repeated SQLGetData and take SQL_NO_TOTAL as "more to
// come"; FreeTDS needs an unlimited text size or it cuts blobs short without a word.
class OdbcConnection : public ProviderConnection
{
public:
    // The longest the station waits on the server for a login, a lock or a statement.
    static constexpr int WaitSeconds = 15;

    explicit OdbcConnection(const ConnectionTarget& target);
    ~OdbcConnection() override;
    OdbcConnection(const OdbcConnection&) = delete;
    OdbcConnection& operator=(const OdbcConnection&) = delete;

    // The installed driver for SQL Server (OdbcDrivers::chooseSqlServer), else "".
    static QString sqlServerDriver();
    // The process's ODBC environment (SQLHENV), made on first use. Throws DatabaseError.
    static void* environment();

    ResultTable query(const QString& sql, const QVariantList& params,
                      qsizetype maxRows = -1) override;
    // cppcheck-suppress virtualCallInConstructor ; the constructor means this class's own
    qint64 execute(const QString& sql, const QVariantList& params) override;
    void begin() override;
    void commit() override;
    void rollback() override;
    bool inTransaction() const override { return m_inTransaction; }
    qint64 updateFirstRow(const QString& table, const QVector<ColumnValue>& sets,
                          const QVector<ColumnValue>& keys) override;
    QString maskedTarget() const override { return ConnectionString::masked(m_target); }

private:
    class Statement;
    enum class BinaryBinding
    {
        WholeVarBinary,        // psqlODBC
        LongVarBinaryInPieces, // SQL Server's drivers: varbinary(max)
    };
    static BinaryBinding binaryBindingOf(void* dbc);
    void endTransaction(bool commit);

    void* m_dbc = nullptr;
    ConnectionTarget m_target;
    bool m_inTransaction = false;
    BinaryBinding m_binaryBinding = BinaryBinding::WholeVarBinary;
    unsigned long m_queryTimeout = 0; // seconds; the driver's own timer (SQL Server)
};

} // namespace qc
