// The classic connection string and what each engine is handed instead.

#include "MemorySettings.h"
#include "TdsLoginListener.h"
#include "common/RecordingDesktop.h"
#include "records/Connection.h"
#include "records/ConnectionString.h"
#include "records/DatabaseError.h"
#include "records/Module1.h"
#include "records/OdbcConnection.h"

#include <QtTest>

using qc::ConnectionString;
using qc::ConnectionTarget;

class TestConnectionString : public QObject
{
    Q_OBJECT

private slots:
    void classicTextIsPlainConcatenation_data()
    {
        QTest::addColumn<QStringList>("settings"); // user, password, database, server
        QTest::addColumn<QString>("expected");
        QTest::newRow("all set")
            << QStringList{QStringLiteral("sa"), QStringLiteral("s3nha"), QStringLiteral("escola"),
                           QStringLiteral("SRV01\\SQLEXPRESS")}
            << QStringLiteral(
                   "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=sa;"
                   "Password=s3nha;Initial Catalog=escola;Data Source=SRV01\\SQLEXPRESS");
        QTest::newRow("only the server")
            << QStringList{QString(), QString(), QString(), QStringLiteral("db.local")}
            << QStringLiteral("Provider=SQLOLEDB.1;Persist Security Info=False;User ID=;"
                              "Password=;Initial Catalog=;Data Source=db.local");
        QTest::newRow("nothing escaped")
            << QStringList{QStringLiteral(" u "), QStringLiteral("a;b=c"), QStringLiteral("d b"),
                           QStringLiteral("  ")}
            << QStringLiteral("Provider=SQLOLEDB.1;Persist Security Info=False;User ID= u ;"
                              "Password=a;b=c;Initial Catalog=d b;Data Source=  ");
    }
    void classicTextIsPlainConcatenation()
    {
        QFETCH(QStringList, settings);
        QFETCH(QString, expected);
        QCOMPARE(ConnectionString::build(settings[0], settings[1], settings[2], settings[3]),
                 expected);
    }

    void engineStrings_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("driver"); // the SQL Server driver installed
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("odbc");
        QTest::addColumn<QString>("masked");
        const QString odd = QStringLiteral("p;w{x}=;Data Source=evil");
        QTest::newRow("postgresql, default port")
            << QStringLiteral("postgresql://db.escola") << QString() << QStringLiteral("pw")
            << QStringLiteral("DRIVER={PostgreSQL Unicode};SERVER=db.escola;PORT=5432;"
                              "DATABASE=escola;UID=op;PWD={pw};ByteaAsLongVarBinary=1;")
            << QStringLiteral("DRIVER={PostgreSQL Unicode};SERVER=db.escola;PORT=5432;"
                              "DATABASE=escola;UID=op;PWD=***;ByteaAsLongVarBinary=1;");
        QTest::newRow("postgresql, port, odd password")
            << QStringLiteral("postgresql://127.0.0.1:6543") << QString() << odd
            << QStringLiteral("DRIVER={PostgreSQL Unicode};SERVER=127.0.0.1;PORT=6543;"
                              "DATABASE=escola;UID=op;PWD={p;w{x}}=;Data Source=evil};"
                              "ByteaAsLongVarBinary=1;")
            << QStringLiteral("DRIVER={PostgreSQL Unicode};SERVER=127.0.0.1;PORT=6543;"
                              "DATABASE=escola;UID=op;PWD=***;ByteaAsLongVarBinary=1;");
        QTest::newRow("freetds, host")
            << QStringLiteral("SRV01") << QStringLiteral("FreeTDS") << QStringLiteral("pw")
            << QStringLiteral("DRIVER={FreeTDS};SERVER={SRV01};PORT={1433};DATABASE={escola};"
                              "UID={op};PWD={pw};TDS_Version={7.4};ClientCharset={UTF-8};")
            << QStringLiteral("DRIVER={FreeTDS};SERVER={SRV01};PORT={1433};DATABASE={escola};"
                              "UID={op};PWD=***;TDS_Version={7.4};ClientCharset={UTF-8};");
        QTest::newRow("freetds, host and port")
            << QStringLiteral("10.0.0.5,14330") << QStringLiteral("FreeTDS") << odd
            << QStringLiteral("DRIVER={FreeTDS};SERVER={10.0.0.5};PORT={14330};DATABASE={escola};"
                              "UID={op};PWD={p;w{x}=;Data Source=evil};TDS_Version={7.4};"
                              "ClientCharset={UTF-8};")
            << QStringLiteral("DRIVER={FreeTDS};SERVER={10.0.0.5};PORT={14330};DATABASE={escola};"
                              "UID={op};PWD=***;TDS_Version={7.4};ClientCharset={UTF-8};");
        QTest::newRow("freetds, named instance")
            << QStringLiteral("SRV01\\SQLEXPRESS") << QStringLiteral("FreeTDS")
            << QStringLiteral("pw")
            << QStringLiteral("DRIVER={FreeTDS};SERVER={SRV01\\SQLEXPRESS};DATABASE={escola};"
                              "UID={op};PWD={pw};TDS_Version={7.4};ClientCharset={UTF-8};")
            << QStringLiteral("DRIVER={FreeTDS};SERVER={SRV01\\SQLEXPRESS};DATABASE={escola};"
                              "UID={op};PWD=***;TDS_Version={7.4};ClientCharset={UTF-8};");
        QTest::newRow("microsoft driver")
            << QStringLiteral("SRV01,1433") << QStringLiteral("ODBC Driver 18 for SQL Server")
            << QStringLiteral("pw")
            << QStringLiteral("DRIVER={ODBC Driver 18 for SQL Server};SERVER={SRV01,1433};"
                              "DATABASE={escola};UID={op};PWD={pw};Encrypt={yes};"
                              "TrustServerCertificate={yes};")
            << QStringLiteral("DRIVER={ODBC Driver 18 for SQL Server};SERVER={SRV01,1433};"
                              "DATABASE={escola};UID={op};PWD=***;Encrypt={yes};"
                              "TrustServerCertificate={yes};");
        // Blanks around the server and the scheme in capitals still name the engine.
        QTest::newRow("postgresql in capitals, blanks")
            << QStringLiteral(" POSTGRESQL://db.escola ") << QString() << QStringLiteral("pw")
            << QStringLiteral("DRIVER={PostgreSQL Unicode};SERVER=db.escola;PORT=5432;"
                              "DATABASE=escola;UID=op;PWD={pw};ByteaAsLongVarBinary=1;")
            << QStringLiteral("DRIVER={PostgreSQL Unicode};SERVER=db.escola;PORT=5432;"
                              "DATABASE=escola;UID=op;PWD=***;ByteaAsLongVarBinary=1;");
    }
    void engineStrings()
    {
        QFETCH(QString, server);
        QFETCH(QString, driver);
        QFETCH(QString, password);
        QFETCH(QString, odbc);
        QFETCH(QString, masked);
        const QString user = QStringLiteral("op");
        const QString classic =
            ConnectionString::build(user, password, QStringLiteral("escola"), server);
        const ConnectionString::Parts parts = ConnectionString::parse(classic, user, password);
        QCOMPARE(parts.database, QStringLiteral("escola"));
        QCOMPARE(parts.server, server);
        const ConnectionTarget target = ConnectionString::translate(parts, user, password, driver);
        QCOMPARE(target.odbcString, odbc);
        QCOMPARE(ConnectionString::masked(target), masked);
        QCOMPARE(target.freeTds, driver == QLatin1String("FreeTDS"));
    }

    void sqliteSettingIgnoresTheRest()
    {
        const ConnectionTarget target = ConnectionString::translate(
            ConnectionString::parse(
                ConnectionString::build(QStringLiteral("u"), QStringLiteral("p"),
                                        QStringLiteral("d"), QStringLiteral("sqlite:/tmp/a b.db")),
                QStringLiteral("u"), QStringLiteral("p")),
            QStringLiteral("u"), QStringLiteral("p"), QString());
        QCOMPARE(target.engine, ConnectionTarget::Engine::Sqlite);
        QCOMPARE(target.sqlitePath, QStringLiteral("/tmp/a b.db"));
    }

    void missingSqlServerDriverNamesWhatToInstall()
    {
        try {
            ConnectionString::translate({QStringLiteral("escola"), QStringLiteral("SRV01")},
                                        QStringLiteral("sa"), QStringLiteral("x"), QString());
            QFAIL("a SQL Server setting without a driver must fail");
        } catch (const qc::DatabaseError& error) {
            // Linux also names its own package; Windows only Microsoft's driver.
            QVERIFY2(error.description().contains(QLatin1String(
                         "Instale o \"ODBC Driver 18 for SQL Server\" da Microsoft")) ||
                         (error.description().contains(QLatin1String("tdsodbc")) &&
                          error.description().contains(QLatin1String("msodbcsql18"))),
                     qPrintable(error.description()));
        }
    }

    void postgresqlRefusesSeparatorsOutsideThePassword_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("database");
        QTest::addColumn<QString>("user");
        QTest::newRow("database") << QStringLiteral("postgresql://h") << QStringLiteral("e;UID=x")
                                  << QStringLiteral("op");
        QTest::newRow("user") << QStringLiteral("postgresql://h") << QStringLiteral("e")
                              << QStringLiteral("{op}");
        QTest::newRow("host") << QStringLiteral("postgresql://h=1") << QStringLiteral("e")
                              << QStringLiteral("op");
    }
    void postgresqlRefusesSeparatorsOutsideThePassword()
    {
        QFETCH(QString, server);
        QFETCH(QString, database);
        QFETCH(QString, user);
        QVERIFY_THROWS_EXCEPTION(
            qc::DatabaseError,
            ConnectionString::translate({database, server}, user, QStringLiteral("pw"), QString()));
    }

    // Found by the connection-string fuzzer: the driver reads its connection as a C string,
    // so a NUL in a setting cut the string there (with FreeTDS inside a quoted server name).
    void nulInASettingIsRefused_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("database");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("driver");
        const QChar nul(0);
        QTest::newRow("FreeTDS server")
            << QStringLiteral("SRV00\\") + nul + QStringLiteral("SQLEXPRESS")
            << QStringLiteral("escola") << QStringLiteral("s1nha") << QStringLiteral("FreeTDS");
        QTest::newRow("PostgreSQL password")
            << QStringLiteral("postgresql://h") << QStringLiteral("escola")
            << QStringLiteral("pw") + nul + QStringLiteral("x") << QString();
        QTest::newRow("SQL Server database")
            << QStringLiteral("h") << QStringLiteral("esc") + nul + QStringLiteral("ola")
            << QStringLiteral("pw") << QStringLiteral("ODBC Driver 18 for SQL Server");
        QTest::newRow("SQLite path")
            << QStringLiteral("sqlite:/tmp/a.db") + nul + QStringLiteral("b") << QString()
            << QString() << QString();
    }
    void nulInASettingIsRefused()
    {
        QFETCH(QString, server);
        QFETCH(QString, database);
        QFETCH(QString, password);
        QFETCH(QString, driver);
        try {
            ConnectionString::translate({database, server}, QStringLiteral("op"), password, driver);
            QFAIL("a setting with a NUL was accepted");
        } catch (const qc::DatabaseError& e) {
            QCOMPARE(e.description(),
                     QStringLiteral("Configuração de conexão com caractere nulo não é aceita."));
        }
    }

    void mismatchedUserIsRefused()
    {
        QVERIFY_THROWS_EXCEPTION(
            qc::DatabaseError,
            ConnectionString::parse(
                ConnectionString::build(QStringLiteral("a"), QStringLiteral("p"),
                                        QStringLiteral("d"), QStringLiteral("s")),
                QStringLiteral("b"), QStringLiteral("p")));
    }

    void freeTdsIsTheInstalledSqlServerDriver()
    {
        // Debian ships FreeTDS only; Microsoft's driver would be preferred when present.
        QCOMPARE(qc::OdbcConnection::sqlServerDriver(), QStringLiteral("FreeTDS"));
    }

    // What FreeTDS puts on the wire for settings that hold the connection string's own
    // characters: each value arrives exactly as typed, or the open is refused before
    // anything is sent, with a reason that names the setting.
    void freeTdsSendsEveryValueLiterally_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("database");
        QTest::addColumn<QString>("refusal"); // empty: the login must arrive
        QTest::newRow("plain") << "sa"
                               << "s3nha"
                               << "escola"
                               << "";
        QTest::newRow("separators") << "sa"
                                    << "a;b=c{d"
                                    << "escola;x=1"
                                    << "";
        QTest::newRow("closing brace") << "sa"
                                       << "p}w"
                                       << "escola"
                                       << "";
        QTest::newRow("brace, then another user") << "sa"
                                                  << "x};UID={evil"
                                                  << "escola"
                                                  << "Senha";
        QTest::newRow("brace in the user") << "s}a"
                                           << "pw"
                                           << "escola"
                                           << "";
        QTest::newRow("brace and separator apart in the database") << "sa"
                                                                   << "pw"
                                                                   << "es}cola;UID=evil"
                                                                   << "";
        QTest::newRow("brace then separator in the database") << "sa"
                                                              << "pw"
                                                              << "escola};UID=evil"
                                                              << "Banco";
        QTest::newRow("brace then separator in the user") << "sa};PWD=x"
                                                          << "pw"
                                                          << "escola"
                                                          << "Usuario";
        QTest::newRow("leading brace") << "sa"
                                       << "{pw}"
                                       << "escola"
                                       << "";
        QTest::newRow("blanks around") << " sa "
                                       << " pw "
                                       << "escola"
                                       << "";
    }

    void freeTdsSendsEveryValueLiterally()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, database);
        QFETCH(QString, refusal);
        TdsLoginListener listener;
        QVERIFY(listener.port() != 0);
        const QString server = QStringLiteral("127.0.0.1,%1").arg(listener.port());
        qc::Connection cn;
        QString failure;
        try {
            cn.open(ConnectionString::build(user, password, database, server), user, password);
        } catch (const qc::DatabaseError& error) {
            failure = error.description();
        }
        QVERIFY(!cn.isOpen());
        const TdsLoginListener::Login& login = listener.finish();
        if (!refusal.isEmpty()) {
            QVERIFY2(failure.startsWith(refusal) && failure.contains(QLatin1String("FreeTDS")),
                     qPrintable(failure));
            QVERIFY(!login.received);
            return;
        }
        QVERIFY2(login.received, qPrintable(failure));
        QCOMPARE(login.user, user);
        QCOMPARE(login.password, password);
        QCOMPARE(login.database, database);
        QCOMPARE(login.server, QStringLiteral("127.0.0.1"));
    }

    void closedSqlServerPortIsReportedToTheOperator()
    {
        RecordingDesktop desktop;
        MemorySettings settings;
        settings.values = {{QStringLiteral("srv"), QStringLiteral("127.0.0.1,1")},
                           {QStringLiteral("db"), QStringLiteral("escola")},
                           {QStringLiteral("us"), QStringLiteral("sa")},
                           {QStringLiteral("pw"), QStringLiteral("x;y")}};
        qc::Module1 module(desktop, settings);
        QVERIFY(!module.AbrirConexao());
        QCOMPARE(desktop.boxes.size(), 1);
        const QString text = desktop.boxes.first().text;
        QVERIFY2(
            text.startsWith(QLatin1String("Erro ao conectar ao Banco de Dados. Erro:[FreeTDS]")),
            qPrintable(text));
        QVERIFY2(text.contains(QLatin1String("Unable to connect")), qPrintable(text));
        QCOMPARE(desktop.boxes.first().icon, qc::Desktop::Icon::Critical);
        QCOMPARE(desktop.boxes.first().title, QStringLiteral("QuveloCap"));
        QVERIFY(!module.cnBanco()->isOpen());
        QVERIFY(!desktop.waitCursor());
    }

    void noServerStoredOpensTheDialogWithoutConnecting()
    {
        RecordingDesktop desktop;
        MemorySettings settings;
        settings.values = {{QStringLiteral("db"), QStringLiteral("escola")}};
        qc::Module1 module(desktop, settings);
        int dialogs = 0;
        module.setShowSettingsDialog([&] {
            ++dialogs;
            QVERIFY(!desktop.waitCursor()); // the pointer is back before the dialog shows
        });
        QVERIFY(!module.AbrirConexao());
        QCOMPARE(dialogs, 1);
        QVERIFY(!module.cnBanco()); // no connection object was even made
        QVERIFY(desktop.boxes.isEmpty());
        QCOMPARE(desktop.calls,
                 (QStringList{QStringLiteral("wait:on"), QStringLiteral("wait:off")}));
    }
};

QTEST_GUILESS_MAIN(TestConnectionString)
#include "tst_ConnectionString.moc"
