// The command line's export and import on SQL Server: FreeTDS's ODBC driver against a
// loopback server that answers in TDS as SQL Server does.

#include "cli/Cli.h"
#include "cli/Console.h"
#include "records/MemorySettings.h"
#include "records/PhotoTestKit.h"
#include "records/TdsServer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace phototest;
using qc::Cli;

class tst_CliSqlServer : public QObject
{
    Q_OBJECT

    int run(TdsServer& server, const QStringList& arguments, QString& out)
    {
        MemorySettings settings;
        settings.values = {{QStringLiteral("srv"), server.server()},
                           {QStringLiteral("db"), QStringLiteral("escola")},
                           {QStringLiteral("us"), QStringLiteral("sa")},
                           {QStringLiteral("pw"), server.password}};
        qc::Console console;
        console.out = [&out](const QString& text) { out += text; };
        console.err = [&out](const QString& text) { out += text; };
        return Cli::run(QStringList{QStringLiteral("quvelocap")} + arguments, settings, console);
    }

private slots:
    void exportThenImportGivesTheSameBytes()
    {
        // A camera-sized photo and a large one: zeros after the end marker keep them pictures.
        QByteArray large = jpeg(pattern(64, 48, 2));
        large.append(5 * 1024 * 1024 - large.size(), '\0');
        const QByteArray small = jpeg(pattern(640, 480, 1));
        TdsServer server;
        server.units = {{QStringLiteral("0101"), QStringLiteral("São João")}};
        server.students = {{QStringLiteral("0101"), QStringLiteral("1001"), small},
                           {QStringLiteral("0101"), QStringLiteral("1002"), large},
                           {QStringLiteral("0101"), QStringLiteral("1003"), std::nullopt}};
        QTemporaryDir root;
        const QString dir = root.filePath(QStringLiteral("fotos"));
        QString out;
        QCOMPARE(run(server, {"export", "--unit", "0101", "--dir", dir}, out), int(Cli::Done));
        QVERIFY2(out.contains(QStringLiteral("2 fotos exportadas")), qPrintable(out));
        QFile one(QDir(dir).filePath(QStringLiteral("1001.jpg")));
        QFile two(QDir(dir).filePath(QStringLiteral("1002.jpg")));
        QVERIFY(one.open(QIODevice::ReadOnly) && two.open(QIODevice::ReadOnly));
        QVERIFY(one.readAll() == small);
        QVERIFY(two.readAll() == large);

        for (TdsServer::Student& s : server.students)
            s.photo = std::nullopt;
        out.clear();
        QCOMPARE(run(server, {"import", "--unit", "0101", "--dir", dir}, out), int(Cli::Done));
        QVERIFY(server.photoOf(QStringLiteral("1001")) == small);
        QVERIFY(server.photoOf(QStringLiteral("1002")) == large);
        QVERIFY(!server.photoOf(QStringLiteral("1003")).has_value());
    }
};

QTEST_GUILESS_MAIN(tst_CliSqlServer)
#include "tst_CliSqlServer.moc"
