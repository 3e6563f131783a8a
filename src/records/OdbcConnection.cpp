#include "records/OdbcConnection.h"

#include "records/DatabaseError.h"
#include "records/OdbcDrivers.h"

#ifdef _WIN32
#include <windows.h> // the types sql.h uses, which unixODBC defines itself
#endif
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace qc {

namespace {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "unixODBC must use 16-bit SQLWCHAR");

constexpr SQLINTEGER SqlServerDeadlock = 1205;

const SQLWCHAR* wide(const QString& text)
{
    return reinterpret_cast<const SQLWCHAR*>(text.utf16());
}

QString fromWide(const SQLWCHAR* text, qsizetype length)
{
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(text), length);
}

bool ok(SQLRETURN rc)
{
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

// psqlODBC and FreeTDS word a connection lost halfway by what they were doing at the
// time ("internal SAVEPOINT failed"); the operator needs to read that the server is gone.
bool connectionDead(SQLHDBC dbc)
{
    SQLUINTEGER dead = SQL_CD_FALSE;
    const SQLRETURN rc =
        SQLGetConnectAttr(dbc, SQL_ATTR_CONNECTION_DEAD, &dead, SQL_IS_UINTEGER, nullptr);
    return ok(rc) && dead == SQL_CD_TRUE;
}

// liveDbc: the open connection the failing work ran on, asked (after the diagnostics are
// read) whether it died; null where there was no open connection to lose.
[[noreturn]] void raise(SQLSMALLINT type, SQLHANDLE handle, const QString& fallback,
                        SQLHDBC liveDbc = SQL_NULL_HDBC)
{
    QStringList messages;
    QString firstState;
    for (SQLSMALLINT record = 1;; ++record) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLWCHAR text[2048] = {};
        SQLSMALLINT length = 0;
        const SQLRETURN rc = SQLGetDiagRecW(type, handle, record, state, &native, text,
                                            SQLSMALLINT(std::size(text)), &length);
        if (!ok(rc))
            break;
        if (firstState.isEmpty()) {
            firstState = fromWide(state, 5);
            // FreeTDS says 42000 for SQL Server's deadlock victim: it is a class 40 failure,
            // a statement that succeeds when run again.
            if (native == SqlServerDeadlock && !firstState.startsWith(QLatin1String("40")))
                firstState = QStringLiteral("40001");
        }
        const QString message = fromWide(text, qMin<qsizetype>(length, std::size(text) - 1));
        if (!messages.contains(message))
            messages.append(message);
    }
    // 08xxx: the link to the server failed (psqlODBC says 08S01 when the backend is gone).
    const bool lost = liveDbc != SQL_NULL_HDBC &&
                      (connectionDead(liveDbc) || firstState.startsWith(QLatin1String("08")));
    if (lost)
        messages.prepend(QStringLiteral("A conexão com o banco de dados foi perdida."));
    throw DatabaseError(messages.isEmpty() ? fallback : messages.join(QLatin1Char('\n')),
                        firstState, lost);
}

bool isBinaryType(SQLSMALLINT type)
{
    return type == SQL_BINARY || type == SQL_VARBINARY || type == SQL_LONGVARBINARY;
}

bool isIntegerType(SQLSMALLINT type)
{
    return type == SQL_INTEGER || type == SQL_SMALLINT || type == SQL_TINYINT || type == SQL_BIGINT;
}

bool isFloatType(SQLSMALLINT type)
{
    return type == SQL_REAL || type == SQL_FLOAT || type == SQL_DOUBLE;
}

} // namespace

// One statement handle with its bound parameters, which must outlive the execution.
class OdbcConnection::Statement
{
public:
    Statement(SQLHDBC dbc, SQLULEN timeoutSeconds, BinaryBinding binding)
        : m_dbc(dbc), m_binding(binding)
    {
        if (!ok(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &m_stmt)))
            raise(SQL_HANDLE_DBC, dbc, QStringLiteral("Falha ao criar o comando ODBC."));
        if (timeoutSeconds)
            SQLSetStmtAttr(m_stmt, SQL_ATTR_QUERY_TIMEOUT,
                           reinterpret_cast<SQLPOINTER>(timeoutSeconds), 0);
    }
    ~Statement() { SQLFreeHandle(SQL_HANDLE_STMT, m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void check(SQLRETURN rc) const
    {
        if (!ok(rc) && rc != SQL_NO_DATA)
            raise(SQL_HANDLE_STMT, m_stmt, QStringLiteral("Falha no comando ODBC."), m_dbc);
    }

    void run(const QString& sql, const QVariantList& params)
    {
        m_params.resize(size_t(params.size()));
        for (int i = 0; i < params.size(); ++i)
            bind(SQLUSMALLINT(i + 1), params.at(i), m_params[size_t(i)]);

        // Each statement runs once: executed directly, psqlODBC sends it in one round trip
        // instead of a parse, a describe, the execution and a deallocation.
        SQLRETURN rc = SQLExecDirectW(m_stmt, const_cast<SQLWCHAR*>(wide(sql)), SQL_NTS);
        if (rc == SQL_NEED_DATA) {
            SQLPOINTER token = nullptr;
            while ((rc = SQLParamData(m_stmt, &token)) == SQL_NEED_DATA) {
                const Param& p = m_params.at(size_t(reinterpret_cast<quintptr>(token) - 1));
                // Exactly the announced number of bytes, one chunk at a time.
                for (qsizetype offset = 0; offset < p.bytes.size(); offset += ChunkSize) {
                    const SQLLEN n = SQLLEN(qMin(ChunkSize, p.bytes.size() - offset));
                    check(SQLPutData(m_stmt, const_cast<char*>(p.bytes.constData() + offset), n));
                }
            }
        }
        check(rc);
    }

    qint64 rowCount() const
    {
        SQLLEN rows = 0;
        check(SQLRowCount(m_stmt, &rows));
        return rows;
    }

    ResultTable fetchAll(qsizetype maxRows)
    {
        ResultTable table;
        SQLSMALLINT count = 0;
        check(SQLNumResultCols(m_stmt, &count));
        std::vector<SQLSMALLINT> types(static_cast<size_t>(count));
        for (SQLSMALLINT c = 1; c <= count; ++c) {
            SQLWCHAR name[256] = {};
            SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = 0;
            SQLULEN size = 0;
            check(SQLDescribeColW(m_stmt, SQLUSMALLINT(c), name, SQLSMALLINT(std::size(name)),
                                  &nameLength, &type, &size, &digits, &nullable));
            table.columns.append(fromWide(name, qMin<qsizetype>(nameLength, 255)));
            types[size_t(c - 1)] = type;
        }
        if (count == 0)
            return table;
        while (maxRows < 0 || table.rows.size() < maxRows) {
            const SQLRETURN rc = SQLFetch(m_stmt);
            if (rc == SQL_NO_DATA)
                break;
            check(rc);
            QVector<QVariant> row(count);
            for (SQLSMALLINT c = 1; c <= count; ++c)
                row[c - 1] = column(SQLUSMALLINT(c), types[size_t(c - 1)]);
            table.rows.append(row);
        }
        return table;
    }

private:
    struct Param
    {
        QByteArray bytes; // binary value, or UTF-16 text
        qint64 integer = 0;
        double real = 0;
        SQLLEN indicator = 0;
    };

    void bind(SQLUSMALLINT index, const QVariant& v, Param& p)
    {
        static char empty = 0;
        SQLRETURN rc;
        if (isNull(v)) {
            p.indicator = SQL_NULL_DATA;
            rc = SQLBindParameter(m_stmt, index, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 1, 0,
                                  &empty, 0, &p.indicator);
        } else if (v.typeId() == QMetaType::QByteArray) {
            p.bytes = v.toByteArray();
            const SQLLEN n = SQLLEN(p.bytes.size());
            const bool whole = m_binding == BinaryBinding::WholeVarBinary;
            const SQLULEN columnSize = whole && n > 8000 ? 0 : SQLULEN(qMax<SQLLEN>(n, 1));
            // SQL Server's drivers send a long binary of its real length as varbinary(max)
            // in pieces (PLP), and take its data at execution; FreeTDS refuses data at
            // execution for a plain varbinary and cuts one over 8,000 bytes to nothing.
            const SQLSMALLINT sqlType = whole ? SQL_VARBINARY : SQL_LONGVARBINARY;
            const bool atExecution = n > ChunkSize && !whole;
            p.indicator = atExecution ? SQL_LEN_DATA_AT_EXEC(n) : n;
            // At execution the parameter's number travels as the pointer value that
            // SQLParamData hands back; ODBC defines it so.
            // NOLINTNEXTLINE(performance-no-int-to-ptr)
            SQLPOINTER data = atExecution ? reinterpret_cast<SQLPOINTER>(quintptr(index))
                              : n         ? static_cast<SQLPOINTER>(p.bytes.data())
                                          : &empty;
            rc = SQLBindParameter(m_stmt, index, SQL_PARAM_INPUT, SQL_C_BINARY, sqlType, columnSize,
                                  0, data, atExecution ? 0 : n, &p.indicator);
        } else if (v.typeId() == QMetaType::Int || v.typeId() == QMetaType::LongLong ||
                   v.typeId() == QMetaType::UInt || v.typeId() == QMetaType::Bool) {
            p.integer = v.toLongLong();
            rc = SQLBindParameter(m_stmt, index, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0,
                                  &p.integer, 0, nullptr);
        } else if (v.typeId() == QMetaType::Double) {
            p.real = v.toDouble();
            rc = SQLBindParameter(m_stmt, index, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0,
                                  &p.real, 0, nullptr);
        } else {
            rc = bindText(index, v.toString(), p);
        }
        check(rc);
    }

    SQLRETURN bindText(SQLUSMALLINT index, const QString& text, Param& p)
    {
        static char empty = 0;
        // On SQL Server an nvarchar value compared with a varchar column converts the
        // column, and with a SQL collation that costs the column's index: a scan of the
        // student table for each photo. ASCII text (unit codes, enrolment numbers) reads
        // the same in every code page, so it goes as varchar, which an nvarchar column
        // takes by converting the value instead.
        const bool narrow =
            m_binding == BinaryBinding::LongVarBinaryInPieces &&
            std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
        p.bytes = narrow ? text.toLatin1()
                         : QByteArray(reinterpret_cast<const char*>(text.utf16()),
                                      text.size() * qsizetype(sizeof(char16_t)));
        p.indicator = SQLLEN(p.bytes.size());
        const SQLULEN columnSize =
            text.size() > (narrow ? 8000 : 4000) ? 0 : SQLULEN(qMax<qsizetype>(text.size(), 1));
        return SQLBindParameter(m_stmt, index, SQL_PARAM_INPUT, narrow ? SQL_C_CHAR : SQL_C_WCHAR,
                                narrow ? SQL_VARCHAR : SQL_WVARCHAR, columnSize, 0,
                                p.bytes.isEmpty() ? &empty : p.bytes.data(), p.indicator,
                                &p.indicator);
    }

    QVariant column(SQLUSMALLINT c, SQLSMALLINT type)
    {
        if (isIntegerType(type) || isFloatType(type))
            return number(c, isIntegerType(type));
        const bool binary = isBinaryType(type);
        // Text comes as UTF-16 with a terminator in every piece; binary fills the buffer.
        const SQLSMALLINT cType = binary ? SQL_C_BINARY : SQL_C_WCHAR;
        const SQLLEN room = binary ? ChunkSize : ChunkSize - SQLLEN(sizeof(SQLWCHAR));
        char buffer[ChunkSize];
        SQLLEN indicator = 0;
        const SQLRETURN rc = SQLGetData(m_stmt, c, cType, buffer, ChunkSize, &indicator);
        if (rc == SQL_NO_DATA)
            return QByteArray("", 0);
        check(rc);
        if (indicator == SQL_NULL_DATA)
            return QVariant();
        if (binary && indicator != SQL_NO_TOTAL && indicator > room)
            return wholeBinary(c, QByteArrayView(buffer, room), indicator);
        QByteArray value = pieces(c, cType, room, buffer, indicator);
        if (binary)
            return value;
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(value.constData()),
                                  value.size() / qsizetype(sizeof(char16_t)));
    }

    QVariant number(SQLUSMALLINT c, bool integer)
    {
        qint64 whole = 0;
        double real = 0;
        SQLLEN indicator = 0;
        check(integer ? SQLGetData(m_stmt, c, SQL_C_SBIGINT, &whole, 0, &indicator)
                      : SQLGetData(m_stmt, c, SQL_C_DOUBLE, &real, 0, &indicator));
        if (indicator == SQL_NULL_DATA)
            return QVariant();
        return integer ? QVariant(whole) : QVariant(real);
    }

    // The first answer gave the whole length: the value gets room of exactly that size
    // once, and the rest is read straight into it.
    QByteArray wholeBinary(SQLUSMALLINT c, QByteArrayView first, SQLLEN total)
    {
        QByteArray value(total, Qt::Uninitialized);
        std::memcpy(value.data(), first.data(), size_t(first.size()));
        SQLLEN offset = first.size();
        while (offset < total) {
            SQLLEN indicator = 0;
            const SQLRETURN rc = SQLGetData(m_stmt, c, SQL_C_BINARY, value.data() + offset,
                                            total - offset, &indicator);
            if (rc == SQL_NO_DATA)
                break;
            check(rc);
            offset += indicator == SQL_NO_TOTAL ? total - offset : qMin(indicator, total - offset);
        }
        if (offset != total)
            throw DatabaseError(QStringLiteral("O driver entregou %1 de %2 bytes do campo.")
                                    .arg(offset)
                                    .arg(total));
        return value;
    }

    // A value of unknown length (text, or a driver that says SQL_NO_TOTAL), piece by piece
    // from the first one already in buffer.
    QByteArray pieces(SQLUSMALLINT c, SQLSMALLINT cType, SQLLEN room, char* buffer,
                      SQLLEN indicator)
    {
        QByteArray value("", 0);
        for (;;) {
            const bool more = indicator == SQL_NO_TOTAL || indicator > room;
            value.append(buffer, more ? room : indicator);
            if (!more)
                return value;
            const SQLRETURN rc = SQLGetData(m_stmt, c, cType, buffer, ChunkSize, &indicator);
            if (rc == SQL_NO_DATA)
                return value;
            check(rc);
        }
    }

    SQLHDBC m_dbc;
    BinaryBinding m_binding;
    SQLHSTMT m_stmt = SQL_NULL_HSTMT;
    std::vector<Param> m_params;
};

// psqlODBC takes a long binary for a large object (unless told ByteaAsLongVarBinary), so
// PostgreSQL gets plain varbinary values, whole; SQL Server gets long binaries.
OdbcConnection::BinaryBinding OdbcConnection::binaryBindingOf(void* dbc)
{
    SQLWCHAR name[256] = {};
    SQLSMALLINT length = 0;
    if (ok(SQLGetInfoW(dbc, SQL_DBMS_NAME, name, SQLSMALLINT(sizeof name), &length)) &&
        fromWide(name, qMin<qsizetype>(length / qsizetype(sizeof(SQLWCHAR)), 255))
            .contains(QLatin1String("SQL Server"), Qt::CaseInsensitive))
        return BinaryBinding::LongVarBinaryInPieces;
    return BinaryBinding::WholeVarBinary;
}

OdbcConnection::OdbcConnection(const ConnectionTarget& target) : m_target(target)
{
    SQLHENV env = static_cast<SQLHENV>(environment());
    SQLHDBC dbc = SQL_NULL_HDBC;
    if (!ok(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc)))
        raise(SQL_HANDLE_ENV, env, QStringLiteral("Falha ao criar a conexão ODBC."));
    m_dbc = dbc;
    SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(WaitSeconds), 0);
    QString odbcString = target.odbcString;
    if (target.engine == ConnectionTarget::Engine::PostgreSql) {
        // A server that stops answering in the middle of a statement is found out within
        // WaitSeconds by TCP keepalives (5 s idle, 2 probes 5 s apart) and, while data waits
        // for its acknowledgement, by the TCP user timeout: libpq's options, which psqlODBC
        // passes on (pqopt), instead of the kernel's two hours.
        odbcString +=
            QStringLiteral("KeepaliveTime=5;KeepaliveInterval=5;pqopt={keepalives_count=2 "
                           "tcp_user_timeout=%1};")
                .arg(WaitSeconds * 1000);
    }
    SQLWCHAR out[1024];
    SQLSMALLINT outLength = 0;
    const SQLRETURN rc =
        SQLDriverConnectW(dbc, nullptr, const_cast<SQLWCHAR*>(wide(odbcString)), SQL_NTS, out,
                          SQLSMALLINT(std::size(out)), &outLength, SQL_DRIVER_NOPROMPT);
    if (!ok(rc)) {
        const QString tried = QStringLiteral("Driver ODBC: \"%1\".").arg(target.odbcDriver);
        try {
            raise(SQL_HANDLE_DBC, dbc, QStringLiteral("Falha ao conectar.\n") + tried);
        } catch (const DatabaseError& error) {
            SQLFreeHandle(SQL_HANDLE_DBC, dbc);
            m_dbc = nullptr;
            // The operator, or whoever reads the report, learns which driver was tried.
            QString text = OdbcDrivers::explainCertificateFailure(error.description(),
                                                                  target.verifyCertificate);
            if (!text.contains(QLatin1Char('[') + target.odbcDriver + QLatin1Char(']')))
                text += QLatin1Char('\n') + tried;
            throw DatabaseError(text, error.sqlState(), error.connectionLost());
        }
    }
    m_binaryBinding = binaryBindingOf(dbc);
    try {
        // No wait on a row that another station holds lasts longer than WaitSeconds, and no
        // statement twice that: then the operator reads why (a held row as a lock, not as
        // a slow statement).
        if (target.engine == ConnectionTarget::Engine::PostgreSql) {
            execute(QStringLiteral("SET lock_timeout = %1").arg(WaitSeconds * 1000), {});
            execute(QStringLiteral("SET statement_timeout = %1").arg(2 * WaitSeconds * 1000), {});
        } else {
            // Without the text size FreeTDS cuts long values at its default without an error.
            execute(QStringLiteral("SET TEXTSIZE 2147483647; SET LOCK_TIMEOUT %1")
                        .arg(WaitSeconds * 1000),
                    {});
            m_queryTimeout = WaitSeconds;
        }
    } catch (...) {
        SQLDisconnect(dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        m_dbc = nullptr;
        throw;
    }
}

OdbcConnection::~OdbcConnection()
{
    if (!m_dbc)
        return;
    if (m_inTransaction)
        SQLEndTran(SQL_HANDLE_DBC, m_dbc, SQL_ROLLBACK);
    SQLDisconnect(m_dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, m_dbc);
}

ResultTable OdbcConnection::query(const QString& sql, const QVariantList& params, qsizetype maxRows)
{
    Statement st(m_dbc, m_queryTimeout, m_binaryBinding);
    st.run(sql, params);
    return st.fetchAll(maxRows);
}

qint64 OdbcConnection::execute(const QString& sql, const QVariantList& params)
{
    Statement st(m_dbc, m_queryTimeout, m_binaryBinding);
    st.run(sql, params);
    return st.rowCount();
}

void OdbcConnection::begin()
{
    if (m_inTransaction)
        throw DatabaseError(QStringLiteral("Já existe uma transação em andamento."));
    if (!ok(SQLSetConnectAttr(m_dbc, SQL_ATTR_AUTOCOMMIT,
                              reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0)))
        raise(SQL_HANDLE_DBC, m_dbc, QStringLiteral("Falha ao iniciar a transação."), m_dbc);
    m_inTransaction = true;
}

void OdbcConnection::endTransaction(bool commit)
{
    if (!m_inTransaction)
        throw DatabaseError(QStringLiteral("Nenhuma transação em andamento."));
    const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, m_dbc, commit ? SQL_COMMIT : SQL_ROLLBACK);
    if (!ok(rc)) {
        // A failed commit leaves the transaction open; the caller's rollback ends it.
        raise(SQL_HANDLE_DBC, m_dbc, QStringLiteral("Falha ao encerrar a transação."), m_dbc);
    }
    m_inTransaction = false;
    if (!ok(SQLSetConnectAttr(m_dbc, SQL_ATTR_AUTOCOMMIT,
                              reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0)))
        raise(SQL_HANDLE_DBC, m_dbc, QStringLiteral("Falha ao encerrar a transação."), m_dbc);
}

void OdbcConnection::commit()
{
    endTransaction(true);
}

void OdbcConnection::rollback()
{
    endTransaction(false);
}

qint64 OdbcConnection::updateFirstRow(const QString& table, const QVector<ColumnValue>& sets,
                                      const QVector<ColumnValue>& keys)
{
    checkIdentifier(table);
    QVariantList values;
    const QString assignments = setClause(sets, values);
    const QString where = whereClause(keys, values);
    QString sql;
    if (m_target.engine == ConnectionTarget::Engine::PostgreSql)
        sql = QStringLiteral("UPDATE ") + table + QStringLiteral(" SET ") + assignments +
              QStringLiteral(" WHERE ctid = (SELECT ctid FROM ") + table + where +
              QStringLiteral(" LIMIT 1)");
    else
        sql = QStringLiteral("UPDATE TOP (1) ") + table + QStringLiteral(" SET ") + assignments +
              where;
    return execute(sql, values);
}

} // namespace qc
