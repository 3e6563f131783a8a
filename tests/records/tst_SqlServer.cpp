// The station against a server that answers in TDS as SQL Server does, through FreeTDS's
// ODBC driver: what goes over the wire for each photo operation, and what comes back.

#include "MemorySettings.h"
#include "TdsServer.h"
#include "common/RecordingDesktop.h"
#include "records/Connection.h"
#include "records/ConnectionString.h"
#include "records/Module1.h"
#include "records/PhotoRecords.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {

const QString kUnit = QStringLiteral("0101");
const QString kEnrolment = QStringLiteral("2024001");

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator{quint32(size)};
    for (char& c : bytes)
        c = char(generator.generate());
    return bytes;
}

} // namespace

class tst_SqlServer : public QObject
{
    Q_OBJECT

    std::unique_ptr<TdsServer> m_server;
    std::unique_ptr<RecordingDesktop> m_desktop;
    std::unique_ptr<MemorySettings> m_settings;
    std::unique_ptr<qc::Module1> m_module;

    void openStation()
    {
        auto cn = std::make_shared<qc::Connection>();
        cn->open(qc::ConnectionString::build(QStringLiteral("sa"), m_server->password,
                                             QStringLiteral("escola"), m_server->server()),
                 QStringLiteral("sa"), m_server->password);
        m_module->setCnBanco(cn);
    }

private slots:
    void init()
    {
        m_server = std::make_unique<TdsServer>();
        QVERIFY(m_server->port() != 0);
        m_server->students = {{kUnit, kEnrolment, QByteArray("old photo")}};
        m_desktop = std::make_unique<RecordingDesktop>();
        m_settings = std::make_unique<MemorySettings>();
        m_module = std::make_unique<qc::Module1>(*m_desktop, *m_settings);
        openStation();
    }

    void cleanup()
    {
        m_module.reset();
        m_server.reset();
    }

    void wrongPasswordGivesTheServersText()
    {
        qc::Connection cn;
        QString failure;
        try {
            cn.open(qc::ConnectionString::build(QStringLiteral("sa"), QStringLiteral("wrong"),
                                                QStringLiteral("escola"), m_server->server()),
                    QStringLiteral("sa"), QStringLiteral("wrong"));
        } catch (const std::exception& error) {
            failure = QString::fromUtf8(error.what());
        }
        QVERIFY(!cn.isOpen());
        QVERIFY2(failure.contains(QLatin1String("Login failed for user 'sa'.")),
                 qPrintable(failure));
    }

    void storeSendsThePhotoWholeAsVarbinaryMax_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("1 byte") << 1;
        QTest::newRow("8,000 bytes") << 8000;
        QTest::newRow("8,001 bytes") << 8001;
        QTest::newRow("12 KB") << 12 * 1024;
        QTest::newRow("16,384 bytes") << 16384;
        QTest::newRow("16,385 bytes") << 16385;
        QTest::newRow("47 KB") << 47 * 1024;
        QTest::newRow("5 MB") << 5 * 1024 * 1024;
    }
    void storeSendsThePhotoWholeAsVarbinaryMax()
    {
        QFETCH(int, size);
        const QByteArray photo = randomBytes(size);
        qc::PhotoRecords records(*m_module, [](const QString&) {});
        try {
            QCOMPARE(records.storePhoto(kUnit, kEnrolment, photo),
                     qc::PhotoRecords::Outcome::Done);
        } catch (const std::exception& e) {
            QFAIL(e.what());
        }
        const std::optional<QByteArray> stored = m_server->photoOf(kEnrolment);
        QVERIFY(stored.has_value());
        QCOMPARE(stored->size(), photo.size());
        QVERIFY(*stored == photo);
        const TdsServer::Request store = m_server->requests().last();
        QCOMPARE(store.procedure, QStringLiteral("sp_executesql"));
        QCOMPARE(store.params.first().type, quint8(0xA5)); // varbinary, never image
        QCOMPARE(store.params.first().maxLength, quint32(0xFFFF)); // (max), as PLP
    }
};

QTEST_GUILESS_MAIN(tst_SqlServer)
#include "tst_SqlServer.moc"
