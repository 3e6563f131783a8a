// Which ODBC driver the station picks from the installed ones, what it asks of it, and
// what the operator reads when there is none or the server's certificate is refused.
// The last cases run on a driver list made up for the test (CTest points the driver
// manager at an odbcinst.ini whose entries carry Windows' driver names over the
// machine's FreeTDS and psqlODBC), on Linux and under Wine alike.

#include "MemorySettings.h"
#include "TdsServer.h"
#include "common/RecordingDesktop.h"
#include "records/Connection.h"
#include "records/ConnectionString.h"
#include "records/DatabaseError.h"
#include "records/Module1.h"
#include "records/OdbcDrivers.h"
#include "records/ProviderConnection.h"

#include <QtTest>

using qc::ConnectionTarget;
namespace Drivers = qc::OdbcDrivers;
using Platform = qc::OdbcDrivers::Platform;

namespace {

const QString k18 = QStringLiteral("ODBC Driver 18 for SQL Server");
const QString k17 = QStringLiteral("ODBC Driver 17 for SQL Server");
const QString kBuiltIn = QStringLiteral("SQL Server");
const QString kFreeTds = QStringLiteral("FreeTDS");

QString failureOf(const std::function<void()>& work)
{
    try {
        work();
    } catch (const qc::Error& error) {
        return error.description();
    }
    return QString();
}

} // namespace

class TestOdbcDrivers : public QObject
{
    Q_OBJECT

private slots:
    void sqlServerChoice_data()
    {
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<bool>("windows");
        QTest::addColumn<QString>("chosen");
        const QString pg = QStringLiteral("PostgreSQL Unicode(x64)");
        QTest::newRow("18 over 17 and the built-in, in any order")
            << QStringList{kBuiltIn, k17, pg, k18} << true << k18;
        QTest::newRow("17 over the built-in") << QStringList{kBuiltIn, k17} << true << k17;
        QTest::newRow("a later driver over 18")
            << QStringList{k18, QStringLiteral("ODBC Driver 19 for SQL Server"), k17} << true
            << QStringLiteral("ODBC Driver 19 for SQL Server");
        QTest::newRow("the built-in alone") << QStringList{pg, kBuiltIn} << true << kBuiltIn;
        QTest::newRow("built-in over FreeTDS on Windows")
            << QStringList{kFreeTds, kBuiltIn} << true << kBuiltIn;
        QTest::newRow("Linux: a \"SQL Server\" entry is not Windows' own")
            << QStringList{kBuiltIn, kFreeTds} << false << kFreeTds;
        QTest::newRow("Linux: Microsoft's over FreeTDS")
            << QStringList{kFreeTds, k18} << false << k18;
        QTest::newRow("names that only look alike")
            << QStringList{QStringLiteral("ODBC Driver 18 for SQL Server (old)"),
                           QStringLiteral("SQL Server Native Client 11.0")}
            << true << QString();
        QTest::newRow("nothing") << QStringList{} << true << QString();
    }
    void sqlServerChoice()
    {
        QFETCH(QStringList, installed);
        QFETCH(bool, windows);
        QFETCH(QString, chosen);
        QCOMPARE(Drivers::chooseSqlServer(installed, windows ? Platform::Windows : Platform::Linux),
                 chosen);
    }

    void postgreSqlChoice_data()
    {
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QString>("chosen");
        QTest::newRow("Windows' 64-bit Unicode first")
            << QStringList{QStringLiteral("PostgreSQL ANSI(x64)"),
                           QStringLiteral("PostgreSQL Unicode"),
                           QStringLiteral("PostgreSQL Unicode(x64)")}
            << QStringLiteral("PostgreSQL Unicode(x64)");
        QTest::newRow("Linux's names")
            << QStringList{QStringLiteral("PostgreSQL ANSI"), QStringLiteral("PostgreSQL Unicode"),
                           kFreeTds}
            << QStringLiteral("PostgreSQL Unicode");
        QTest::newRow("ANSI when alone") << QStringList{k18, QStringLiteral("PostgreSQL ANSI(x64)")}
                                         << QStringLiteral("PostgreSQL ANSI(x64)");
        QTest::newRow("none") << QStringList{k18, kBuiltIn} << QString();
    }
    void postgreSqlChoice()
    {
        QFETCH(QStringList, installed);
        QFETCH(QString, chosen);
        QCOMPARE(Drivers::choosePostgreSql(installed), chosen);
    }

    void noDriverSaysWhatToInstall()
    {
        const auto sqlServer = ConnectionTarget::Engine::SqlServer;
        const auto pg = ConnectionTarget::Engine::PostgreSql;
        const QStringList none{QStringLiteral("PostgreSQL ANSI")};
        QCOMPARE(failureOf([&] { Drivers::driverFor(sqlServer, none, {}, Platform::Windows); }),
                 QStringLiteral("Nenhum driver ODBC para SQL Server está instalado. Instale o "
                                "\"ODBC Driver 18 for SQL Server\" da Microsoft."));
        const QString noPg =
            failureOf([&] { Drivers::driverFor(pg, {k18}, {}, Platform::Windows); });
        QVERIFY2(noPg.contains(QLatin1String("psqlODBC")), qPrintable(noPg));
    }

    void overrideNamesAnInstalledDriver()
    {
        const auto sqlServer = ConnectionTarget::Engine::SqlServer;
        QCOMPARE(Drivers::driverFor(sqlServer, {k18, kBuiltIn}, QStringLiteral("sql server")),
                 kBuiltIn);
        QCOMPARE(failureOf([&] {
                     Drivers::driverFor(sqlServer, {k18, kBuiltIn}, k17);
                 }),
                 QStringLiteral("O driver ODBC \"ODBC Driver 17 for SQL Server\", indicado na "
                                "configuração \"driver\", não está instalado. Drivers "
                                "instalados: ODBC Driver 18 for SQL Server, SQL Server."));
        MemorySettings settings;
        settings.values = {{QStringLiteral("driver"), QStringLiteral(" SQL Server ")},
                           {QStringLiteral("verificarcertificado"), QStringLiteral("1")}};
        const qc::OdbcOverrides overrides = qc::OdbcOverrides::from(settings);
        QCOMPARE(overrides.driver, kBuiltIn);
        QVERIFY(overrides.verifyCertificate);
        QVERIFY(!qc::OdbcOverrides::from(MemorySettings()).verifyCertificate);
    }

    // Driver 18 encrypts by default; the station asks every Microsoft driver to, and takes
    // the school server's own certificate unless told to verify it. Windows' own driver
    // is left to its defaults.
    void encryptionAsked_data()
    {
        QTest::addColumn<QString>("driver");
        QTest::addColumn<bool>("verify");
        QTest::addColumn<QString>("tail");
        QTest::newRow("18") << k18 << false
                            << "PWD={p}}};Encrypt={yes};TrustServerCertificate={yes};";
        QTest::newRow("17, verified")
            << k17 << true << "PWD={p}}};Encrypt={yes};TrustServerCertificate={no};";
        QTest::newRow("built-in") << kBuiltIn << false << "PWD={p}}};";
    }
    void encryptionAsked()
    {
        QFETCH(QString, driver);
        QFETCH(bool, verify);
        QFETCH(QString, tail);
        const ConnectionTarget target = qc::ConnectionString::translate(
            {QStringLiteral("escola"), QStringLiteral("SRV01\\SQLEXPRESS")}, QStringLiteral("op"),
            QStringLiteral("p}"), driver, verify);
        QCOMPARE(
            target.odbcString,
            QStringLiteral("DRIVER={%1};SERVER={SRV01\\SQLEXPRESS};DATABASE={escola};UID={op};")
                    .arg(driver) +
                tail);
        QVERIFY(!target.freeTds);
    }

    void certificateRefusalIsExplained()
    {
        const QString refused = QStringLiteral(
            "[Microsoft][ODBC Driver 18 for SQL Server]SSL Provider: The certificate chain was "
            "issued by an authority that is not trusted.\n[Microsoft][ODBC Driver 18 for SQL "
            "Server]Client unable to establish connection");
        const QString taken = Drivers::explainCertificateFailure(refused, false);
        QVERIFY2(taken.startsWith(QLatin1String("O servidor SQL Server apresentou um certificado")),
                 qPrintable(taken));
        QVERIFY(taken.endsWith(QLatin1Char('\n') + refused));
        const QString verified = Drivers::explainCertificateFailure(refused, true);
        QVERIFY2(verified.contains(QLatin1String("apague o valor \"verificarcertificado\"")),
                 qPrintable(verified));
        QVERIFY(!taken.contains(QLatin1String("verificarcertificado")));
        const QString login = QStringLiteral("[FreeTDS][SQL Server]Login failed for user 'sa'.");
        QCOMPARE(Drivers::explainCertificateFailure(login, true), login);
    }

    void stationConnectsThroughTheChosenName()
    {
        if (qEnvironmentVariableIsEmpty("QC_FAKED_ODBC_DRIVERS"))
            QSKIP("needs the test's odbcinst.ini (run through CTest)");
        // What the driver manager lists is the made-up list, and the station chooses from it.
        QCOMPARE(Drivers::installed(),
                 QString::fromUtf8(qgetenv("QC_FAKED_ODBC_DRIVERS")).split(QLatin1Char('|')));
        TdsServer server;
        QVERIFY(server.port() != 0);
        server.units = {{QStringLiteral("0101"), QStringLiteral("Centro")}};
        RecordingDesktop desktop;
        MemorySettings settings;
        settings.values = {{QStringLiteral("srv"), server.server()},
                           {QStringLiteral("db"), QStringLiteral("escola")},
                           {QStringLiteral("us"), QStringLiteral("sa")},
                           {QStringLiteral("pw"), server.password}};
        qc::Module1 module(desktop, settings);
        QVERIFY2(module.AbrirConexao(), qPrintable(desktop.boxes.value(0).text));
        const QString target = module.cnBanco()->maskedTarget();
        QVERIFY2(
            target.startsWith(QStringLiteral("DRIVER={%1};SERVER={%2};").arg(k17, server.server())),
            qPrintable(target));
        QVERIFY2(target.endsWith(QLatin1String("Encrypt={yes};TrustServerCertificate={yes};")),
                 qPrintable(target));
        QCOMPARE(module.cnBanco()
                     ->provider()
                     .query(QStringLiteral("select codigounidade, RazaoSocial from bas_unidades "
                                           "order by codigounidade"),
                            {})
                     .rows.size(),
                 1);

        // A refused login names the driver that was tried.
        settings.values[QStringLiteral("pw")] = QStringLiteral("wrong");
        QVERIFY(!module.AbrirConexao());
        const QString text = desktop.boxes.value(0).text;
        QVERIFY2(text.contains(QLatin1String("Login failed for user 'sa'.")) &&
                     text.endsWith(QStringLiteral("Driver ODBC: \"%1\".").arg(k17)),
                 qPrintable(text));

        // The operator's override: FreeTDS's name is not installed here.
        settings.values[QStringLiteral("pw")] = server.password;
        settings.values[QStringLiteral("driver")] = kFreeTds;
        QVERIFY(!module.AbrirConexao());
        QVERIFY2(desktop.boxes.value(1).text.contains(
                     QStringLiteral("indicado na configuração \"driver\", não está instalado")),
                 qPrintable(desktop.boxes.value(1).text));
    }
};

QTEST_GUILESS_MAIN(TestOdbcDrivers)
#include "tst_OdbcDrivers.moc"
