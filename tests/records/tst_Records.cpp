// The data-access layer against real engines: every body runs once on SQLite and once on
// the PostgreSQL test server (global data rows).

#include "DatabaseFixture.h"
#include "MemorySettings.h"
#include "common/RecordingDesktop.h"
#include "records/Connection.h"
#include "records/ConnectionString.h"
#include "records/DatabaseError.h"
#include "records/DatabaseWaits.h"
#include "records/Module1.h"
#include "records/Recordset.h"
#include "records/Transaction.h"
#include "records/UnitList.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QtTest>

#include <thread>

using qc::Connection;
using qc::Recordset;

namespace {

const QString kSelectStudent = QStringLiteral(
    "SELECT * FROM Aca_FichaCadastralAluno WHERE codigounidade = ? and matricula = ?");
constexpr qint64 kChunk = 16384;

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(generator.bounded(256));
    return bytes;
}

// The store as the photo procedure does it: clear, then the remainder and whole blocks
// appended, one update, all in one transaction.
void storePhoto(const std::shared_ptr<Connection>& cn, const QString& unit,
                const QString& enrolment, const QByteArray& bytes)
{
    qc::Transaction work(*cn);
    Recordset rs;
    rs.setUpdateTarget(QStringLiteral("Aca_FichaCadastralAluno"),
                       {QStringLiteral("codigounidade"), QStringLiteral("matricula")});
    rs.open(kSelectStudent, cn, {unit, enrolment});
    QVERIFY(!rs.eof());
    rs.moveFirst();
    rs.fields(QStringLiteral("foto")).setNull();
    rs.update();
    const qsizetype rest = bytes.size() % kChunk;
    if (bytes.isEmpty()) // an empty photo is a value, not the cleared field
        rs.fields(QStringLiteral("foto")).appendChunk(bytes);
    if (rest)
        rs.fields(QStringLiteral("foto")).appendChunk(bytes.left(rest));
    for (qsizetype at = rest; at < bytes.size(); at += kChunk)
        rs.fields(QStringLiteral("foto")).appendChunk(bytes.mid(at, kChunk));
    rs.update();
    rs.close();
    work.commit();
}

struct ReadBack
{
    qint64 actualSize = -1;
    QList<qsizetype> chunks;
    QByteArray bytes;
    bool isNull = false;
};

// The read as the photo procedure does it: size first, then chunks until that many
// bytes were asked for.
ReadBack readPhoto(const std::shared_ptr<Connection>& cn, const QString& unit,
                   const QString& enrolment)
{
    ReadBack out;
    Recordset rs;
    rs.open(QStringLiteral("SELECT matricula, foto FROM Aca_FichaCadastralAluno WHERE "
                           "CodigoUnidade = ? and matricula = ?"),
            cn, {unit, enrolment}, 1, 3, 0);
    if (rs.eof())
        return out;
    rs.moveFirst();
    qc::Field& foto = rs.fields(QStringLiteral("foto"));
    out.actualSize = foto.actualSize();
    out.isNull = foto.isNull();
    for (qint64 asked = 0; asked < out.actualSize; asked += kChunk) {
        const QByteArray chunk = foto.getChunk(kChunk);
        out.chunks.append(chunk.size());
        out.bytes.append(chunk);
    }
    rs.close();
    return out;
}

class ListRecorder : public qc::UnitListView
{
public:
    QStringList texts;
    QStringList codes;
    int selected = -1;
    int clears = 0;
    void clear() override
    {
        ++clears;
        texts.clear();
        codes.clear();
        selected = -1;
    }
    void addEntry(const QString& text, const QString& code) override
    {
        texts.append(text);
        codes.append(code);
    }
    void selectFirst() override { selected = texts.isEmpty() ? -1 : 0; }
};

} // namespace

class TestRecords : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<DatabaseFixture> m_db;
    std::shared_ptr<Connection> m_cn;

    void addStudent(const QString& unit, const QString& enrolment)
    {
        m_cn->execute(QStringLiteral("INSERT INTO Aca_FichaCadastralAluno (codigounidade, "
                                     "matricula) VALUES (?, ?)"),
                      {unit, enrolment});
    }

private slots:
    void initTestCase_data() { DatabaseFixture::addEngineRows(); }

    void init()
    {
        QFETCH_GLOBAL(QString, engine);
        m_db = std::make_unique<DatabaseFixture>(engine);
        m_cn = m_db->connect();
        m_db->createTables(*m_cn);
    }

    void cleanup()
    {
        m_cn.reset();
        m_db.reset();
    }

    void chunkSizesFollowTheStoredSize_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QList<qsizetype>>("chunks");
        QTest::newRow("40000") << 40000 << QList<qsizetype>{16384, 16384, 7232};
        QTest::newRow("16384") << 16384 << QList<qsizetype>{16384};
        QTest::newRow("100") << 100 << QList<qsizetype>{100};
    }
    void chunkSizesFollowTheStoredSize()
    {
        QFETCH(int, size);
        QFETCH(QList<qsizetype>, chunks);
        addStudent(QStringLiteral("1"), QStringLiteral("1001"));
        const QByteArray photo = randomBytes(size, quint32(size));
        storePhoto(m_cn, QStringLiteral("1"), QStringLiteral("1001"), photo);
        const ReadBack back = readPhoto(m_cn, QStringLiteral("1"), QStringLiteral("1001"));
        QCOMPARE(back.actualSize, qint64(size));
        QCOMPARE(back.chunks, chunks);
        QVERIFY(back.bytes == photo);
    }

    void photoRoundTripsByteForByte_data()
    {
        QTest::addColumn<int>("size");
        for (int size : {0, 1, 16383, 16384, 16385, 5000000})
            QTest::newRow(qPrintable(QString::number(size))) << size;
    }
    void photoRoundTripsByteForByte()
    {
        QFETCH(int, size);
        addStudent(QStringLiteral("22"), QStringLiteral("A-7"));
        addStudent(QStringLiteral("22"), QStringLiteral("A-8"));
        const QByteArray photo = randomBytes(size, 7u + quint32(size));
        storePhoto(m_cn, QStringLiteral("22"), QStringLiteral("A-7"), photo);

        // A fresh connection sees what was committed.
        const ReadBack back =
            readPhoto(m_db->connect(), QStringLiteral("22"), QStringLiteral("A-7"));
        QCOMPARE(back.actualSize, qint64(size));
        QVERIFY(!back.isNull);
        QCOMPARE(back.bytes.size(), qsizetype(size));
        QVERIFY(back.bytes == photo);
        // The neighbour's row was not touched.
        QVERIFY(readPhoto(m_cn, QStringLiteral("22"), QStringLiteral("A-8")).isNull);
    }

    // What the stall probe takes out of the UI thread's stalls: the calling thread's
    // time in the database, and no other thread's.
    void databaseWaitsCountTheCallingThread()
    {
        addStudent(QStringLiteral("1"), QStringLiteral("1003"));
        const qint64 before = qc::DatabaseWaits::threadTotalNs();
        QElapsedTimer clock;
        clock.start();
        storePhoto(m_cn, QStringLiteral("1"), QStringLiteral("1003"), randomBytes(300000, 3u));
        const qint64 elapsed = clock.nsecsElapsed();
        const qint64 waited = qc::DatabaseWaits::threadTotalNs() - before;
        QVERIFY(waited > 0);
        QVERIFY(waited <= elapsed);

        const qint64 mine = qc::DatabaseWaits::threadTotalNs();
        qint64 theirs = 0;
        std::thread other([&] {
            readPhoto(m_db->connect(), QStringLiteral("1"), QStringLiteral("1003"));
            theirs = qc::DatabaseWaits::threadTotalNs();
        });
        other.join();
        QVERIFY(theirs > 0);
        QCOMPARE(qc::DatabaseWaits::threadTotalNs(), mine);
    }

    void nullPhotoHasSizeZero()
    {
        addStudent(QStringLiteral("1"), QStringLiteral("1002"));
        Recordset rs;
        rs.open(kSelectStudent, m_cn, {QStringLiteral("1"), QStringLiteral("1002")});
        QVERIFY(!rs.eof());
        qc::Field& foto = rs.fields(QStringLiteral("foto"));
        QVERIFY(foto.isNull());
        QCOMPARE(foto.actualSize(), qint64(0));
        QVERIFY(foto.getChunk(kChunk).isEmpty());
    }

    void rollbackRestoresThePreviousPhoto_data()
    {
        QTest::addColumn<bool>("failInsideTheStore");
        QTest::newRow("explicit rollback") << false;
        QTest::newRow("failure after clearing") << true;
    }
    void rollbackRestoresThePreviousPhoto()
    {
        QFETCH(bool, failInsideTheStore);
        addStudent(QStringLiteral("333"), QStringLiteral("9"));
        const QByteArray previous = randomBytes(40000, 1);
        storePhoto(m_cn, QStringLiteral("333"), QStringLiteral("9"), previous);

        try {
            qc::Transaction work(*m_cn);
            Recordset rs;
            rs.setUpdateTarget(QStringLiteral("Aca_FichaCadastralAluno"),
                               {QStringLiteral("codigounidade"), QStringLiteral("matricula")});
            rs.open(kSelectStudent, m_cn, {QStringLiteral("333"), QStringLiteral("9")});
            rs.fields(QStringLiteral("foto")).setNull();
            rs.update();
            rs.fields(QStringLiteral("foto")).appendChunk(randomBytes(5000000, 2));
            rs.update();
            if (failInsideTheStore)
                m_cn->execute(QStringLiteral("SELECT * FROM no_such_table"));
            else
                m_cn->rollbackTransaction();
        } catch (const qc::DatabaseError& error) {
            QVERIFY(failInsideTheStore);
            QVERIFY(error.description().contains(QLatin1String("no_such_table")));
        }
        QVERIFY(!m_cn->inTransaction());
        const ReadBack back =
            readPhoto(m_db->connect(), QStringLiteral("333"), QStringLiteral("9"));
        QCOMPARE(back.actualSize, qint64(previous.size()));
        QVERIFY(back.bytes == previous);
    }

    void quotedEnrolmentMatchesOnlyItself_data()
    {
        QTest::addColumn<QString>("enrolment");
        QTest::newRow("quote inside") << QStringLiteral("12'3");
        QTest::newRow("injection attempt") << QStringLiteral("x' OR '1'='1");
        QTest::newRow("leading blank") << QStringLiteral(" 123");
    }
    void quotedEnrolmentMatchesOnlyItself()
    {
        QFETCH(QString, enrolment);
        for (const QString& other :
             {QStringLiteral("123"), QStringLiteral("x"), QStringLiteral("12"), enrolment})
            addStudent(QStringLiteral("1"), other);
        const QByteArray photo = randomBytes(500, 3);
        storePhoto(m_cn, QStringLiteral("1"), enrolment, photo);

        Recordset rs;
        rs.open(QStringLiteral("SELECT matricula, foto FROM Aca_FichaCadastralAluno WHERE "
                               "foto IS NOT NULL"),
                m_cn);
        QCOMPARE(rs.recordCount(), 1);
        QCOMPARE(rs.fields(QStringLiteral("matricula")).value().toString(), enrolment);
        QVERIFY(rs.fields(QStringLiteral("foto")).value().toByteArray() == photo);
    }

    void twoMatchingRowsChangeOnlyOne()
    {
        addStudent(QStringLiteral("1"), QStringLiteral("55"));
        addStudent(QStringLiteral("1"), QStringLiteral("55"));
        storePhoto(m_cn, QStringLiteral("1"), QStringLiteral("55"), QByteArray("jpeg"));
        Recordset rs;
        rs.open(QStringLiteral("SELECT foto FROM Aca_FichaCadastralAluno WHERE matricula = ?"),
                m_cn, {QStringLiteral("55")});
        int withPhoto = 0;
        for (; !rs.eof(); rs.moveNext())
            withPhoto += rs.fields(QStringLiteral("foto")).isNull() ? 0 : 1;
        QCOMPARE(withPhoto, 1);
    }

    void updateWithoutRowReportsTheFailure()
    {
        addStudent(QStringLiteral("1"), QStringLiteral("77"));
        Recordset rs;
        rs.setUpdateTarget(QStringLiteral("Aca_FichaCadastralAluno"),
                           {QStringLiteral("codigounidade"), QStringLiteral("matricula")});
        rs.open(kSelectStudent, m_cn, {QStringLiteral("1"), QStringLiteral("77")});
        m_cn->execute(QStringLiteral("DELETE FROM Aca_FichaCadastralAluno"));
        rs.fields(QStringLiteral("foto")).appendChunk(QByteArray("x"));
        QVERIFY_THROWS_EXCEPTION(qc::DatabaseError, rs.update());
    }

    void errorsCarryTheDriverText()
    {
        try {
            Recordset rs;
            rs.open(QStringLiteral("SELECT codigo FROM bas_unidades_missing"), m_cn);
            QFAIL("a missing table must fail");
        } catch (const qc::DatabaseError& error) {
            QVERIFY2(error.description().contains(QLatin1String("bas_unidades_missing")),
                     qPrintable(error.description()));
        }
    }

    void unitList_data()
    {
        QTest::addColumn<QVariantList>("rows"); // code, name, code, name, ...
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QStringList>("codes");
        QTest::newRow("empty") << QVariantList{} << QStringList{} << QStringList{};
        QTest::newRow("codes 1 2 3")
            << QVariantList{QStringLiteral("3"),  QStringLiteral("Três"), QStringLiteral("1"),
                            QStringLiteral("Um"), QStringLiteral("2"),    QStringLiteral("Dois")}
            << QStringList{QStringLiteral("1  | Um"), QStringLiteral("2  | Dois"),
                           QStringLiteral("3  | Três")}
            << QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")};
        QTest::newRow("one to four characters, null name, blanks kept")
            << QVariantList{QStringLiteral("4444"), QStringLiteral("Colégio  "),
                            QStringLiteral("333"),  QVariant(),
                            QStringLiteral("22"),   QStringLiteral(" Escola"),
                            QStringLiteral("1"),    QStringLiteral("A")}
            << QStringList{QStringLiteral("1  | A"), QStringLiteral("22  |  Escola"),
                           QStringLiteral("333  | "), QStringLiteral("4444  | Colégio  ")}
            << QStringList{QStringLiteral("1"), QStringLiteral("22"), QStringLiteral("333"),
                           QStringLiteral("4444")};
    }
    void unitList()
    {
        QFETCH(QVariantList, rows);
        QFETCH(QStringList, texts);
        QFETCH(QStringList, codes);
        for (qsizetype i = 0; i < rows.size(); i += 2)
            m_cn->execute(QStringLiteral("INSERT INTO bas_unidades VALUES (?, ?)"),
                          {rows.at(i), rows.at(i + 1)});
        ListRecorder list;
        list.addEntry(QStringLiteral("stale"), QStringLiteral("9"));
        qc::UnitList::MontarComboUnidade(m_cn, list);
        QCOMPARE(list.texts, texts);
        QCOMPARE(list.codes, codes);
        QCOMPARE(list.selected, texts.isEmpty() ? -1 : 0);
        // Filling again gives the same list, not a doubled one.
        qc::UnitList::MontarComboUnidade(m_cn, list);
        QCOMPARE(list.texts, texts);
    }

    void unitListFailuresLeaveAnEmptyList_data()
    {
        QTest::addColumn<bool>("closedConnection");
        QTest::newRow("table missing") << false;
        QTest::newRow("connection closed") << true;
    }
    void unitListFailuresLeaveAnEmptyList()
    {
        QFETCH(bool, closedConnection);
        if (closedConnection)
            m_cn->close();
        else
            m_cn->execute(QStringLiteral("DROP TABLE bas_unidades"));
        ListRecorder list;
        list.addEntry(QStringLiteral("1  | old"), QStringLiteral("1"));
        qc::UnitList::MontarComboUnidade(m_cn, list);
        QCOMPARE(list.clears, 1);
        QVERIFY(list.texts.isEmpty());
        QCOMPARE(list.selected, -1);
    }

    void abrirConexao_data()
    {
        QTest::addColumn<bool>("breakIt");
        QTest::newRow("stored settings connect") << false;
        QTest::newRow("refused open is reported") << true;
    }
    void abrirConexao()
    {
        QFETCH(bool, breakIt);
        RecordingDesktop desktop;
        MemorySettings settings;
        settings.values = {{QStringLiteral("srv"), m_db->server()},
                           {QStringLiteral("db"), m_db->database()},
                           {QStringLiteral("us"), m_db->user()},
                           {QStringLiteral("pw"), m_db->password()}};
        if (breakIt) {
            if (m_db->engine() == QLatin1String("sqlite"))
                settings.values[QStringLiteral("srv")] += QStringLiteral(".missing");
            else
                settings.values[QStringLiteral("pw")] += QStringLiteral("-wrong");
        }
        int dialogs = 0;
        qc::Module1 module(desktop, settings);
        module.setShowSettingsDialog([&] { ++dialogs; });
        const bool opened = module.AbrirConexao();
        QCOMPARE(opened, !breakIt);
        QCOMPARE(dialogs, 0);
        QVERIFY(module.cnBanco());
        QCOMPARE(module.cnBanco()->isOpen(), !breakIt);
        QCOMPARE(module.cnBanco()->cursorLocation(), Connection::UseClient);
        QVERIFY(!desktop.waitCursor());
        if (!breakIt) {
            QCOMPARE(desktop.calls,
                     (QStringList{QStringLiteral("wait:on"), QStringLiteral("wait:off")}));
            return;
        }
        QCOMPARE(desktop.boxes.size(), 1);
        const RecordingDesktop::Box box = desktop.boxes.first();
        const QString prefix = QStringLiteral("Erro ao conectar ao Banco de Dados. Erro:");
        QVERIFY2(box.text.startsWith(prefix), qPrintable(box.text));
        const QString driverText = box.text.mid(prefix.size());
        QVERIFY(!driverText.isEmpty() && !driverText.startsWith(QLatin1Char(' ')));
        if (m_db->engine() == QLatin1String("postgresql"))
            QVERIFY2(driverText.contains(QLatin1String("password authentication failed")),
                     qPrintable(driverText));
        else
            QVERIFY2(driverText.contains(QLatin1String("unable to open database file")),
                     qPrintable(driverText));
        QCOMPARE(box.title, QStringLiteral("QuveloCap"));
        QCOMPARE(box.icon, qc::Desktop::Icon::Critical);
        // The pointer is back to the default before the box shows.
        QCOMPARE(desktop.calls, (QStringList{QStringLiteral("wait:on"), QStringLiteral("wait:off"),
                                             QStringLiteral("messageBox:") + box.text}));
    }

    void passwordWithSeparatorsReachesTheServer()
    {
        if (m_db->engine() != QLatin1String("postgresql"))
            QSKIP("only a server checks passwords");
        const QString password = DatabaseFixture::oddPassword();
        QVERIFY(password.contains(QLatin1Char(';')) && password.contains(QLatin1Char('{')) &&
                password.contains(QLatin1Char('}')) && password.contains(QLatin1Char('=')));
        RecordingDesktop desktop;
        MemorySettings settings;
        settings.values = {{QStringLiteral("srv"), m_db->server()},
                           {QStringLiteral("db"), m_db->database()},
                           {QStringLiteral("us"), DatabaseFixture::oddUser()},
                           {QStringLiteral("pw"), password}};
        qc::Module1 module(desktop, settings);
        QVERIFY2(module.AbrirConexao(),
                 qPrintable(desktop.boxes.isEmpty() ? QString() : desktop.boxes.first().text));
        Recordset rs;
        rs.open(QStringLiteral("SELECT current_user AS who"), module.cnBanco());
        QCOMPARE(rs.fields(QStringLiteral("who")).value().toString(), DatabaseFixture::oddUser());
        QVERIFY(!module.cnBanco()->maskedTarget().contains(password));
        QVERIFY(module.cnBanco()->maskedTarget().contains(QLatin1String("PWD=***;")));
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_Records.moc"
