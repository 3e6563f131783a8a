// A unit's photos from the command line, on real engines: every body runs on SQLite and,
// in the PostgreSQL run, on the test server. The command runs through its entry function
// with the output kept; one body starts the real program without a display.

#include "cli/Cli.h"
#include "cli/Console.h"
#include "cli/FileNameCodec.h"
#include "records/DatabaseFixture.h"
#include "records/MemorySettings.h"
#include "records/PhotoTestKit.h"
#include "records/ProviderConnection.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace phototest;
using qc::Cli;
using qc::FileNameCodec;

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QStringList entries(const QString& dir)
{
    return QDir(dir).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class tst_Cli : public QObject
{
    Q_OBJECT

    std::unique_ptr<DatabaseFixture> m_db;
    std::shared_ptr<qc::Connection> m_cn;
    MemorySettings m_settings;
    QString m_out, m_err;
    std::unique_ptr<QTemporaryDir> m_root;

    std::optional<QString> m_environmentPassword;
    std::function<std::optional<QString>(const QString&)> m_askPassword;
    QStringList m_asked;
    // A terminal on stderr (the progress line is drawn), and what happens at each line.
    bool m_terminal = false;
    std::function<void()> m_onErr;

    int run(const QStringList& arguments)
    {
        m_out.clear();
        m_err.clear();
        qc::Console console;
        console.environmentPassword = m_environmentPassword;
        console.askPassword = m_askPassword;
        console.out = [this](const QString& text) { m_out += text; };
        console.progress = m_terminal;
        console.err = [this](const QString& text) {
            m_err += text;
            if (m_onErr)
                m_onErr();
        };
        return Cli::run(QStringList{QStringLiteral("quvelocap")} + arguments, m_settings, console);
    }
    QString dir(const QString& name = QStringLiteral("fotos")) const
    {
        return m_root->filePath(name);
    }
    QByteArray photo(quint32 seed) const { return jpeg(pattern(48 + int(seed % 7), 64, seed)); }

private slots:
    void initTestCase_data()
    {
        // The suite runs once per label: SQLite alone, or the PostgreSQL server alone.
        QTest::addColumn<QString>("engine");
        const QString only = qEnvironmentVariable("QC_CLI_ENGINE", QStringLiteral("sqlite"));
        for (const QString& engine : DatabaseFixture::engines())
            if (engine == only)
                QTest::newRow(qPrintable(engine)) << engine;
    }

    void init()
    {
        QFETCH_GLOBAL(QString, engine);
        m_db = std::make_unique<DatabaseFixture>(engine);
        m_cn = m_db->connect();
        m_db->createTables(*m_cn);
        m_cn->execute(QStringLiteral("INSERT INTO bas_unidades VALUES ('1', 'Escola Um'), "
                                     "('2', 'Escola Dois')"));
        m_settings.values = {{QStringLiteral("srv"), m_db->server()},
                             {QStringLiteral("db"), m_db->database()},
                             {QStringLiteral("us"), m_db->user()},
                             {QStringLiteral("pw"), m_db->password()}};
        m_root = std::make_unique<QTemporaryDir>();
        m_environmentPassword.reset();
        m_askPassword = nullptr;
        m_asked.clear();
        m_terminal = false;
        m_onErr = nullptr;
    }

    void cleanup()
    {
        m_cn.reset();
        m_db.reset();
    }

    void fileNamesMapBack_data()
    {
        QTest::addColumn<QString>("matricula");
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("plain") << "2020001" << QByteArray("2020001.jpg");
        QTest::newRow("path") << "../../x" << QByteArray("%2E.%2F..%2Fx.jpg");
        QTest::newRow("backslash") << "a\\b" << QByteArray("a%5Cb.jpg");
        QTest::newRow("percent") << "10%" << QByteArray("10%25.jpg");
        QTest::newRow("nul") << QString(QStringLiteral("a") + QChar(0) + QStringLiteral("b"))
                             << QByteArray("a%00b.jpg");
        QTest::newRow("newline") << "a\nb" << QByteArray("a%0Ab.jpg");
        QTest::newRow("dot") << "." << QByteArray("%2E.jpg");
        QTest::newRow("blanks") << " 7 " << QByteArray("%207%20.jpg");
        QTest::newRow("windows") << "con" << QByteArray("%63on.jpg");
        QTest::newRow("accents") << "joão" << QByteArray("joão.jpg");
    }
    void fileNamesMapBack()
    {
        QFETCH(QString, matricula);
        QFETCH(QByteArray, name);
        QCOMPARE(FileNameCodec::encode(matricula, ".jpg"), std::optional<QByteArray>(name));
        QCOMPARE(FileNameCodec::decode(name.chopped(4)), std::optional<QString>(matricula));
        QVERIFY(!FileNameCodec::encode(QString(100, QChar(0x2028)), ".jpg")); // 300 bytes
        QVERIFY(!FileNameCodec::decode("a%2"));
        QVERIFY(!FileNameCodec::decode("%FF"));
    }

    // Exported, emptied, imported: every student has exactly the bytes back, nothing was
    // written outside the folder, the other unit was not touched.
    void exportThenImportGivesTheSameBytes()
    {
        const QStringList numbers = {QStringLiteral("1001"), QStringLiteral("a/b"),
                                     QStringLiteral("../../x"), QStringLiteral("NUL"),
                                     QStringLiteral("t\x01")};
        for (int i = 0; i < numbers.size(); ++i)
            insertStudent(*m_cn, QStringLiteral("1"), numbers.at(i), photo(quint32(i)));
        insertStudent(*m_cn, QStringLiteral("1"), QStringLiteral("1002"), QVariant());
        const QByteArray other = photo(99);
        insertStudent(*m_cn, QStringLiteral("2"), QStringLiteral("1001"), other);

        QCOMPARE(run({"export", "--unit", "1", "--dir", dir()}), int(Cli::Done));
        QCOMPARE(entries(m_root->path()), QStringList{QStringLiteral("fotos")});
        QCOMPARE(entries(dir()), (QStringList{"%2E.%2F..%2Fx.jpg", "%4EUL.jpg", "1001.jpg",
                                              "a%2Fb.jpg", "t%01.jpg"}));
        QVERIFY2(m_out.contains(QStringLiteral("5 fotos exportadas")), qPrintable(m_out));
        for (int i = 0; i < numbers.size(); ++i)
            QCOMPARE(readAll(QDir(dir()).filePath(
                         QString::fromUtf8(*FileNameCodec::encode(numbers.at(i), ".jpg")))),
                     photo(quint32(i)));

        m_cn->execute(QStringLiteral("UPDATE Aca_FichaCadastralAluno SET foto = NULL WHERE "
                                     "codigounidade = '1'"));
        QCOMPARE(run({"import", "--unit", "1", "--dir", dir()}), int(Cli::Done));
        QVERIFY2(m_err.isEmpty(), qPrintable(m_err));
        for (int i = 0; i < numbers.size(); ++i)
            QCOMPARE(photoOf(m_cn, QStringLiteral("1"), numbers.at(i)),
                     QVariant(photo(quint32(i))));
        QCOMPARE(photoOf(m_cn, QStringLiteral("1"), QStringLiteral("1002")), QVariant());
        QCOMPARE(photoOf(m_cn, QStringLiteral("2"), QStringLiteral("1001")), QVariant(other));
    }

    // The server drops the run's connection between two photos (a restart, an
    // administrator): the export opens it again once and every photo still arrives.
    void exportReconnectsOnce()
    {
        QFETCH_GLOBAL(QString, engine);
        if (engine != QLatin1String("postgresql"))
            QSKIP("only a server can drop the connection");
        for (int i = 0; i < 5; ++i)
            insertStudent(*m_cn, QStringLiteral("1"), QStringLiteral("100%1").arg(i),
                          photo(quint32(i)));
        m_terminal = true;
        bool dropped = false;
        m_onErr = [&] {
            // At the first progress line, photos are still to come.
            if (dropped)
                return;
            dropped = true;
            const qc::ResultTable gone = m_cn->provider().query(
                QStringLiteral("SELECT pg_terminate_backend(pid, 10000) FROM pg_stat_activity "
                               "WHERE datname = current_database() AND pid <> pg_backend_pid()"),
                {});
            QCOMPARE(gone.rows.size(), 1);
        };
        QCOMPARE(run({"export", "--unit", "1", "--dir", dir()}), int(Cli::Done));
        QVERIFY(dropped);
        QVERIFY2(m_out.contains(QStringLiteral("5 fotos exportadas")), qPrintable(m_out));
        for (int i = 0; i < 5; ++i)
            QCOMPARE(readAll(QDir(dir()).filePath(QStringLiteral("100%1.jpg").arg(i))),
                     photo(quint32(i)));
    }

    // Names Windows reserves or reads as something else (a device, a name whose trailing
    // dot or blank it drops, a stream of another file, a folder separator): each one is
    // a plain file in the folder, and is read back as the same number.
    void windowsNamesRoundTrip_data()
    {
        QTest::addColumn<QString>("matricula");
        QTest::addColumn<QString>("file");
        QTest::newRow("console") << "CON"
                                 << "%43ON.jpg";
        QTest::newRow("null device, lower case") << "nul"
                                                 << "%6Eul.jpg";
        QTest::newRow("serial port") << "COM1"
                                     << "%43OM1.jpg";
        QTest::newRow("printer port, with a dot") << "LPT1.x"
                                                  << "%4CPT1.x.jpg";
        QTest::newRow("trailing dot") << "2020."
                                      << "2020%2E.jpg";
        QTest::newRow("trailing blank") << "2020 "
                                        << "2020%20.jpg";
        QTest::newRow("stream of another file") << "a:b"
                                                << "a%3Ab.jpg";
        QTest::newRow("backslash") << "..\\x"
                                   << "%2E.%5Cx.jpg";
    }
    void windowsNamesRoundTrip()
    {
        QFETCH(QString, matricula);
        QFETCH(QString, file);
        const QByteArray bytes = photo(7);
        insertStudent(*m_cn, QStringLiteral("1"), matricula, bytes);
        QCOMPARE(run({"export", "--unit", "1", "--dir", dir()}), int(Cli::Done));
        QCOMPARE(entries(m_root->path()), QStringList{QStringLiteral("fotos")});
        QCOMPARE(entries(dir()), QStringList{file});
        QCOMPARE(readAll(QDir(dir()).filePath(file)), bytes);

        m_cn->execute(QStringLiteral("UPDATE Aca_FichaCadastralAluno SET foto = NULL"));
        QCOMPARE(run({"import", "--unit", "1", "--dir", dir()}), int(Cli::Done));
        QVERIFY2(m_err.isEmpty(), qPrintable(m_err));
        QCOMPARE(photoOf(m_cn, QStringLiteral("1"), matricula), QVariant(bytes));
    }

    // A user folder with accents (C:\Users\João) and a path longer than Windows' old
    // limit of 260 characters: the photos go there and come back.
    void foldersWithAccentsAndLongPaths_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::newRow("accents") << QStringLiteral("Usuários/João/fotos");
        QString deep;
        for (int i = 0; i < 30; ++i)
            deep += QStringLiteral("pasta-%1/").arg(i, 3, 10, QLatin1Char('0'));
        QTest::newRow("longer than 260 characters") << deep + QStringLiteral("fotos");
    }
    void foldersWithAccentsAndLongPaths()
    {
        QFETCH(QString, folder);
        const QString path = m_root->filePath(folder);
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QVERIFY(folder.size() < 100 || path.size() > 260);
        insertStudent(*m_cn, QStringLiteral("1"), QStringLiteral("1001"), photo(3));
        QCOMPARE(run({"export", "--unit", "1", "--dir", path}), int(Cli::Done));
        QCOMPARE(readAll(QDir(path).filePath(QStringLiteral("1001.jpg"))), photo(3));
        m_cn->execute(QStringLiteral("UPDATE Aca_FichaCadastralAluno SET foto = NULL"));
        QCOMPARE(run({"import", "--unit", "1", "--dir", path}), int(Cli::Done));
        QVERIFY2(m_err.isEmpty(), qPrintable(m_err));
        QCOMPARE(photoOf(m_cn, QStringLiteral("1"), QStringLiteral("1001")), QVariant(photo(3)));
    }

    // The operator reads folders as the system writes them: backslashes on Windows.
    void foldersAreShownWithTheSystemsSeparators()
    {
        const QString missing = m_root->filePath(QStringLiteral("nao/existe"));
        QCOMPARE(run({"import", "--unit", "1", "--dir", missing}), int(Cli::UsageOrConnection));
        QVERIFY2(m_err.contains(QDir::toNativeSeparators(missing)), qPrintable(m_err));
#ifdef Q_OS_WIN
        QVERIFY2(!m_err.contains(missing), qPrintable(m_err));
#endif
    }

    void existingFileIsKeptUnlessForced()
    {
        insertStudent(*m_cn, QStringLiteral("1"), QStringLiteral("1001"), photo(1));
        QVERIFY(QDir().mkpath(dir()));
        writeFile(QDir(dir()).filePath(QStringLiteral("1001.jpg")), "feita antes");
        QCOMPARE(run({"export", "--unit", "1", "--dir", dir()}), int(Cli::Done));
        QCOMPARE(readAll(QDir(dir()).filePath(QStringLiteral("1001.jpg"))),
                 QByteArray("feita antes"));
        QVERIFY2(m_out.contains(QStringLiteral("1 arquivos já existentes mantidos")),
                 qPrintable(m_out));
        QCOMPARE(run({"export", "--unit", "1", "--dir", dir(), "--force"}), int(Cli::Done));
        QCOMPARE(readAll(QDir(dir()).filePath(QStringLiteral("1001.jpg"))), photo(1));
        QCOMPARE(entries(dir()), QStringList{QStringLiteral("1001.jpg")});
    }

    // Each bad file is listed with its reason and changes nothing; the good ones go in.
    void badFilesAreListedAndChangeNothing_data()
    {
        QTest::addColumn<bool>("dryRun");
        QTest::newRow("store") << false;
        QTest::newRow("dry-run") << true;
    }
    void badFilesAreListedAndChangeNothing()
    {
        QFETCH(bool, dryRun);
        for (const char* number : {"1001", "1002", "1003", "1004"})
            insertStudent(*m_cn, QStringLiteral("1"), QString::fromLatin1(number), photo(7));
        QVERIFY(QDir().mkpath(dir()));
        const QDir folder(dir());
        const QByteArray cut = photo(2).left(900);
        writeFile(folder.filePath(QStringLiteral("1001.jpg")), photo(1));
        writeFile(folder.filePath(QStringLiteral("1002.jpg")), cut);
        writeFile(folder.filePath(QStringLiteral("1003.jpg")), "não sou uma foto");
        QByteArray png;
        {
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            QVERIFY(pattern(30, 40, 3).save(&buffer, "PNG"));
        }
        writeFile(folder.filePath(QStringLiteral("1004.png")), png);
        writeFile(folder.filePath(QStringLiteral("9999.jpg")), photo(4));
        writeFile(folder.filePath(QStringLiteral("10%zz.jpg")), photo(5));
        writeFile(folder.filePath(QStringLiteral("leia-me.txt")), "ignorado");

        QStringList arguments{"import", "--unit", "1", "--dir", dir()};
        if (dryRun)
            arguments << QStringLiteral("--dry-run");
        QCOMPARE(run(arguments), int(Cli::ItemsFailed));
        QStringList failed;
        for (const QString& line : m_err.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            failed.append(line.section(QStringLiteral(": "), 0, 0));
        // Told in the folder's own order, although each file is checked beside the store
        // of the one before it.
        QStringList listed = folder.entryList(QDir::Files, QDir::Unsorted);
        listed.removeIf([&](const QString& name) { return !failed.contains(name); });
        QCOMPARE(failed, listed);
        failed.sort();
        QCOMPARE(failed, (QStringList{"10%zz.jpg", "1002.jpg", "1003.jpg", "9999.jpg"}));
        QVERIFY2(m_err.contains(QStringLiteral("9999.jpg: Registro não encontrado!")),
                 qPrintable(m_err));
        QVERIFY2(m_err.contains(QStringLiteral("Foto incompleta")), qPrintable(m_err));
        QVERIFY2(m_out.contains(QStringLiteral("4 falhas, de 6 arquivos")), qPrintable(m_out));

        for (const char* number : {"1002", "1003"})
            QCOMPARE(photoOf(m_cn, QStringLiteral("1"), QString::fromLatin1(number)),
                     QVariant(photo(7)));
        QCOMPARE(photoOf(m_cn, QStringLiteral("1"), QStringLiteral("1001")),
                 QVariant(dryRun ? photo(7) : photo(1)));
        const QByteArray stored =
            photoOf(m_cn, QStringLiteral("1"), QStringLiteral("1004")).toByteArray();
        if (dryRun) {
            QCOMPARE(stored, photo(7));
        } else {
            QVERIFY(stored.startsWith("\xFF\xD8\xFF")); // the PNG went in as a JPEG
            QCOMPARE(decoded(stored).size(), QSize(30, 40));
        }
    }

    // The database refuses one student's new photo half-way through the folder: that
    // student keeps the photo he had, the ones after him are stored.
    void refusedStoreKeepsThePreviousPhoto()
    {
        QFETCH_GLOBAL(QString, engine);
        for (const char* number : {"1001", "1002", "1003"})
            insertStudent(*m_cn, QStringLiteral("1"), QString::fromLatin1(number), photo(7));
        if (engine == QLatin1String("sqlite")) {
            m_cn->execute(QStringLiteral(
                "CREATE TRIGGER recusa BEFORE UPDATE ON Aca_FichaCadastralAluno WHEN "
                "NEW.matricula = '1002' AND NEW.foto IS NOT NULL BEGIN SELECT RAISE(ABORT, "
                "'foto recusada pelo banco'); END"));
        } else {
            m_cn->execute(QStringLiteral(
                "CREATE OR REPLACE FUNCTION recusa() RETURNS trigger AS $$ BEGIN IF "
                "NEW.matricula = '1002' AND NEW.foto IS NOT NULL THEN RAISE EXCEPTION 'foto "
                "recusada pelo banco'; END IF; RETURN NEW; END $$ LANGUAGE plpgsql"));
            m_cn->execute(QStringLiteral("CREATE TRIGGER recusa BEFORE UPDATE ON "
                                         "Aca_FichaCadastralAluno FOR EACH ROW EXECUTE FUNCTION "
                                         "recusa()"));
        }
        QVERIFY(QDir().mkpath(dir()));
        for (int i = 1; i <= 3; ++i)
            writeFile(QDir(dir()).filePath(QStringLiteral("100%1.jpg").arg(i)), photo(quint32(i)));

        QCOMPARE(run({"import", "--unit", "1", "--dir", dir()}), int(Cli::ItemsFailed));
        QVERIFY2(m_err.startsWith(QStringLiteral("1002.jpg: Erro: ")) &&
                     m_err.contains(QStringLiteral("foto recusada pelo banco")),
                 qPrintable(m_err));
        QCOMPARE(photoOf(m_cn, QStringLiteral("1"), QStringLiteral("1001")), QVariant(photo(1)));
        QCOMPARE(photoOf(m_cn, QStringLiteral("1"), QStringLiteral("1002")), QVariant(photo(7)));
        QCOMPARE(photoOf(m_cn, QStringLiteral("1"), QStringLiteral("1003")), QVariant(photo(3)));
    }

    void reportListsStudentsWithoutPhoto()
    {
        insertStudent(*m_cn, QStringLiteral("1"), QStringLiteral("1001"), photo(1));
        insertStudent(*m_cn, QStringLiteral("1"), QStringLiteral("1002"), QVariant());
        insertStudent(*m_cn, QStringLiteral("1"), QStringLiteral("1003,\"b\""), QByteArray("", 0));
        insertStudent(*m_cn, QStringLiteral("2"), QStringLiteral("2001"), QVariant());
        QCOMPARE(run({"report", "--unit", "1", "--csv"}), int(Cli::Done));
        QCOMPARE(m_out, QStringLiteral("matricula\n1002\n\"1003,\"\"b\"\"\"\n"));
        QCOMPARE(m_err, QStringLiteral("Com foto: 1\nSem foto: 2\nTotal: 3\n"));
    }

    void usageAndConnectionErrorsExitWithTwo_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("says");
        QTest::newRow("no command") << QStringList{"--unit", "1"} << "dê um comando";
        QTest::newRow("no unit") << QStringList{"report"} << "falta --unit";
        QTest::newRow("no folder") << QStringList{"export", "--unit", "1"} << "falta --dir";
        QTest::newRow("wrong option")
            << QStringList{"report", "--unit", "1", "--force"} << "--force é só de export";
        QTest::newRow("password") << QStringList{"report", "--unit", "1", "--password=x"}
                                  << "a senha nunca é dada na linha de comando";
        QTest::newRow("unknown unit")
            << QStringList{"report", "--unit", "7"} << "a unidade \"7\" não está em bas_unidades";
        QTest::newRow("server") << QStringList{"report", "--unit", "1", "--server",
                                               "sqlite:/nao/existe.db"}
                                << "Erro ao conectar ao Banco de Dados";
        QTest::newRow("folder") << QStringList{"import", "--unit", "1", "--dir", "/nao/existe"}
                                << "Não foi possível abrir a pasta";
    }
    void usageAndConnectionErrorsExitWithTwo()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, says);
        QCOMPARE(run(arguments), int(Cli::UsageOrConnection));
        QVERIFY2(m_err.contains(says), qPrintable(m_err));
        QVERIFY(m_out.isEmpty());
    }

    // Where the password comes from: the environment first, the stored one only for the
    // stored user, else the prompt; a wrong one is a connection error.
    void passwordSources_data()
    {
        QTest::addColumn<QString>("storedPassword");
        QTest::addColumn<QString>("environment"); // "-": not set
        QTest::addColumn<bool>("otherUser");
        QTest::addColumn<QString>("answer"); // "-": no terminal to ask
        QTest::addColumn<int>("exit");
        QTest::addColumn<bool>("asked");
        QTest::newRow("stored") << "right"
                                << "-" << false << "-" << int(Cli::Done) << false;
        QTest::newRow("environment wins") << "wrong"
                                          << "right" << false << "-" << int(Cli::Done) << false;
        QTest::newRow("other user is asked") << "right"
                                             << "-" << true << "right" << int(Cli::Done) << true;
        QTest::newRow("other user, no terminal")
            << "right"
            << "-" << true << "-" << int(Cli::UsageOrConnection) << false;
        QTest::newRow("nothing stored is asked")
            << ""
            << "-" << false << "right" << int(Cli::Done) << true;
        QTest::newRow("wrong answer")
            << ""
            << "-" << false << "wrong" << int(Cli::UsageOrConnection) << true;
    }
    void passwordSources()
    {
        QFETCH_GLOBAL(QString, engine);
        if (engine != QLatin1String("postgresql"))
            QSKIP("only a server checks passwords");
        QFETCH(QString, storedPassword);
        QFETCH(QString, environment);
        QFETCH(bool, otherUser);
        QFETCH(QString, answer);
        QFETCH(int, exit);
        QFETCH(bool, asked);
        const QString user = otherUser ? DatabaseFixture::oddUser() : m_db->user();
        const QString right = otherUser ? DatabaseFixture::oddPassword() : m_db->password();
        auto resolve = [&](const QString& given) {
            return given == QLatin1String("right") ? right : given;
        };
        m_settings.values[QStringLiteral("pw")] = resolve(storedPassword);
        if (environment != QLatin1String("-"))
            m_environmentPassword = resolve(environment);
        if (answer != QLatin1String("-"))
            m_askPassword = [&](const QString& prompt) -> std::optional<QString> {
                m_asked.append(prompt);
                return resolve(answer);
            };
        // The other login may read the table only when it is granted; the unit check is enough.
        m_cn->execute(QStringLiteral("GRANT SELECT ON bas_unidades, Aca_FichaCadastralAluno TO ") +
                      DatabaseFixture::oddUser());
        QStringList arguments{"report", "--unit", "1"};
        if (otherUser)
            arguments << QStringLiteral("--user") << user;
        QCOMPARE(run(arguments), exit);
        QCOMPARE(m_asked,
                 asked ? QStringList{QStringLiteral("Senha de %1: ").arg(user)} : QStringList());
        if (exit != int(Cli::Done))
            QVERIFY2(m_err.contains(QStringLiteral("Erro ao conectar ao Banco de Dados")),
                     qPrintable(m_err));
    }

    // The program itself, with no display and no stored settings: the command line and
    // the environment's password reach the database.
    void programRunsWithoutDisplay()
    {
        insertStudent(*m_cn, QStringLiteral("1"), QStringLiteral("1001"), photo(1));
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_root->filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("QUVELOCAP_PASSWORD"), m_db->password());
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(QUVELOCAP_PROGRAM),
                      {"export", "--unit", "1", "--dir", dir(), "--server", m_db->server(),
                       "--database", m_db->database(), "--user", m_db->user()});
        QVERIFY(program.waitForFinished(60000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), int(Cli::Done));
        QCOMPARE(program.readAllStandardError(), QByteArray()); // no progress line on a pipe
        QCOMPARE(readAll(QDir(dir()).filePath(QStringLiteral("1001.jpg"))), photo(1));
    }

    // The program's own messages through a pipe (a script, a log file): UTF-8, so that
    // accents arrive as typed, in cmd.exe and PowerShell as in a terminal.
    void programWritesUtf8()
    {
        QProcess program;
        program.start(QStringLiteral(QUVELOCAP_PROGRAM), {"report", "--unit", "1", "--force"});
        QVERIFY(program.waitForFinished(60000));
        QCOMPARE(program.exitCode(), int(Cli::UsageOrConnection));
        const QByteArray err = program.readAllStandardError();
        QVERIFY2(err.contains(QStringLiteral("--force é só de export").toUtf8()),
                 err.toHex(' ').constData());
    }
};

QTEST_GUILESS_MAIN(tst_Cli)
#include "tst_Cli.moc"
