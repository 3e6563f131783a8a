// Storing and reading the student's photo on real engines: every body runs once on SQLite
// and once on the PostgreSQL test server (global data rows). The capture window's controls
// are stood in for by a small form double; the window itself is tested in the shell suite.

#include "DatabaseFixture.h"
#include "MemorySettings.h"
#include "PhotoTestKit.h"
#include "common/RecordingDesktop.h"
#include "records/Connection.h"
#include "records/ConnectionString.h"
#include "records/DatabaseError.h"
#include "records/Module1.h"
#include "records/PhotoPanel.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

using namespace phototest;
using qc::PhotoPanel;
using qc::PhotoRecords;

namespace {

const QString kUnit = QStringLiteral("12");
const QString kEnrolment = QStringLiteral("2020001");
const QString kNotAPicture =
    QStringLiteral("Erro: O conteúdo do campo \"foto\" não é uma imagem que se possa mostrar.");

// The controls of the capture window as the photo buttons see them.
class FormDouble : public qc::PhotoPanelView
{
public:
    QString enrolment = kEnrolment;
    QString entryText = kUnit + QStringLiteral("  | Escola Doze");
    QVariant entryCode = kUnit;
    QString mensagem = QStringLiteral("(antes)");
    QImage picture = pattern(8, 8, 1); // something to see cleared
    int pictureSets = 0;
    QByteArray jpegToWrite; // what the photo control encodes
    QString failSave;       // non-empty: the photo control refuses with this text
    int saves = 0;
    std::function<void()> afterSave;

    QString matricula() const override { return enrolment; }
    QString unitEntryText() const override { return entryText; }
    QVariant unitEntryCode() const override { return entryCode; }
    void setMensagem(const QString& text) override { mensagem = text; }
    void setPicture(const QImage& image) override
    {
        ++pictureSets;
        picture = image;
    }
    QByteArray encodeJpeg() override
    {
        ++saves;
        if (!failSave.isEmpty())
            throw qc::Error(failSave);
        if (afterSave)
            afterSave();
        return jpegToWrite;
    }
};

// A small JPEG padded with zeros after its end marker up to exactly size bytes: the
// decoders stop at the marker, so the picture is the small one's.
QByteArray jpegOfSize(qsizetype size, quint32 seed)
{
    QByteArray bytes = jpeg(pattern(64, 48, seed));
    if (bytes.size() > size)
        qFatal("test photo too large: %lld", qint64(bytes.size()));
    bytes.append(QByteArray(size - bytes.size(), '\0'));
    return bytes;
}

QStringList waitCalls(const RecordingDesktop& desktop)
{
    QStringList calls;
    for (const QString& call : desktop.calls)
        if (call.startsWith(QLatin1String("wait:")))
            calls.append(call);
    return calls;
}

QString pgBin(const QString& tool)
{
    return QStringLiteral("/usr/lib/postgresql/15/bin/") + tool;
}

// Runs a command to its end; as root, PostgreSQL's own tools run as the postgres user.
bool run(const QString& program, const QStringList& arguments, QString* output = nullptr,
         bool asPostgres = true)
{
    QProcess process;
    QStringList args = arguments;
    QString command = program;
#ifdef Q_OS_WIN
    const bool root = false; // the server's tools run as the Wine user
#else
    const bool root = getuid() == 0;
#endif
    if (asPostgres && root) {
        args = QStringList{QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--"),
                           program} +
               arguments;
        command = QStringLiteral("runuser");
    }
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(command, args);
    if (!process.waitForFinished(120000))
        return false;
    if (output)
        *output = QString::fromLocal8Bit(process.readAll());
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

} // namespace

class TestPhotoRecords : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<DatabaseFixture> m_db;
    std::shared_ptr<qc::Connection> m_cn; // the test's own connection, for checks
    std::unique_ptr<QTemporaryDir> m_appDir;
    std::unique_ptr<RecordingDesktop> m_desktop;
    std::unique_ptr<MemorySettings> m_settings;
    std::unique_ptr<qc::Module1> m_module;
    std::unique_ptr<FormDouble> m_form;
    std::unique_ptr<PhotoPanel> m_panel;
    ChunkLog m_log;

    bool isPostgres() const { return m_db->engine() == QLatin1String("postgresql"); }
    std::unique_ptr<QTemporaryDir> m_runDir; // the user's runtime folder, for work files

    // Whatever the station left in its work folder (half-written files included).
    QStringList workFiles() const
    {
        return QDir(m_runDir->path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    // The station as after start-up: cnBanco open on the test database.
    void openStation(const QString& appFolder)
    {
        m_desktop = std::make_unique<RecordingDesktop>();
        m_settings = std::make_unique<MemorySettings>();
        m_module = std::make_unique<qc::Module1>(*m_desktop, *m_settings);
        m_module->setCnBanco(m_db->connect());
        m_module->setCaminhoApp(appFolder + QLatin1Char('/'));
        m_form = std::make_unique<FormDouble>();
        m_panel = std::make_unique<PhotoPanel>(*m_form, *m_module);
        m_log = ChunkLog();
        m_panel->records().setProbe(&m_log);
    }

    QVariant storedPhoto() const { return photoOf(m_cn, kUnit, kEnrolment); }

private slots:
    void initTestCase_data() { DatabaseFixture::addEngineRows(); }

    void init()
    {
        QFETCH_GLOBAL(QString, engine);
        m_db = std::make_unique<DatabaseFixture>(engine);
        m_cn = m_db->connect();
        m_db->createTables(*m_cn);
        m_appDir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_appDir->isValid());
        m_runDir = std::make_unique<QTemporaryDir>();
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runDir->path()));
        openStation(m_appDir->path());
    }

    void cleanup()
    {
        m_panel.reset();
        m_module.reset();
        m_cn.reset();
        m_db.reset();
    }

    void storeAndReadInChunks_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QList<qsizetype>>("appended");
        QTest::addColumn<QList<qsizetype>>("read");
        QTest::newRow("40,000 bytes") << 40000 << QList<qsizetype>{7232, 16384, 16384}
                                      << QList<qsizetype>{16384, 16384, 7232};
        QTest::newRow("16,384 bytes")
            << 16384 << QList<qsizetype>{16384} << QList<qsizetype>{16384};
        QTest::newRow("100 bytes are not a photo, only a chunk")
            << 100 << QList<qsizetype>{100} << QList<qsizetype>{100};
        QTest::newRow("two whole blocks")
            << 32768 << QList<qsizetype>{16384, 16384} << QList<qsizetype>{16384, 16384};
    }

    void storeAndReadInChunks()
    {
        QFETCH(int, size);
        QFETCH(QList<qsizetype>, appended);
        QFETCH(QList<qsizetype>, read);
        insertStudent(*m_cn, kUnit, kEnrolment, QVariant());
        const QByteArray photo =
            size >= 1000 ? jpegOfSize(size, quint32(size)) : randomBytes(size, 7);
        m_form->jpegToWrite = photo;

        m_panel->Command1_Click();
        QCOMPARE(m_form->mensagem, QStringLiteral("Foto salva com sucesso"));
        QCOMPARE(m_log.appended, appended);
        QCOMPARE(storedPhoto().toByteArray(), photo);
        QVERIFY(workFiles().isEmpty());
        QCOMPARE(waitCalls(*m_desktop), (QStringList{"wait:on", "wait:off"}));

        m_form->mensagem = QStringLiteral("(antes)");
        m_desktop->clear();
        m_panel->cmdVerFoto_Click();
        QCOMPARE(m_log.read, read);
        QVERIFY(workFiles().isEmpty());
        QCOMPARE(waitCalls(*m_desktop), (QStringList{"wait:on", "wait:off"}));
        if (size >= 1000) {
            QCOMPARE(m_form->mensagem, QStringLiteral("Foto lida com sucesso"));
            QCOMPARE(m_form->picture.convertToFormat(QImage::Format_RGB32), decoded(photo));
        } else {
            QCOMPARE(m_form->mensagem, kNotAPicture);
            QVERIFY(m_form->picture.isNull());
        }
    }

    // What the operator sees for each way a read can end without a photo.
    void readWithoutPhoto_data()
    {
        QTest::addColumn<QVariant>("field");
        QTest::addColumn<QString>("mensagem");
        QTest::addColumn<QStringList>("waits");
        QTest::newRow("no row") << QVariant(QStringLiteral("<no row>"))
                                << QStringLiteral("Registro não encontrado!") << QStringList{};
        QTest::newRow("null photo") << QVariant() << QStringLiteral("Sem foto cadastrada")
                                    << QStringList{"wait:on", "wait:off"};
        QTest::newRow("empty photo")
            << QVariant(QByteArray("", 0)) << QStringLiteral("Sem foto cadastrada")
            << QStringList{"wait:on", "wait:off"};
        QTest::newRow("bytes that are no picture")
            << QVariant(randomBytes(20000, 3)) << kNotAPicture
            << QStringList{"wait:on", "wait:off"};
        const QByteArray whole = jpeg(pattern(320, 240, 4));
        QTest::newRow("JPEG cut short") << QVariant(whole.left(whole.size() * 2 / 3))
                                        << kNotAPicture << QStringList{"wait:on", "wait:off"};
        QTest::newRow("JPEG cut before its end marker")
            << QVariant(whole.left(whole.size() - 2)) << kNotAPicture
            << QStringList{"wait:on", "wait:off"};
        // The header claims 60000 x 60000: refused before anything that size is allocated.
        QByteArray huge = jpeg(pattern(16, 16, 5));
        const qsizetype sof = huge.indexOf(QByteArray("\xFF\xC0", 2));
        QVERIFY(sof > 0);
        huge[sof + 5] = char(0xEA); // height 0xEA60 = 60000
        huge[sof + 6] = char(0x60);
        huge[sof + 7] = char(0xEA);
        huge[sof + 8] = char(0x60);
        QTest::newRow("60000 x 60000 header")
            << QVariant(huge) << kNotAPicture << QStringList{"wait:on", "wait:off"};
    }

    void readWithoutPhoto()
    {
        QFETCH(QVariant, field);
        QFETCH(QString, mensagem);
        QFETCH(QStringList, waits);
        if (field.toString() != QLatin1String("<no row>"))
            insertStudent(*m_cn, kUnit, kEnrolment, field);
        insertStudent(*m_cn, kUnit, QStringLiteral("outro"), jpeg(pattern(10, 10, 6)));

        m_panel->cmdVerFoto_Click();
        QVERIFY(m_form->picture.isNull());
        QCOMPARE(m_form->pictureSets, 1);
        QCOMPARE(m_form->mensagem, mensagem);
        QCOMPARE(waitCalls(*m_desktop), waits);
        QVERIFY(workFiles().isEmpty());
        QVERIFY(m_desktop->boxes.isEmpty());
    }

    // Two stations started from one program folder: while one has written its photo and
    // not yet stored it, the other stores another student's. Each stores its own photo,
    // and neither leaves a photo on the disk on its way.
    void stationsKeepTheirPhotosApart()
    {
        insertStudent(*m_cn, kUnit, kEnrolment, QVariant());
        insertStudent(*m_cn, kUnit, QStringLiteral("2020002"), QVariant());
        FormDouble otherForm;
        otherForm.enrolment = QStringLiteral("2020002");
        otherForm.jpegToWrite = jpeg(pattern(100, 80, 10));
        qc::Module1 otherModule(*m_desktop, *m_settings);
        otherModule.setCnBanco(m_db->connect());
        otherModule.setCaminhoApp(m_appDir->path() + QLatin1Char('/'));
        PhotoPanel other(otherForm, otherModule);

        const QByteArray mine = jpeg(pattern(120, 90, 8));
        m_form->jpegToWrite = mine;
        QStringList during{QStringLiteral("(not reached)")};
        m_form->afterSave = [&] {
            other.Command1_Click();
            during = workFiles();
        };
        m_panel->Command1_Click();
        QCOMPARE(m_form->mensagem, QStringLiteral("Foto salva com sucesso"));
        QCOMPARE(otherForm.mensagem, QStringLiteral("Foto salva com sucesso"));
        QCOMPARE(storedPhoto().toByteArray(), mine);
        QCOMPARE(photoOf(m_cn, kUnit, QStringLiteral("2020002")).toByteArray(),
                 otherForm.jpegToWrite);
        QCOMPARE(during, QStringList());
        QVERIFY(QDir(m_appDir->path()).isEmpty());
        QVERIFY(workFiles().isEmpty());
    }

    // The enrolment number and unit code reach the database as values, never as SQL.
    void lookupKeys_data()
    {
        QTest::addColumn<QString>("enrolment");
        QTest::addColumn<QString>("entryText");
        QTest::addColumn<QVariant>("entryCode");
        QTest::addColumn<QString>("unitOfRow");
        QTest::newRow("leading blank kept")
            << QStringLiteral(" 2020001") << "12  | Escola Doze" << QVariant("12") << "12";
        QTest::newRow("quote") << QStringLiteral("20'20") << "12  | Escola Doze" << QVariant("12")
                               << "12";
        QTest::newRow("quote that would close the text")
            << QStringLiteral("x' or '1'='1") << "12  | Escola Doze" << QVariant("12") << "12";
        QTest::newRow("four-character unit code")
            << kEnrolment << "1234  | Escola Mil" << QVariant("1234") << "1234";
        QTest::newRow("three-character unit beside it")
            << kEnrolment << "123  | Escola Cento" << QVariant("123") << "123";
    }

    void lookupKeys()
    {
        QFETCH(QString, enrolment);
        QFETCH(QString, entryText);
        QFETCH(QVariant, entryCode);
        QFETCH(QString, unitOfRow);
        // Neighbours that a careless lookup would reach instead.
        const QByteArray neighbour = jpeg(pattern(20, 20, 12));
        const QStringList units{"12", "123", "1234"};
        const QStringList enrolments{kEnrolment, QStringLiteral(" 2020001"),
                                     QStringLiteral("20'20"), QStringLiteral("x' or '1'='1")};
        for (const QString& unit : units)
            for (const QString& e : enrolments)
                insertStudent(*m_cn, unit, e, neighbour);

        const QByteArray photo = jpeg(pattern(90, 120, 13));
        m_form->enrolment = enrolment;
        m_form->entryText = entryText;
        m_form->entryCode = entryCode;
        m_form->jpegToWrite = photo;
        m_panel->Command1_Click();
        QCOMPARE(m_form->mensagem, QStringLiteral("Foto salva com sucesso"));
        for (const QString& unit : units)
            for (const QString& e : enrolments)
                QCOMPARE(photoOf(m_cn, unit, e).toByteArray(),
                         unit == unitOfRow && e == enrolment ? photo : neighbour);

        m_panel->cmdVerFoto_Click();
        QCOMPARE(m_form->mensagem, QStringLiteral("Foto lida com sucesso"));
        QCOMPARE(m_form->picture.convertToFormat(QImage::Format_RGB32), decoded(photo));
    }

    void blankEnrolmentAsksForIt_data()
    {
        QTest::addColumn<QString>("enrolment");
        QTest::newRow("empty") << QString();
        QTest::newRow("blanks") << QStringLiteral("   ");
        QTest::newRow("tab and blank") << QStringLiteral("\t ");
    }

    void blankEnrolmentAsksForIt()
    {
        QFETCH(QString, enrolment);
        insertStudent(*m_cn, kUnit, enrolment, jpeg(pattern(10, 10, 14)));
        m_form->enrolment = enrolment;
        m_form->jpegToWrite = jpeg(pattern(40, 40, 16));
        for (auto click : {&PhotoPanel::Command1_Click, &PhotoPanel::cmdVerFoto_Click}) {
            m_desktop->clear();
            (m_panel.get()->*click)();
            QCOMPARE(m_desktop->boxes.size(), 1);
            QCOMPARE(m_desktop->boxes.first().text,
                     QStringLiteral("Informe a matricula do aluno!"));
            QCOMPARE(m_desktop->boxes.first().title, QStringLiteral("QuveloCap"));
            QCOMPARE(m_desktop->boxes.first().icon, qc::Desktop::Icon::Information);
            QCOMPARE(m_desktop->calls, QStringList{"messageBox:Informe a matricula do aluno!"});
        }
        QCOMPARE(m_form->saves, 0);
        QVERIFY(workFiles().isEmpty());
        QCOMPARE(m_form->mensagem, QStringLiteral("(antes)"));
        QCOMPARE(m_form->pictureSets, 0);
        QVERIFY(m_log.statements.isEmpty());
    }

    void noUnitsLoadedReadsByEnrolmentOnly()
    {
        const QByteArray photo = jpeg(pattern(50, 60, 17));
        insertStudent(*m_cn, QStringLiteral("77"), kEnrolment, photo);
        m_form->entryText.clear();
        m_form->entryCode = QVariant();
        m_panel->cmdVerFoto_Click();
        QCOMPARE(m_form->mensagem, QStringLiteral("Foto lida com sucesso"));
        QCOMPARE(m_form->picture.convertToFormat(QImage::Format_RGB32), decoded(photo));
        QCOMPARE(m_log.statements.size(), 1);
        QVERIFY(!m_log.statements.first().contains(QLatin1String("CodigoUnidade")));

        // A store always names the unit: with none chosen it finds no row.
        m_form->jpegToWrite = jpeg(pattern(10, 10, 18));
        m_panel->Command1_Click();
        QCOMPARE(m_form->mensagem, QStringLiteral("Registro não encontrado!"));
        QCOMPARE(photoOf(m_cn, QStringLiteral("77"), kEnrolment).toByteArray(), photo);
    }

    // Student tables as schools have them: the store names the row by its key fields and
    // writes the photo once, whatever hidden or visible row number the table has.
    void schemasOfTheSchool_data()
    {
        QTest::addColumn<QString>("table");
        QTest::newRow("a column of its own named rowid")
            << "CREATE TABLE Aca_FichaCadastralAluno (rowid INTEGER, codigounidade varchar(10), "
               "matricula varchar(20), foto BLOB)";
        QTest::newRow("without rowid")
            << "CREATE TABLE Aca_FichaCadastralAluno (codigounidade varchar(10), matricula "
               "varchar(20), foto BLOB, PRIMARY KEY (codigounidade, matricula)) WITHOUT ROWID";
    }

    void schemasOfTheSchool()
    {
        QFETCH(QString, table);
        if (isPostgres())
            QSKIP("rowid and WITHOUT ROWID are SQLite's");
        m_cn->execute(QStringLiteral("DROP TABLE Aca_FichaCadastralAluno"));
        m_cn->execute(table);
        // Every value the audit trigger sees, in order.
        m_cn->execute(QStringLiteral("CREATE TABLE foto_log (foto BLOB)"));
        m_cn->execute(QStringLiteral(
            "CREATE TRIGGER foto_audit AFTER UPDATE OF foto ON Aca_FichaCadastralAluno BEGIN "
            "INSERT INTO foto_log VALUES (NEW.foto); END"));
        // The neighbour comes first, so that its own "rowid" value names our row's place
        // and ours names the neighbour's.
        const QByteArray neighbour = jpeg(pattern(90, 90, 34)) + randomBytes(30000, 35);
        const bool ownRowid = table.contains(QLatin1String("rowid INTEGER"));
        m_cn->execute(ownRowid ? QStringLiteral("INSERT INTO Aca_FichaCadastralAluno VALUES (2, "
                                                "?, 'vizinho', ?)")
                               : QStringLiteral("INSERT INTO Aca_FichaCadastralAluno VALUES (?, "
                                                "'vizinho', ?)"),
                      {kUnit, neighbour});
        m_cn->execute(ownRowid ? QStringLiteral("INSERT INTO Aca_FichaCadastralAluno VALUES (1, "
                                                "?, ?, NULL)")
                               : QStringLiteral("INSERT INTO Aca_FichaCadastralAluno VALUES (?, "
                                                "?, NULL)"),
                      {kUnit, kEnrolment});

        const QByteArray photo = jpeg(pattern(150, 200, 36)) + randomBytes(2000, 37);
        m_form->jpegToWrite = photo;
        m_panel->Command1_Click();
        QCOMPARE(m_form->mensagem, QStringLiteral("Foto salva com sucesso"));
        QCOMPARE(storedPhoto().toByteArray(), photo);
        QCOMPARE(photoOf(m_cn, kUnit, QStringLiteral("vizinho")).toByteArray(), neighbour);
        qc::Recordset log;
        log.open(QStringLiteral("SELECT foto FROM foto_log"), m_cn);
        QCOMPARE(log.recordCount(), 1);
        QCOMPARE(log.fields(QStringLiteral("foto")).value().toByteArray(), photo);
    }

    void storeWithoutRow()
    {
        insertStudent(*m_cn, kUnit, QStringLiteral("outro"), QVariant());
        m_form->jpegToWrite = jpeg(pattern(10, 10, 19));
        m_panel->Command1_Click();
        QCOMPARE(m_form->mensagem, QStringLiteral("Registro não encontrado!"));
        QCOMPARE(waitCalls(*m_desktop), (QStringList{"wait:on", "wait:off"}));
        QVERIFY(workFiles().isEmpty());
        QVERIFY(photoOf(m_cn, kUnit, QStringLiteral("outro")).isNull());
    }

    // Two rows for one student: the first the query returns is read; a store would have
    // to pick one of two students' rows blindly, so it is refused and changes neither.
    void twoMatchingRows()
    {
        const QByteArray first = jpeg(pattern(30, 20, 20));
        const QByteArray second = jpeg(pattern(20, 30, 21));
        insertStudent(*m_cn, kUnit, kEnrolment, first);
        insertStudent(*m_cn, kUnit, kEnrolment, second);

        m_panel->cmdVerFoto_Click();
        QCOMPARE(m_form->picture.convertToFormat(QImage::Format_RGB32), decoded(first));

        m_form->jpegToWrite = jpeg(pattern(64, 64, 22));
        m_panel->Command1_Click();
        QCOMPARE(m_form->mensagem,
                 QStringLiteral("Erro: Há 2 registros para esta unidade e matrícula; nenhuma "
                                "foto foi alterada."));
        QList<QByteArray> stored;
        for (const QVariant& value : photosOf(m_cn, kUnit, kEnrolment))
            stored.append(value.toByteArray());
        std::sort(stored.begin(), stored.end());
        QList<QByteArray> expected{first, second};
        std::sort(expected.begin(), expected.end());
        QCOMPARE(stored, expected);
    }

    // Every way a store can fail after the row was found keeps the photo it had.
    void failedStoreKeepsThePhoto_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("description"); // what follows "Erro: ", or a part of it
        QTest::newRow("empty photo") << "empty"
                                     << "está vazio; a foto anterior foi mantida.";
        QTest::newRow("update refused by a trigger") << "trigger"
                                                     << "foto bloqueada pela secretaria";
        QTest::newRow("connection killed at the first chunk")
            << "kill"
            << "A conexão com o banco de dados foi perdida.";
        QTest::newRow("connection closed before the update") << "close"
                                                             << "";
    }

    void failedStoreKeepsThePhoto()
    {
        QFETCH(QString, fault);
        QFETCH(QString, description);
        const QByteArray previous = jpeg(pattern(80, 60, 23));
        insertStudent(*m_cn, kUnit, kEnrolment, previous);
        m_form->jpegToWrite = jpeg(pattern(200, 150, 24)) + randomBytes(40000, 25);

        if (fault == QLatin1String("empty")) {
            m_form->jpegToWrite.clear();
        } else if (fault == QLatin1String("trigger")) {
            if (isPostgres()) {
                m_cn->execute(QStringLiteral(
                    "CREATE OR REPLACE FUNCTION qc_refuse_photo() RETURNS trigger AS $$ BEGIN "
                    "RAISE EXCEPTION 'foto bloqueada pela secretaria'; END $$ LANGUAGE plpgsql"));
                m_cn->execute(QStringLiteral(
                    "CREATE TRIGGER qc_refuse BEFORE UPDATE ON Aca_FichaCadastralAluno FOR EACH "
                    "ROW EXECUTE FUNCTION qc_refuse_photo()"));
            } else {
                m_cn->execute(QStringLiteral(
                    "CREATE TRIGGER qc_refuse BEFORE UPDATE ON Aca_FichaCadastralAluno BEGIN "
                    "SELECT RAISE(ABORT, 'foto bloqueada pela secretaria'); END"));
            }
        } else if (fault == QLatin1String("kill")) {
            if (!isPostgres())
                QSKIP("a SQLite file has no server connection to kill");
            qc::Recordset pid;
            pid.open(QStringLiteral("SELECT pg_backend_pid() AS pid"), m_module->cnBanco());
            const qint64 backend = pid.fields(QStringLiteral("pid")).value().toLongLong();
            QVERIFY(backend > 0);
            m_log.onFirstAppend = [this, backend] {
                m_cn->execute(QStringLiteral("SELECT pg_terminate_backend(CAST(? AS integer))"),
                              {backend});
            };
        } else if (fault == QLatin1String("close")) {
            // The station's connection goes away between the chunks and the update.
            m_log.onUpdate = [this] { m_module->cnBanco()->close(); };
        }

        m_panel->Command1_Click();
        QVERIFY2(m_form->mensagem.startsWith(QLatin1String("Erro: ")),
                 qPrintable(m_form->mensagem));
        QVERIFY2(m_form->mensagem.size() > 6, qPrintable(m_form->mensagem));
        QVERIFY2(m_form->mensagem.contains(description), qPrintable(m_form->mensagem));
        QCOMPARE(m_desktop->calls.last(), QStringLiteral("wait:off"));
        QVERIFY(!m_desktop->waitCursor());
        QVERIFY(m_desktop->boxes.isEmpty());
        QCOMPARE(storedPhoto().toByteArray(), previous);
    }

    // The station's server goes down after the photo was sent and before the update. The
    // shared test server stays up for the others: this runs on a cluster of its own.
    void serverStoppedBeforeUpdateKeepsThePhoto()
    {
        if (!isPostgres())
            QSKIP("SQLite has no server to stop");
        const QString script = qEnvironmentVariable("QUVELOCAP_SOURCE_DIR") +
                               QStringLiteral("/scripts/pg-test-server.sh");
        QTemporaryDir stateDir;
        const QString state = stateDir.filePath(QStringLiteral("private.state"));
        const int port = QUrl(m_db->server()).port() + 2000;
        QString output;
        const bool started = run(
            QStringLiteral("bash"),
            {script, QStringLiteral("start"), state, QString::number(port), m_db->database(),
             m_db->user(), m_db->password(), QStringLiteral("qc_unused"), QStringLiteral("unused")},
            &output, false); // the script changes to the postgres user by itself
        QVERIFY2(started, qPrintable(output));
        auto stopCluster = qScopeGuard([&] {
            QProcess::execute(QStringLiteral("bash"), {script, QStringLiteral("stop"), state});
        });
        QFile stateFile(state);
        QVERIFY(stateFile.open(QIODevice::ReadOnly));
        const QString dataDir =
            QString::fromLocal8Bit(stateFile.readAll()).trimmed() + QStringLiteral("/data");
        const QString socketDir = QFileInfo(dataDir).path();

        const QString server = QStringLiteral("postgresql://127.0.0.1:%1").arg(port);
        auto connect = [&] {
            auto cn = std::make_shared<qc::Connection>();
            cn->open(qc::ConnectionString::build(m_db->user(), m_db->password(), m_db->database(),
                                                 server),
                     m_db->user(), m_db->password());
            return cn;
        };
        auto own = connect();
        m_db->createTables(*own);
        const QByteArray previous = jpeg(pattern(80, 60, 26));
        insertStudent(*own, kUnit, kEnrolment, previous);
        own.reset();
        m_module->setCnBanco(connect());

        m_form->jpegToWrite = jpeg(pattern(160, 120, 27));
        bool stopped = false;
        m_log.onUpdate = [&] {
            stopped = run(pgBin(QStringLiteral("pg_ctl")),
                          {QStringLiteral("-D"), dataDir, QStringLiteral("-m"),
                           QStringLiteral("fast"), QStringLiteral("-w"), QStringLiteral("stop")});
        };
        m_panel->Command1_Click();
        QVERIFY(stopped);
        QVERIFY2(m_form->mensagem.startsWith(QLatin1String("Erro: ")) &&
                     m_form->mensagem.size() > 6,
                 qPrintable(m_form->mensagem));
        QVERIFY(!m_desktop->waitCursor());

        QVERIFY(run(pgBin(QStringLiteral("pg_ctl")),
                    {QStringLiteral("-D"), dataDir, QStringLiteral("-l"),
                     socketDir + QStringLiteral("/server.log"), QStringLiteral("-o"),
                     QStringLiteral("-c listen_addresses=127.0.0.1 -p %1 -k %2 -c fsync=off")
                         .arg(port)
                         .arg(socketDir),
                     QStringLiteral("-w"), QStringLiteral("start")},
                    &output));
        QCOMPARE(photoOf(connect(), kUnit, kEnrolment).toByteArray(), previous);
    }

    // A photo the control cannot write is reported, and nothing is stored.
    void workFileNotWritten()
    {
        const QByteArray previous = jpeg(pattern(80, 60, 28));
        insertStudent(*m_cn, kUnit, kEnrolment, previous);
        m_form->failSave = QStringLiteral("Não há imagem para gravar.");
        m_panel->Command1_Click();
        QCOMPARE(m_form->mensagem, QStringLiteral("Erro: Não há imagem para gravar."));
        QCOMPARE(storedPhoto().toByteArray(), previous);
        QVERIFY(workFiles().isEmpty());
        QVERIFY(m_log.statements.isEmpty());
        QVERIFY(waitCalls(*m_desktop).isEmpty());
    }

    // The server's "transaction is aborted" answer makes the read start over once, known by
    // its state whatever language the server speaks.
    void readRestartsOnce_data()
    {
        QTest::addColumn<int>("failures");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("state");
        QTest::addColumn<int>("opens");
        QTest::addColumn<bool>("shown");
        const QString english = QStringLiteral("ERROR:  current transaction is aborted, commands "
                                               "ignored until end of transaction block");
        const QString portuguese = QStringLiteral("ERRO:  transação atual foi interrompida, "
                                                  "comandos ignorados até o fim do bloco de "
                                                  "transação");
        QTest::newRow("once, then read") << 1 << english << QStringLiteral("25P02") << 2 << true;
        QTest::newRow("again in the second attempt")
            << 2 << english << QStringLiteral("25P02") << 2 << false;
        QTest::newRow("other text: no restart") << 1 << QStringLiteral("ERROR: something else")
                                                << QStringLiteral("42601") << 1 << false;
        QTest::newRow("restart text in Portuguese")
            << 1 << portuguese << QStringLiteral("25P02") << 2 << true;
        QTest::newRow("restart text without the state: no restart")
            << 1 << english << QString() << 1 << false;
    }

    void readRestartsOnce()
    {
        QFETCH(int, failures);
        QFETCH(QString, text);
        QFETCH(QString, state);
        QFETCH(int, opens);
        QFETCH(bool, shown);
        const QByteArray photo = jpegOfSize(40000, 31);
        insertStudent(*m_cn, kUnit, kEnrolment, photo);
        int failed = 0;
        // Half the photo has been read when the server answers so.
        m_log.onRead = [&] {
            if (m_log.read.size() % 3 == 2 && failed < failures) {
                ++failed;
                throw qc::DatabaseError(text, state);
            }
        };
        m_panel->cmdVerFoto_Click();
        QCOMPARE(m_log.statements.size(), opens);
        QVERIFY(workFiles().isEmpty());
        QVERIFY(!m_desktop->waitCursor());
        if (shown) {
            QCOMPARE(m_form->mensagem, QStringLiteral("Foto lida com sucesso"));
            QCOMPARE(m_form->picture.convertToFormat(QImage::Format_RGB32), decoded(photo));
            QCOMPARE(m_log.read, (QList<qsizetype>{16384, 16384, 16384, 16384, 7232}));
        } else {
            QCOMPARE(m_form->mensagem, QStringLiteral("Erro: ") + text);
            QVERIFY(m_form->picture.isNull());
        }
    }

    // Without a connection every read and store ends cleanly.
    void closedConnection()
    {
        insertStudent(*m_cn, kUnit, kEnrolment, jpeg(pattern(10, 10, 32)));
        m_module->cnBanco()->close();
        m_form->jpegToWrite = jpeg(pattern(10, 10, 33));
        m_panel->Command1_Click();
        QCOMPARE(m_form->mensagem,
                 QStringLiteral("Erro: A conexão com o banco de dados não está aberta."));
        QVERIFY(!m_desktop->waitCursor());
        m_form->mensagem = QStringLiteral("(antes)");
        m_panel->cmdVerFoto_Click();
        QCOMPARE(m_form->mensagem,
                 QStringLiteral("Erro: A conexão com o banco de dados não está aberta."));
        QVERIFY(m_form->picture.isNull());
        QVERIFY(workFiles().isEmpty());
        QCOMPARE(m_desktop->calls.last(), QStringLiteral("wait:off"));
    }
};

QTEST_GUILESS_MAIN(TestPhotoRecords)
#include "tst_PhotoRecords.moc"
