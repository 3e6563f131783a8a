// The settings store: where the four values live and who may read the file.

#include "records/DemoDatabase.h"
#include "settings/QtSettingsStore.h"

#include <QDir>
#include <QSettings>
#include <QtTest>

#include <sys/stat.h>

class TestSettingsStore : public QObject
{
    Q_OBJECT

private slots:
    void storesInTheConfigGroupReadableByTheOwnerOnly_data()
    {
        QTest::addColumn<bool>("ownFile");
        QTest::newRow("station file") << false;
        QTest::newRow("file of its own (demo)") << true;
    }
    void storesInTheConfigGroupReadableByTheOwnerOnly()
    {
        QFETCH(bool, ownFile);
        QTemporaryDir dir;
#ifdef Q_OS_WIN
        // The user's local application data, whose ACL lets that user alone read it.
        const QString home = QDir::fromNativeSeparators(qEnvironmentVariable("LOCALAPPDATA"));
#else
        const QString home = qEnvironmentVariable("XDG_CONFIG_HOME");
        ::umask(022); // the usual umask would leave a new file readable by everyone
#endif
        const QString expectedFile = ownFile ? dir.filePath(QStringLiteral("demo-settings.conf"))
                                             : home + QStringLiteral("/QuveloCap/QuveloCap.conf");
        QFile::remove(expectedFile);
        qc::QtSettingsStore store =
            ownFile ? qc::QtSettingsStore(expectedFile) : qc::QtSettingsStore();
        QCOMPARE(QFileInfo(store.fileName()).absoluteFilePath(),
                 QFileInfo(expectedFile).absoluteFilePath());

        for (const char* key : {"srv", "db", "us", "pw"})
            QCOMPARE(store.value(QLatin1String(key)), QString());

        store.setValue(QStringLiteral("srv"), QStringLiteral("SRV01\\SQLEXPRESS"));
        store.setValue(QStringLiteral("pw"), QStringLiteral(" s;e{n}h=a "));
#ifndef Q_OS_WIN
        struct stat info
        {};
        QCOMPARE(::stat(QFile::encodeName(expectedFile).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, mode_t(0600));
#endif

        // As typed, nothing trimmed, in section Config.
        QSettings raw(expectedFile, QSettings::IniFormat);
        QCOMPARE(raw.value(QStringLiteral("Config/srv")).toString(),
                 QStringLiteral("SRV01\\SQLEXPRESS"));
        QCOMPARE(raw.value(QStringLiteral("Config/pw")).toString(), QStringLiteral(" s;e{n}h=a "));
        QCOMPARE(
            qc::QtSettingsStore(ownFile ? expectedFile : QString()).value(QStringLiteral("pw")),
            QStringLiteral(" s;e{n}h=a "));
        QCOMPARE(store.value(QStringLiteral("db")), QString());
    }

    // What the station keeps of its own (the demo database, and the demo's settings
    // beside it) stays with the user: on Windows in %LOCALAPPDATA%\QuveloCap, which
    // that user alone may read and which does not roam to other PCs.
    void demoDatabaseStaysWithTheUser()
    {
        QCoreApplication::setApplicationName(QStringLiteral("QuveloCap"));
        QCoreApplication::setOrganizationName(QStringLiteral("QuveloCap"));
#ifdef Q_OS_WIN
        const QString expected =
            qEnvironmentVariable("LOCALAPPDATA") + QStringLiteral("\\QuveloCap\\demo.sqlite");
#else
        const QString expected = qEnvironmentVariable("XDG_DATA_HOME") +
                                 QStringLiteral("/QuveloCap/QuveloCap/demo.sqlite");
#endif
        const QString path = qc::DemoDatabase::defaultPath();
        QCOMPARE(QDir::toNativeSeparators(path), expected);
        qc::DemoDatabase::ensure(path);
        QVERIFY(QFileInfo(path).isFile());
        QVERIFY(QFile::remove(path));
    }

    // A line of the file, however it was written, and the value it holds; storing that
    // value again must give a file that reads the same.
    void readsEveryValueAsWritten_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("value");
        QTest::newRow("host and port by hand")
            << QByteArray("srv=SQLSRV01,1433") << "SQLSRV01,1433";
        QTest::newRow("quoted, blanks kept") << QByteArray("srv=\"  a,b  \" ; note") << "  a,b  ";
        QTest::newRow("quote inside") << QByteArray("srv=\"x\\\"y\"") << "x\"y";
        QTest::newRow("written by QSettings: backslash")
            << QByteArray("srv=SRV\\\\SQLEXPRESS") << "SRV\\SQLEXPRESS";
        QTest::newRow("written by QSettings: at sign") << QByteArray("srv=@@abc") << "@abc";
        QTest::newRow("accents, UTF-8") << QByteArray("srv=São João") << "São João";
        QTest::newRow("accents, Latin-1") << QByteArray("srv=S\xe3o Jo\xe3o") << "São João";
        QTest::newRow("empty") << QByteArray("srv=") << "";
    }
    void readsEveryValueAsWritten()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, value);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.conf"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Other]\nsrv=elsewhere\n\n[Config]\r\n" + line + "\r\ndb=escola\n");
        file.close();
        qc::QtSettingsStore store(path);
        QCOMPARE(store.value(QStringLiteral("srv")), value);
        QCOMPARE(store.value(QStringLiteral("db")), QStringLiteral("escola"));

        store.setValue(QStringLiteral("srv"), value);
        store.setValue(QStringLiteral("us"), value);
        QCOMPARE(qc::QtSettingsStore(path).value(QStringLiteral("srv")), value);
        QCOMPARE(qc::QtSettingsStore(path).value(QStringLiteral("us")), value);
        QCOMPARE(store.value(QStringLiteral("db")), QStringLiteral("escola"));
        QSettings other(path, QSettings::IniFormat); // the other section is left alone
        QCOMPARE(other.value(QStringLiteral("Other/srv")).toString(), QStringLiteral("elsewhere"));
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_SettingsStore.moc"
