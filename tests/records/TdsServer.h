#pragma once

// A loopback server that answers in TDS 7.4 as SQL Server does, for the statements the
// station sends and no others: pre-login without encryption, LOGIN7, SQL batches and the
// RPC FreeTDS uses for parameterised statements. Every request is decoded and kept
// (statement text, parameter names, TDS types and values) so that a test can see what
// went over the wire; the answers come from a small model of the student table.

#include "TdsLoginListener.h"

#ifndef _WIN32
#include <netinet/tcp.h>
#endif

#include <QList>
#include <QMap>
#include <QStringList>

#include <algorithm>

#include <mutex>
#include <optional>
#include <vector>

class TdsServer
{
public:
    struct Param
    {
        QString name;
        quint8 type = 0;      // TDS type byte: 0xA5 varbinary, 0xE7 nvarchar, 0x22 image ...
        quint32 maxLength = 0; // 0xFFFF for the (max) types that travel as PLP
        bool isNull = false;
        QByteArray value;      // as sent: UTF-16 for nvarchar
        QString text() const
        {
            if (type == 0xA7) // varchar in the connection's code page 1252 collation
                return QString::fromLatin1(value);
            return QString::fromUtf16(reinterpret_cast<const char16_t*>(value.constData()),
                                      value.size() / 2);
        }
    };
    struct Request
    {
        bool rpc = false;
        QString procedure; // "sp_executesql" ... for an RPC
        QString statement; // the batch, or the RPC's statement parameter
        QString declarations; // sp_executesql's parameter declarations
        QList<Param> params;
    };
    struct Student
    {
        QString unit, enrolment;
        std::optional<QByteArray> photo;
    };

    struct Unit
    {
        QString code;
        std::optional<QString> name;
    };
    enum class Cut
    {
        None,
        MidAnswer,       // half a photo's answer sent, then the connection closed
        MidStoreRequest, // a store read and not answered: the connection closed
        Silent,          // the request read and never answered
    };

    // The model and the faults, set before the client starts.
    QString password = QStringLiteral("pw");
    QList<Student> students;
    QList<Unit> units;
    bool unitNamesAsNvarchar = false; // else varchar in a code page 1252 collation
    qsizetype plpChunk = 8000;        // the size of the pieces a photo is answered in
    int failNumber = 0;               // an ERROR token in place of the next answers
    QString failMessage;
    int failTimes = 0;
    Cut cut = Cut::None;

    TdsServer()
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (m_listen == Fd(-1) ||
            ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_listen, 4) != 0)
            return;
        socklen_t length = sizeof address;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { acceptAll(); });
    }
    ~TdsServer()
    {
        ::shutdown(m_listen, SHUT_RDWR);
        TDS_CLOSE(m_listen);
        if (m_thread.joinable())
            m_thread.join();
        {
            std::lock_guard lock(m_mutex);
            for (auto fd : m_clients)
                ::shutdown(fd, SHUT_RDWR);
        }
        for (std::thread& t : m_sessions)
            t.join();
    }
    TdsServer(const TdsServer&) = delete;
    TdsServer& operator=(const TdsServer&) = delete;

    QString server() const { return QStringLiteral("127.0.0.1,%1").arg(m_port); }
    quint16 port() const { return m_port; }
    QList<Request> requests() const
    {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }
    std::optional<QByteArray> photoOf(const QString& enrolment) const
    {
        std::lock_guard lock(m_mutex);
        for (const Student& s : students)
            if (s.enrolment == enrolment)
                return s.photo;
        return std::nullopt;
    }

private:
    using Fd = decltype(::socket(0, 0, 0));

    void acceptAll()
    {
        for (;;) {
            const Fd fd = ::accept(m_listen, nullptr, nullptr);
            if (fd == Fd(-1))
                return;
            // Each packet goes out at once, not after the client's delayed acknowledgement.
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                         sizeof on);
            std::lock_guard lock(m_mutex);
            m_clients.push_back(fd);
            m_sessions.emplace_back([this, fd] { serve(fd); });
        }
    }

    // ---- writing -------------------------------------------------------------------
    static void put16(QByteArray& b, quint16 v) { b.append(char(v & 0xFF)).append(char(v >> 8)); }
    static void put32(QByteArray& b, quint32 v)
    {
        put16(b, quint16(v & 0xFFFF));
        put16(b, quint16(v >> 16));
    }
    static void put64(QByteArray& b, quint64 v)
    {
        put32(b, quint32(v & 0xFFFFFFFF));
        put32(b, quint32(v >> 32));
    }
    static void putBText(QByteArray& b, const QString& s) // B_VARCHAR
    {
        b.append(char(s.size()));
        b.append(reinterpret_cast<const char*>(s.utf16()), s.size() * 2);
    }
    static void putUsText(QByteArray& b, const QString& s) // US_VARCHAR
    {
        put16(b, quint16(s.size()));
        b.append(reinterpret_cast<const char*>(s.utf16()), s.size() * 2);
    }
    static void token(QByteArray& b, quint8 type, const QByteArray& body)
    {
        b.append(char(type));
        put16(b, quint16(body.size()));
        b.append(body);
    }
    static void done(QByteArray& b, quint8 type, quint16 status, quint64 rows)
    {
        b.append(char(type));
        put16(b, status);
        put16(b, 0xC1); // the command: a SELECT or UPDATE, as SQL Server reports it
        put64(b, rows);
    }
    static void error(QByteArray& b, qint32 number, const QString& message)
    {
        QByteArray e;
        put32(e, quint32(number));
        e.append(char(1)).append(char(16));
        putUsText(e, message);
        putBText(e, QStringLiteral("QCTEST"));
        putBText(e, QString());
        put32(e, 1);
        token(b, 0xAA, e);
    }
    static bool sendMessage(Fd fd, const QByteArray& payload)
    {
        const qsizetype room = 4096 - 8;
        qsizetype at = 0;
        quint8 packet = 1;
        do {
            const qsizetype n = qMin(room, payload.size() - at);
            QByteArray p;
            p.append(char(0x04)).append(char(at + n >= payload.size() ? 1 : 0));
            p.append(char((n + 8) >> 8)).append(char((n + 8) & 0xFF));
            p.append(2, '\0').append(char(packet++)).append('\0');
            p.append(payload.constData() + at, n);
            if (::send(fd, p.constData(), int(p.size()), MSG_NOSIGNAL) != p.size())
                return false;
            at += n;
        } while (at < payload.size());
        return true;
    }

    QByteArray loginAnswer(const QByteArray& login)
    {
        QByteArray b;
        const QString user = TdsLoginListener::text(login, 40);
        if (TdsLoginListener::text(login, 44, true) != password) {
            error(b, 18456, QStringLiteral("Login failed for user '%1'.").arg(user));
            done(b, 0xFD, 0x02, 0);
            return b;
        }
        QByteArray env;
        env.append(char(1));
        putBText(env, TdsLoginListener::text(login, 68));
        putBText(env, QStringLiteral("master"));
        token(b, 0xE3, env);
        env.clear();
        env.append(char(7)).append(char(5)).append(QByteArray::fromHex("0904D00034")).append('\0');
        token(b, 0xE3, env); // collation Latin1_General_CI_AS (code page 1252)
        env.clear();
        env.append(char(4));
        putBText(env, QStringLiteral("4096"));
        putBText(env, QStringLiteral("4096"));
        token(b, 0xE3, env);
        QByteArray ack;
        ack.append(char(1)).append(QByteArray::fromHex("74000004"));
        putBText(ack, QStringLiteral("Microsoft SQL Server"));
        ack.append(QByteArray::fromHex("0f001068"));
        token(b, 0xAD, ack);
        done(b, 0xFD, 0, 0);
        return b;
    }

    // ---- reading a request ---------------------------------------------------------
    struct Reader
    {
        const QByteArray& b;
        qsizetype at = 0;
        bool ok = true;
        bool need(qsizetype n) { return ok = ok && at + n <= b.size(); }
        quint64 number(int bytes)
        {
            quint64 v = 0;
            if (!need(bytes))
                return 0;
            for (int i = 0; i < bytes; ++i)
                v |= quint64(quint8(b[at + i])) << (8 * i);
            at += bytes;
            return v;
        }
        QByteArray bytes(qsizetype n)
        {
            if (!need(n))
                return {};
            at += n;
            return b.mid(at - n, n);
        }
        QString text(qsizetype characters)
        {
            const QByteArray t = bytes(characters * 2);
            return QString::fromUtf16(reinterpret_cast<const char16_t*>(t.constData()),
                                      t.size() / 2);
        }
        QByteArray plp(bool& isNull)
        {
            const quint64 total = number(8);
            isNull = total == ~quint64(0);
            QByteArray v;
            for (quint64 chunk = isNull ? 0 : number(4); ok && chunk; chunk = number(4))
                v += bytes(qsizetype(chunk));
            return v;
        }
    };

    static bool readParam(Reader& r, Param& p)
    {
        p.name = r.text(qsizetype(r.number(1)));
        r.number(1); // status
        p.type = quint8(r.number(1));
        switch (p.type) {
        case 0x26: // INTN
        case 0x68: // BITN
        case 0x6D: // FLTN
            p.maxLength = quint32(r.number(1));
            p.value = r.bytes(qsizetype(r.number(1)));
            p.isNull = p.value.isEmpty();
            return r.ok;
        case 0xA5: // BIGVARBINARY
        case 0xA7: // BIGVARCHAR
        case 0xE7: // NVARCHAR
            p.maxLength = quint32(r.number(2));
            if (p.type != 0xA5)
                r.bytes(5); // collation
            if (p.maxLength == 0xFFFF) {
                p.value = r.plp(p.isNull);
            } else {
                const quint64 n = r.number(2);
                p.isNull = n == 0xFFFF;
                p.value = r.bytes(p.isNull ? 0 : qsizetype(n));
            }
            return r.ok;
        case 0x22: // IMAGE
        case 0x23: // TEXT
        case 0x63: // NTEXT
            p.maxLength = quint32(r.number(4));
            if (p.type != 0x22)
                r.bytes(5);
            p.value = r.bytes(qsizetype(r.number(4)));
            return r.ok;
        default:
            return false;
        }
    }

    static std::optional<Request> decode(quint8 type, const QByteArray& payload)
    {
        Reader r{payload};
        r.bytes(qsizetype(r.number(4)) - 4); // ALL_HEADERS
        Request q;
        if (type == 0x01) {
            q.statement = r.text((payload.size() - r.at) / 2);
            return q;
        }
        q.rpc = true;
        const quint64 nameLength = r.number(2);
        if (nameLength == 0xFFFF) {
            static const QMap<quint64, QString> ids = {{10, QStringLiteral("sp_executesql")},
                                                       {11, QStringLiteral("sp_prepare")},
                                                       {12, QStringLiteral("sp_execute")},
                                                       {13, QStringLiteral("sp_prepexec")},
                                                       {15, QStringLiteral("sp_unprepare")}};
            q.procedure = ids.value(r.number(2), QStringLiteral("?"));
        } else {
            q.procedure = r.text(qsizetype(nameLength));
        }
        r.number(2); // option flags
        while (r.ok && r.at < payload.size()) {
            Param p;
            if (!readParam(r, p))
                return std::nullopt;
            q.params.append(p);
        }
        if (q.procedure == QLatin1String("sp_executesql") && q.params.size() >= 2) {
            q.statement = q.params.takeFirst().text();
            q.declarations = q.params.takeFirst().text();
        }
        return q;
    }

    // ---- answering -----------------------------------------------------------------
    static const QString& storeStatement()
    {
        static const QString s = QStringLiteral(
            "UPDATE Aca_FichaCadastralAluno SET foto = @P1 WHERE (codigounidade = @P2 and "
            "matricula = @P3) AND (SELECT COUNT(*) FROM Aca_FichaCadastralAluno WHERE "
            "codigounidade = @P4 and matricula = @P5) = 1");
        return s;
    }

    static const QString& countStatement()
    {
        static const QString s = QStringLiteral(
            "SELECT COUNT(*) FROM Aca_FichaCadastralAluno WHERE codigounidade = @P1 and "
            "matricula = @P2");
        return s;
    }
    static const QString& readStatement()
    {
        static const QString s =
            QStringLiteral("SELECT matricula, foto FROM Aca_FichaCadastralAluno WHERE "
                           "CodigoUnidade = @P1 and matricula = @P2");
        return s;
    }
    static const QString& unitsStatement()
    {
        static const QString s = QStringLiteral(
            "select codigounidade, RazaoSocial from bas_unidades order by codigounidade");
        return s;
    }

    // COLMETADATA for columns of (name, TDS type); text in a CP1252 collation.
    static void columns(QByteArray& b, const QList<std::pair<QString, quint8>>& list)
    {
        b.append(char(0x81));
        put16(b, quint16(list.size()));
        for (const auto& [name, type] : list) {
            put32(b, 0);
            put16(b, 0x01); // nullable
            b.append(char(type));
            if (type == 0x26) {
                b.append(char(4));
            } else {
                put16(b, type == 0xA5 ? 0xFFFF : 100);
                if (type != 0xA5)
                    b.append(QByteArray::fromHex("0904D00034"));
            }
            putBText(b, name);
        }
    }
    static void text(QByteArray& b, const std::optional<QString>& value, bool wide)
    {
        if (!value) {
            put16(b, 0xFFFF);
            return;
        }
        const QByteArray bytes =
            wide ? QByteArray(reinterpret_cast<const char*>(value->utf16()), value->size() * 2)
                 : value->toLatin1(); // the accents of Portuguese are the same in CP1252
        put16(b, quint16(bytes.size()));
        b.append(bytes);
    }
    void plp(QByteArray& b, const std::optional<QByteArray>& value) const
    {
        if (!value) {
            put64(b, ~quint64(0));
            return;
        }
        put64(b, quint64(value->size()));
        for (qsizetype at = 0; at < value->size(); at += plpChunk) {
            const qsizetype n = qMin(plpChunk, value->size() - at);
            put32(b, quint32(n));
            b.append(value->constData() + at, n);
        }
        put32(b, 0);
    }
    static void rpcDone(QByteArray& b, quint16 status, quint64 rows)
    {
        done(b, 0xFF, quint16(status | 0x01), rows); // more to come: the procedure's end
        b.append(char(0x79));
        put32(b, 0); // RETURNSTATUS
        done(b, 0xFE, status & 0x02, 0);
    }

    static QByteArray count(const QString& name, qsizetype n)
    {
        QByteArray b;
        columns(b, {{name, 0x26}});
        b.append(char(0xD1)).append(char(4));
        put32(b, quint32(n));
        rpcDone(b, 0x10, 1);
        return b;
    }

    // A unit's enrolment numbers, sorted, each once, with whether any row has a photo.
    QMap<QString, bool> roster(const QString& unit, bool onlyWithPhoto) const
    {
        QMap<QString, bool> numbers;
        for (const Student& s : students)
            if (s.unit == unit) {
                const bool has = s.photo && !s.photo->isEmpty();
                numbers[s.enrolment] = numbers.value(s.enrolment) || has;
            }
        if (onlyWithPhoto)
            numbers.removeIf([](const auto& entry) { return !entry.value(); });
        return numbers;
    }
    static QString pageStatement(bool onlyWithPhoto, bool after)
    {
        const QString has = QStringLiteral("MAX(CASE WHEN foto IS NULL THEN 0 WHEN "
                                           "DATALENGTH(foto) = 0 THEN 0 ELSE 1 END)");
        return QStringLiteral("SELECT TOP (256) matricula, ") + has +
               QStringLiteral(" AS comfoto FROM Aca_FichaCadastralAluno WHERE codigounidade = "
                              "@P1 AND matricula IS NOT NULL") +
               (after ? QStringLiteral(" AND matricula > @P2") : QString()) +
               QStringLiteral(" GROUP BY matricula") +
               (onlyWithPhoto ? QStringLiteral(" HAVING ") + has + QStringLiteral(" = 1")
                              : QString()) +
               QStringLiteral(" ORDER BY matricula");
    }
    static bool isPage(const QString& statement)
    {
        for (const bool only : {false, true})
            for (const bool after : {false, true})
                if (statement == pageStatement(only, after))
                    return true;
        return false;
    }
    QByteArray page(const Request& q) const
    {
        QByteArray b;
        columns(b, {{QStringLiteral("matricula"), 0xA7}, {QStringLiteral("comfoto"), 0x26}});
        const QMap<QString, bool> numbers =
            roster(q.params.value(0).text(), q.statement.contains(QLatin1String("HAVING")));
        qsizetype rows = 0;
        for (auto it = numbers.cbegin(); it != numbers.cend() && rows < 256; ++it) {
            if (q.params.size() > 1 && it.key() <= q.params[1].text())
                continue;
            b.append(char(0xD1));
            text(b, it.key(), false);
            b.append(char(4));
            put32(b, it.value() ? 1 : 0);
            ++rows;
        }
        rpcDone(b, 0x10, quint64(rows));
        return b;
    }

    QList<Student*> matching(const Param& unit, const Param& enrolment)
    {
        QList<Student*> rows;
        for (Student& s : students)
            if (s.unit == unit.text() && s.enrolment == enrolment.text())
                rows.append(&s);
        return rows;
    }

    QByteArray answer(const Request& q)
    {
        QByteArray b;
        std::lock_guard lock(m_mutex);
        if (failTimes > 0 && (q.rpc || q.statement == unitsStatement())) {
            --failTimes;
            error(b, failNumber, failMessage);
            q.rpc ? rpcDone(b, 0x02, 0) : done(b, 0xFD, 0x02, 0);
            return b;
        }
        if (q.rpc && q.statement == countStatement() && q.params.size() == 2)
            return count(QString(), matching(q.params[0], q.params[1]).size());
        // The command line's statements.
        if (q.rpc && q.statement == QLatin1String("SELECT COUNT(*) AS n FROM bas_unidades WHERE "
                                                  "codigounidade = @P1")) {
            const auto known = std::count_if(units.cbegin(), units.cend(), [&](const Unit& u) {
                return u.code == q.params.value(0).text();
            });
            return count(QStringLiteral("n"), known);
        }
        const QString withPhoto = QStringLiteral("foto IS NOT NULL AND DATALENGTH(foto) > 0");
        if (q.rpc && q.statement == QStringLiteral("SELECT COUNT(*) AS n FROM (SELECT matricula "
                                                   "FROM Aca_FichaCadastralAluno WHERE "
                                                   "codigounidade = @P1 AND matricula IS NOT "
                                                   "NULL AND %1 GROUP BY matricula) AS alunos")
                                        .arg(withPhoto))
            return count(QStringLiteral("n"), roster(q.params.value(0).text(), true).size());
        if (q.rpc && isPage(q.statement))
            return page(q);
        if (q.rpc && q.statement == readStatement() + QStringLiteral(" and foto IS NOT NULL and "
                                                                     "DATALENGTH(foto) > 0")) {
            const QList<Student*> rows = matching(q.params[0], q.params[1]);
            columns(b, {{QStringLiteral("matricula"), 0xA7}, {QStringLiteral("foto"), 0xA5}});
            for (const Student* row : rows) {
                if (!row->photo || row->photo->isEmpty())
                    continue;
                b.append(char(0xD1));
                text(b, row->enrolment, false);
                plp(b, row->photo);
            }
            rpcDone(b, 0x10, quint64(rows.size()));
            return b;
        }
        if (q.rpc && q.statement == readStatement() && q.params.size() == 2) {
            const QList<Student*> rows = matching(q.params[0], q.params[1]);
            columns(b, {{QStringLiteral("matricula"), 0xA7}, {QStringLiteral("foto"), 0xA5}});
            for (const Student* row : rows) {
                b.append(char(0xD1));
                text(b, row->enrolment, false);
                plp(b, row->photo);
            }
            rpcDone(b, 0x10, quint64(rows.size()));
            return b;
        }
        if (!q.rpc && q.statement == unitsStatement()) {
            const quint8 nameType = unitNamesAsNvarchar ? 0xE7 : 0xA7;
            columns(b, {{QStringLiteral("codigounidade"), 0xA7},
                        {QStringLiteral("RazaoSocial"), nameType}});
            for (const Unit& unit : units) {
                b.append(char(0xD1));
                text(b, unit.code, false);
                text(b, unit.name, unitNamesAsNvarchar);
            }
            done(b, 0xFD, 0x10, quint64(units.size()));
            return b;
        }
        if (!q.rpc) {
            // The session settings the connection makes when it opens.
            if (q.statement.startsWith(QLatin1String("SET "))) {
                done(b, 0xFD, 0, 0);
                return b;
            }
        } else if (q.statement == storeStatement() && q.params.size() == 5) {
            const QList<Student*> rows = matching(q.params[1], q.params[2]);
            if (rows.size() == 1)
                rows.first()->photo = q.params[0].isNull ? std::nullopt
                                                         : std::optional(q.params[0].value);
            rpcDone(b, 0x10, quint64(rows.size() == 1));
            return b;
        }
        error(b, 102, QStringLiteral("Incorrect syntax near '%1'.")
                          .arg(q.statement.section(QLatin1Char(' '), 0, 0)));
        done(b, q.rpc ? 0xFE : 0xFD, 0x02, 0);
        return b;
    }

    // The faults that break the connection; true when it was broken.
    bool cutShort(Fd fd, const QByteArray& out)
    {
        std::lock_guard lock(m_mutex);
        if (cut == Cut::MidAnswer && out.size() > 64 * 1024) {
            sendMessage(fd, out.left(out.size() / 2));
            return true;
        }
        return cut == Cut::Silent;
    }
    static void trace(const Request& q)
    {
        QStringList types;
        for (const Param& p : q.params)
            types << QStringLiteral("%1 0x%2/%3 %4 bytes")
                         .arg(p.name)
                         .arg(p.type, 0, 16)
                         .arg(p.maxLength, 0, 16)
                         .arg(p.value.size());
        qDebug("%s %s | %s | %s", qPrintable(q.procedure), qPrintable(q.statement),
               qPrintable(q.declarations), qPrintable(types.join(QLatin1String(", "))));
    }

    void serve(Fd fd)
    {
        quint8 type = 0;
        QByteArray payload;
        while (TdsLoginListener::readMessage(int(fd), type, payload)) {
            QByteArray out;
            if (type == 0x12) {
                // VERSION 15.0, ENCRYPTION: not supported.
                out = QByteArray::fromHex("00000b00060100110001ff0f000000000002");
            } else if (type == 0x10) {
                out = loginAnswer(payload);
            } else if (type == 0x01 || type == 0x03) {
                const std::optional<Request> q = decode(type, payload);
                if (!q)
                    break;
                {
                    std::lock_guard lock(m_mutex);
                    m_requests.append(*q);
                }
                if (qEnvironmentVariableIsSet("QC_TDS_TRACE")) // what a run sent, to read
                    trace(*q);
                if (cut == Cut::MidStoreRequest && q->statement == storeStatement())
                    break;
                out = answer(*q);
                if (cutShort(fd, out))
                    break;
            } else if (type == 0x06) {
                done(out, 0xFD, 0x20, 0); // an attention: the cancel acknowledged
            } else {
                done(out, 0xFD, 0, 0); // a transaction request: begin, commit, rollback
            }
            if (!sendMessage(fd, out))
                break;
        }
        // A silent server keeps the connection until the client gives up on it.
        char rest;
        while (cut == Cut::Silent && ::recv(fd, &rest, 1, 0) > 0) {
        }
        TDS_CLOSE(fd);
    }

    Fd m_listen = Fd(-1);
    quint16 m_port = 0;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::vector<Fd> m_clients;
    std::vector<std::thread> m_sessions;
    QList<Request> m_requests;
};
