// The settings in Windows' registry, where the station has always kept them: values left
// by an older station (written here with reg.exe, as it would have left them) come into
// the real settings dialog, what is typed there is what reg.exe reads back, and every
// value reads back exactly as written. Runs on Windows, or under Wine, whose registry is
// real.

#include "common/RecordingDesktop.h"
#include "core/Error.h"
#include "records/Connection.h"
#include "records/Module1.h"
#include "settings/FrmConfig.h"
#include "settings/RegistrySettingsStore.h"
#include "shell/FrmImageCapture.h"
#include "ui_frmConfig.h"

#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

using qc::RegistrySettingsStore;

namespace {

const QString kStationKey =
    QStringLiteral("HKCU\\Software\\VB and VBA Program Settings\\QuveloCap\\Config");

// reg.exe with these arguments: its exit code and what it printed.
std::pair<int, QString> reg(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("reg.exe"), arguments);
    if (!process.waitForFinished(60000))
        return {-1, process.errorString()};
    return {process.exitCode(), QString::fromLocal8Bit(process.readAllStandardOutput())};
}

int regAdd(const QString& key, const QString& name, const QString& type, const QString& data)
{
    return reg({QStringLiteral("add"), key, QStringLiteral("/v"), name, QStringLiteral("/t"), type,
                QStringLiteral("/d"), data, QStringLiteral("/f")})
        .first;
}

// reg query's line for the value: "    name    REG_SZ    data".
QString regQuery(const QString& key, const QString& name)
{
    const auto [code, text] = reg({QStringLiteral("query"), key, QStringLiteral("/v"), name});
    for (const QString& line : text.split(QLatin1Char('\n')))
        if (line.trimmed().startsWith(name + QLatin1Char(' ')))
            return line.trimmed().simplified();
    return QStringLiteral("exit %1: %2").arg(code).arg(text);
}

void retype(QLineEdit* box, const QString& text)
{
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Delete);
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

} // namespace

class TestRegistrySettings : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void cleanup() { reg({QStringLiteral("delete"), kStationKey, QStringLiteral("/f")}); }

    void olderStationsSettingsRoundTripThroughTheDialog()
    {
        // A SQLite database, so that the start-up's connection succeeds at once.
        const QString database = QDir::toNativeSeparators(m_dir.filePath(QStringLiteral("e.db")));
        qc::Connection created;
        created.openSqlite(database, true);
        created.execute(QStringLiteral("CREATE TABLE bas_unidades (codigounidade, RazaoSocial)"));
        const QString server = QStringLiteral("sqlite:") + database;
        const QString password = QStringLiteral("s3nh@;{x}=\"q\"");
        QCOMPARE(regAdd(kStationKey, QStringLiteral("srv"), QStringLiteral("REG_SZ"), server), 0);
        QCOMPARE(regAdd(kStationKey, QStringLiteral("db"), QStringLiteral("REG_SZ"),
                        QStringLiteral("escola")),
                 0);
        QCOMPARE(regAdd(kStationKey, QStringLiteral("us"), QStringLiteral("REG_SZ"), QString()), 0);
        QCOMPARE(regAdd(kStationKey, QStringLiteral("pw"), QStringLiteral("REG_SZ"), password), 0);

        RegistrySettingsStore store;
        RecordingDesktop desktop;
        qc::StationServices services;
        services.desktop = &desktop;
        services.settings = &store;
        services.appFolder = m_dir.path();
        qc::FrmImageCapture window(services);
        window.Form_Load();
        window.show();
        QVERIFY2(window.module1().cnBanco() && window.module1().cnBanco()->isOpen(),
                 qPrintable(desktop.boxes.value(0).text));
        window.mnuConfig_Click();
        auto* dialog = static_cast<qc::FrmConfig*>(window.settingsDialog());
        QVERIFY(dialog);
        QCOMPARE(dialog->controls().txtsrv->text(), server);
        QCOMPARE(dialog->controls().txtdb->text(), QStringLiteral("escola"));
        QCOMPARE(dialog->controls().txtus->text(), QString());
        QCOMPARE(dialog->controls().txtpw->text(), password);

        retype(dialog->controls().txtdb, QStringLiteral("escola_nova"));
        retype(dialog->controls().txtus, QStringLiteral("Jo\u00e3o Concei\u00e7\u00e3o"));
        retype(dialog->controls().txtpw, QStringLiteral("nova;senha"));
        QTest::mouseClick(dialog->controls().Command1, Qt::LeftButton);
        QVERIFY(desktop.boxes.isEmpty());
        QCOMPARE(regQuery(kStationKey, QStringLiteral("db")),
                 QStringLiteral("db REG_SZ escola_nova"));
        QCOMPARE(regQuery(kStationKey, QStringLiteral("pw")),
                 QStringLiteral("pw REG_SZ nova;senha"));
        QCOMPARE(regQuery(kStationKey, QStringLiteral("srv")),
                 QStringLiteral("srv REG_SZ ") + server);
        QVERIFY(
            regQuery(kStationKey, QStringLiteral("us")).startsWith(QLatin1String("us REG_SZ ")));
        // reg.exe prints in the console's code page; the value itself is read whole.
        QCOMPARE(RegistrySettingsStore().user(), QStringLiteral("Jo\u00e3o Concei\u00e7\u00e3o"));
    }

    void everyValueReadsBackAsWritten_data()
    {
        QTest::addColumn<QString>("value");
        QString tail;
        for (int i = 0; i < 40000; ++i)
            tail += QChar(u'a' + i % 26);
        QTest::newRow("empty") << QString();
        QTest::newRow("accents") << QStringLiteral("Escola S\u00e3o Jo\u00e3o \u2013 1\u00ba ano");
        QTest::newRow("outside the BMP") << QStringLiteral("\U0001F4F7 foto");
        QTest::newRow("separators") << QStringLiteral(" SRV01\\SQLEXPRESS,1433;a=b{c}\"d\"\r\n ");
        QTest::newRow("a NUL inside") << QStringLiteral("pw") + QChar(0) + QStringLiteral("x");
        QTest::newRow("long") << tail + QStringLiteral("\u00e7");
    }
    void everyValueReadsBackAsWritten()
    {
        QFETCH(QString, value);
        RegistrySettingsStore().setPassword(QStringLiteral("before"));
        RegistrySettingsStore().setPassword(value);
        QCOMPARE(RegistrySettingsStore().password(), value);
        QCOMPARE(regQuery(kStationKey, QStringLiteral("pw")).section(QLatin1Char(' '), 1, 1),
                 QStringLiteral("REG_SZ"));
    }

    void framingSwitchBesideTheFourValues()
    {
        QCOMPARE(RegistrySettingsStore().server(), QString()); // no key at all
        QVERIFY(RegistrySettingsStore().framing());            // on unless switched off
        RegistrySettingsStore().setFraming(false);
        QCOMPARE(regQuery(kStationKey, QStringLiteral("enquadrar")),
                 QStringLiteral("enquadrar REG_SZ 0"));
        QVERIFY(!RegistrySettingsStore().framing());
    }

    void valueOfAnotherTypeReadsAsEmptyAndIsLogged_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("data");
        QTest::newRow("REG_DWORD") << "REG_DWORD"
                                   << "1433";
        QTest::newRow("REG_EXPAND_SZ") << "REG_EXPAND_SZ"
                                       << "%TEMP%\\x";
        QTest::newRow("REG_BINARY") << "REG_BINARY"
                                    << "7300720076";
    }
    void valueOfAnotherTypeReadsAsEmptyAndIsLogged()
    {
        QFETCH(QString, type);
        QFETCH(QString, data);
        QCOMPARE(regAdd(kStationKey, QStringLiteral("srv"), type, data), 0);
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("srv is of registry type \\d+, not "
                                                               "REG_SZ: read as empty")));
        QCOMPARE(RegistrySettingsStore().server(), QString());
        // Stored again, it becomes a string.
        RegistrySettingsStore().setServer(QStringLiteral("SRV01"));
        QCOMPARE(regQuery(kStationKey, QStringLiteral("srv")), QStringLiteral("srv REG_SZ SRV01"));
    }

    void demoKeepsAKeyOfItsOwn()
    {
        RegistrySettingsStore().setServer(QStringLiteral("SRV01"));
        RegistrySettingsStore demo(RegistrySettingsStore::DemoKey);
        QCOMPARE(demo.server(), QString());
        demo.setServer(QStringLiteral("sqlite:C:\\demo.sqlite"));
        QCOMPARE(RegistrySettingsStore().server(), QStringLiteral("SRV01"));
        const QString demoKey = QStringLiteral("HKCU\\") + RegistrySettingsStore::DemoKey;
        QCOMPARE(regQuery(demoKey, QStringLiteral("srv")),
                 QStringLiteral("srv REG_SZ sqlite:C:\\demo.sqlite"));
        reg({QStringLiteral("delete"), demoKey, QStringLiteral("/f")});
    }

    void refusedWriteThrowsWithWindowsReason()
    {
        // A key name part longer than the registry takes (255 characters).
        RegistrySettingsStore store(QStringLiteral("Software\\") + QString(300, QLatin1Char('k')));
        try {
            store.setServer(QStringLiteral("x"));
            QFAIL("the write was taken");
        } catch (const qc::Error& error) {
            QVERIFY2(error.description().startsWith(store.keyName() + QStringLiteral(": ")) &&
                         error.description().size() > store.keyName().size() + 4,
                     qPrintable(error.description()));
        }
    }
};

QTEST_MAIN(TestRegistrySettings)
#include "tst_RegistrySettings.moc"
