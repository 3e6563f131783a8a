// The settings store: where the four values live and who may read the file.

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
        const QString expectedFile = ownFile ? dir.filePath(QStringLiteral("demo-settings.conf"))
                                             : qEnvironmentVariable("XDG_CONFIG_HOME") +
                                                   QStringLiteral("/QuveloCap/QuveloCap.conf");
        QFile::remove(expectedFile);
        ::umask(022); // the usual umask would leave a new file readable by everyone
        qc::QtSettingsStore store =
            ownFile ? qc::QtSettingsStore(expectedFile) : qc::QtSettingsStore();
        QCOMPARE(QFileInfo(store.fileName()).absoluteFilePath(),
                 QFileInfo(expectedFile).absoluteFilePath());

        for (const char* key : {"srv", "db", "us", "pw"})
            QCOMPARE(store.value(QLatin1String(key)), QString());

        store.setValue(QStringLiteral("srv"), QStringLiteral("SRV01\\SQLEXPRESS"));
        store.setValue(QStringLiteral("pw"), QStringLiteral(" s;e{n}h=a "));
        struct stat info
        {};
        QCOMPARE(::stat(QFile::encodeName(expectedFile).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, mode_t(0600));

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
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_SettingsStore.moc"
