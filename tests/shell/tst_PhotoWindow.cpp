// "&Salvar Foto" and "&Ver Foto" on the real capture window, its image controls and a real
// database: once on SQLite and once on the PostgreSQL test server.

#include "common/RecordingDesktop.h"
#include "imaging/ImageControl.h"
#include "records/Connection.h"
#include "records/DatabaseFixture.h"
#include "records/MemorySettings.h"
#include "records/Module1.h"
#include "records/PhotoRecords.h"
#include "records/PhotoTestKit.h"
#include "records/Recordset.h"
#include "shell/FrmImageCapture.h"
#include "ui_frmImageCapture.h"

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

using namespace phototest;
using qc::FrmImageCapture;

namespace {

const QString kEnrolment = QStringLiteral("2020001");

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool runs(const QString& program, const QStringList& arguments, QString& output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool ok = process.waitForFinished() && process.exitStatus() == QProcess::NormalExit &&
                    process.exitCode() == 0;
    output += QString::fromLocal8Bit(process.readAll()).trimmed();
    return ok;
}

// A folder on a disk that refuses what the station writes: a 16 KiB disk, or a read-only
// view of a disk that the test itself can still write through (setUp). On Linux the test
// mounts them, which needs root; under Wine the runner mounts them and maps them to drive
// letters. refusal says why there is none.
struct RefusingDisk
{
    QString path, setUp, refusal;
    QTemporaryDir mounts;
    QStringList mounted;

    explicit RefusingDisk(bool readOnly)
    {
#ifdef Q_OS_WIN
        const QString drive =
            qEnvironmentVariable(readOnly ? "QC_READONLY_DRIVE" : "QC_FULL_DRIVE");
        refusal = qEnvironmentVariable("QC_DRIVES_REFUSED",
                                       QStringLiteral("the Wine runner mapped no small drives"));
        if (!drive.isEmpty()) {
            path = drive + QLatin1Char('/');
            setUp = readOnly ? qEnvironmentVariable("QC_READONLY_DRIVE_WRITABLE") + QLatin1Char('/')
                             : path;
            refusal.clear();
        }
#else
        const QString disk = mounts.filePath(QStringLiteral("disk"));
        const QString view = mounts.filePath(QStringLiteral("view"));
        QDir().mkpath(disk);
        QDir().mkpath(view);
        const QString size = readOnly ? QStringLiteral("size=64k") : QStringLiteral("size=16k");
        if (!runs(QStringLiteral("mount"), {"-t", "tmpfs", "-o", size, "tmpfs", disk}, refusal))
            return;
        mounted.prepend(disk);
        path = setUp = disk;
        if (readOnly) {
            if (!runs(QStringLiteral("mount"), {"--bind", disk, view}, refusal))
                return;
            mounted.prepend(view);
            if (!runs(QStringLiteral("mount"), {"-o", "remount,bind,ro", view}, refusal))
                return;
            path = view;
        }
        refusal.clear();
#endif
    }
    ~RefusingDisk()
    {
        for (const QString& point : std::as_const(mounted))
            QProcess::execute(QStringLiteral("umount"), {point});
    }
};

} // namespace

class TestPhotoWindow : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<DatabaseFixture> m_db;
    std::shared_ptr<qc::Connection> m_cn;
    std::unique_ptr<QTemporaryDir> m_appDir;
    std::unique_ptr<RecordingDesktop> m_desktop;
    std::unique_ptr<MemorySettings> m_settings;
    std::unique_ptr<FrmImageCapture> m_window;

    std::unique_ptr<QTemporaryDir> m_runDir; // the user's runtime folder

    QStringList workFiles() const
    {
        return QDir(qEnvironmentVariable("XDG_RUNTIME_DIR"))
            .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    // The station started on the test database, with its unit list loaded.
    FrmImageCapture& startStation()
    {
        m_desktop = std::make_unique<RecordingDesktop>();
        m_settings = std::make_unique<MemorySettings>();
        m_settings->values = {{"srv", m_db->server()},
                              {"db", m_db->database()},
                              {"us", m_db->user()},
                              {"pw", m_db->password()}};
        qc::StationServices services;
        services.desktop = m_desktop.get();
        services.settings = m_settings.get();
        services.appFolder = m_appDir->path();
        m_window = std::make_unique<FrmImageCapture>(services);
        m_window->Form_Load();
        m_window->show();
        if (!QTest::qWaitForWindowExposed(m_window.get()))
            qFatal("window not exposed");
        m_desktop->clear();
        return *m_window;
    }

    void chooseUnit(const QString& code)
    {
        QComboBox* units = m_window->controls().cmbUnidade;
        const int index = units->findData(code);
        QVERIFY(index >= 0);
        units->setCurrentIndex(index);
    }

    void typeEnrolment(const QString& text)
    {
        m_window->controls().txtMatricula->clear();
        QTest::keyClicks(m_window->controls().txtMatricula, text);
        QCOMPARE(m_window->controls().txtMatricula->text(), text);
    }

    // A grabbed frame cut by a drag over ImagXpress1, as the operator confirms a photo.
    void cropFrame()
    {
        m_window->controls().ImagXpress1->setPicture(pattern(640, 480, 40));
        m_window->controls().picCapture->hide();
        m_window->controls().ImagXpress1->show();
        QWidget* vp = m_window->controls().ImagXpress1->viewport();
        QTest::mousePress(vp, Qt::LeftButton, {}, QPoint(100, 60));
        QTest::mouseMove(vp, QPoint(200, 150));
        QTest::mouseMove(vp, QPoint(260, 260));
        QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(260, 260));
        QTRY_VERIFY(m_window->controls().ImagXpress2->hasImage());
        QCOMPARE(m_window->controls().ImagXpress2->picture().size(), QSize(160, 200));
        m_desktop->clear();
    }

    void click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

private slots:
    void initTestCase_data() { DatabaseFixture::addEngineRows(); }

    void init()
    {
        QFETCH_GLOBAL(QString, engine);
        m_db = std::make_unique<DatabaseFixture>(engine);
        m_cn = m_db->connect();
        m_db->createTables(*m_cn);
        for (const auto& [code, name] :
             {std::pair{"12", "Escola Doze"}, std::pair{"123", "Escola Cento e Vinte e Três"},
              std::pair{"1234", "Escola Mil"}})
            m_cn->execute(QStringLiteral("INSERT INTO bas_unidades VALUES (?, ?)"),
                          {QString::fromUtf8(code), QString::fromUtf8(name)});
        m_appDir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_appDir->isValid());
        m_runDir = std::make_unique<QTemporaryDir>();
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runDir->path()));
    }

    void cleanup()
    {
        m_window.reset();
        m_desktop.reset();
        m_cn.reset();
        m_db.reset();
    }

    void croppedPhotoIsStoredAndReadBack()
    {
        insertStudent(*m_cn, QStringLiteral("12"), kEnrolment, QVariant());
        FrmImageCapture& window = startStation();
        cropFrame();
        chooseUnit(QStringLiteral("12"));
        typeEnrolment(kEnrolment);

        click(window.controls().Command1);
        QCOMPARE(window.controls().lblMensagem->text(), QStringLiteral("Foto salva com sucesso"));
        QCOMPARE(m_desktop->calls, (QStringList{"wait:on", "wait:off"}));
        QVERIFY(m_desktop->boxes.isEmpty());
        // Byte for byte the JPEG the photo control writes.
        const QByteArray stored = photoOf(m_cn, QStringLiteral("12"), kEnrolment).toByteArray();
        QVERIFY(stored.startsWith("\xFF\xD8"));
        QVERIFY(workFiles().isEmpty());
        const QString again = m_appDir->filePath(QStringLiteral("again.jpg"));
        window.controls().ImagXpress2->setSaveName(again);
        window.controls().ImagXpress2->saveImage();
        QCOMPARE(stored, fileBytes(again));

        const QImage shown =
            window.controls().ImagXpress2->picture().convertToFormat(QImage::Format_RGB32);
        window.controls().ImagXpress2->setPicture(QImage());
        window.controls().lblMensagem->setText(QString());
        m_desktop->clear();
        click(window.controls().cmdVerFoto);
        QCOMPARE(window.controls().lblMensagem->text(), QStringLiteral("Foto lida com sucesso"));
        QCOMPARE(m_desktop->calls, (QStringList{"wait:on", "wait:off"}));
        QVERIFY(workFiles().isEmpty());
        const QImage read =
            window.controls().ImagXpress2->picture().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(read, decoded(stored));
        QCOMPARE(read.size(), shown.size());
    }

    void enrolmentIsAskedFor_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("typed");
        QTest::newRow("store, nothing typed") << "Command1"
                                              << "";
        QTest::newRow("store, blanks") << "Command1"
                                       << "   ";
        QTest::newRow("read, nothing typed") << "cmdVerFoto"
                                             << "";
        QTest::newRow("read, blanks") << "cmdVerFoto"
                                      << "  ";
    }

    void enrolmentIsAskedFor()
    {
        QFETCH(QString, button);
        QFETCH(QString, typed);
        insertStudent(*m_cn, QStringLiteral("12"), typed, jpeg(pattern(20, 20, 41)));
        FrmImageCapture& window = startStation();
        cropFrame();
        const QImage before = window.controls().ImagXpress2->picture();
        window.controls().lblMensagem->setText(QStringLiteral("anterior"));
        typeEnrolment(typed);
        click(window.findChild<QPushButton*>(button));
        QCOMPARE(m_desktop->boxes.size(), 1);
        QCOMPARE(m_desktop->boxes.first().text, QStringLiteral("Informe a matricula do aluno!"));
        QCOMPARE(m_desktop->boxes.first().title, QStringLiteral("QuveloCap"));
        QCOMPARE(m_desktop->boxes.first().icon, qc::Desktop::Icon::Information);
        QCOMPARE(m_desktop->calls.size(), 1); // no wait pointer either
        QCOMPARE(window.controls().lblMensagem->text(), QStringLiteral("anterior"));
        QCOMPARE(window.controls().ImagXpress2->picture(), before);
        QVERIFY(workFiles().isEmpty());
    }

    // The entry shows the code as composed, but the whole code picks the student.
    void fourCharacterUnitReachesOnlyItsOwnStudent()
    {
        const QByteArray neighbour = jpeg(pattern(20, 20, 42));
        insertStudent(*m_cn, QStringLiteral("123"), kEnrolment, neighbour);
        insertStudent(*m_cn, QStringLiteral("1234"), kEnrolment, neighbour);
        FrmImageCapture& window = startStation();
        cropFrame();
        chooseUnit(QStringLiteral("1234"));
        QCOMPARE(window.controls().cmbUnidade->currentText(), QStringLiteral("1234  | Escola Mil"));
        typeEnrolment(kEnrolment);
        click(window.controls().Command1);
        QCOMPARE(window.controls().lblMensagem->text(), QStringLiteral("Foto salva com sucesso"));
        const QString again = m_appDir->filePath(QStringLiteral("again.jpg"));
        window.controls().ImagXpress2->setSaveName(again);
        window.controls().ImagXpress2->saveImage();
        QCOMPARE(photoOf(m_cn, QStringLiteral("1234"), kEnrolment).toByteArray(), fileBytes(again));
        QCOMPARE(photoOf(m_cn, QStringLiteral("123"), kEnrolment).toByteArray(), neighbour);
    }

    void readOutcomesOnTheWindow_data()
    {
        QTest::addColumn<QVariant>("field");
        QTest::addColumn<QString>("mensagem");
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("no row") << QVariant(QStringLiteral("<no row>"))
                                << QStringLiteral("Registro não encontrado!") << QStringList{};
        QTest::newRow("null photo") << QVariant() << QStringLiteral("Sem foto cadastrada")
                                    << QStringList{"wait:on", "wait:off"};
        QTest::newRow("not a picture")
            << QVariant(randomBytes(5000, 43))
            << QStringLiteral("Erro: O conteúdo do campo \"foto\" não é uma imagem que se possa "
                              "mostrar.")
            << QStringList{"wait:on", "wait:off"};
    }

    void readOutcomesOnTheWindow()
    {
        QFETCH(QVariant, field);
        QFETCH(QString, mensagem);
        QFETCH(QStringList, calls);
        if (field.toString() != QLatin1String("<no row>"))
            insertStudent(*m_cn, QStringLiteral("12"), kEnrolment, field);
        FrmImageCapture& window = startStation();
        cropFrame();
        chooseUnit(QStringLiteral("12"));
        typeEnrolment(kEnrolment);
        window.controls().lblMensagem->setText(QStringLiteral("anterior"));
        click(window.controls().cmdVerFoto);
        QVERIFY(!window.controls().ImagXpress2->hasImage());
        QCOMPARE(window.controls().lblMensagem->text(), mensagem);
        QCOMPARE(m_desktop->calls, calls);
        QVERIFY(workFiles().isEmpty());
    }

    // A photo control without a photo encodes nothing: that is said, and the file an
    // earlier store left is not stored in its place.
    void nothingToStore()
    {
        const QByteArray previous = jpeg(pattern(30, 30, 44));
        insertStudent(*m_cn, QStringLiteral("12"), kEnrolment, previous);
        FrmImageCapture& window = startStation();
        chooseUnit(QStringLiteral("12"));
        typeEnrolment(kEnrolment);
        click(window.controls().Command1);
        QCOMPARE(window.controls().lblMensagem->text(),
                 QStringLiteral("Erro: Não há imagem para gravar."));
        QVERIFY(m_desktop->calls.isEmpty());
        QCOMPARE(photoOf(m_cn, QStringLiteral("12"), kEnrolment).toByteArray(), previous);
        QVERIFY(workFiles().isEmpty());
    }

    // The station's connection goes away (its server process ended, or closed): the next
    // store and the next read open it again from the stored settings and do their work.
    void lostConnection()
    {
        const QByteArray previous = jpeg(pattern(30, 30, 46));
        insertStudent(*m_cn, QStringLiteral("12"), kEnrolment, previous);
        FrmImageCapture& window = startStation();
        cropFrame();
        chooseUnit(QStringLiteral("12"));
        typeEnrolment(kEnrolment);
        auto loseConnection = [&] {
            const std::shared_ptr<qc::Connection> station = window.module1().cnBanco();
            if (m_db->engine() == QLatin1String("sqlite")) {
                station->close();
                return;
            }
            const QVariant pid = [&] {
                qc::Recordset rs;
                rs.open(QStringLiteral("SELECT pg_backend_pid() AS pid"), station);
                return rs.fields(QStringLiteral("pid")).value();
            }();
            m_cn->execute(QStringLiteral("SELECT pg_terminate_backend(CAST(? AS integer))"), {pid});
        };
        loseConnection();
        click(window.controls().Command1);
        QCOMPARE(window.controls().lblMensagem->text(), QStringLiteral("Foto salva com sucesso"));
        const QByteArray stored = photoOf(m_cn, QStringLiteral("12"), kEnrolment).toByteArray();
        QVERIFY(stored.startsWith("\xFF\xD8") && stored != previous);

        loseConnection();
        window.controls().ImagXpress2->setPicture(QImage());
        click(window.controls().cmdVerFoto);
        QCOMPARE(window.controls().lblMensagem->text(), QStringLiteral("Foto lida com sucesso"));
        QCOMPARE(window.controls().ImagXpress2->picture().convertToFormat(QImage::Format_RGB32),
                 decoded(stored));
        QVERIFY(workFiles().isEmpty());
    }

    // Another station holds the student's row in an open transaction: the store waits a
    // bounded time, then says why, and the row keeps its photo.
    void rowHeldElsewhere()
    {
        if (m_db->engine() != QLatin1String("postgresql"))
            QSKIP("a held row is a server's matter; SQLite's lock wait has its own bound");
        const QByteArray previous = jpeg(pattern(30, 30, 49));
        insertStudent(*m_cn, QStringLiteral("12"), kEnrolment, previous);
        FrmImageCapture& window = startStation();
        cropFrame();
        chooseUnit(QStringLiteral("12"));
        typeEnrolment(kEnrolment);
        m_cn->beginTransaction();
        m_cn->execute(QStringLiteral("UPDATE Aca_FichaCadastralAluno SET matricula = matricula "
                                     "WHERE matricula = ?"),
                      {kEnrolment});
        click(window.controls().Command1);
        const QString said = window.controls().lblMensagem->text();
        m_cn->rollbackTransaction();
        QVERIFY2(said.startsWith(QLatin1String("Erro: ")) && said.contains(QLatin1String("lock")),
                 qPrintable(said));
        QCOMPARE(photoOf(m_cn, QStringLiteral("12"), kEnrolment).toByteArray(), previous);
        QVERIFY(!m_desktop->waitCursor());
    }

    // A database's answer of several lines: the status line shows the first, where the
    // reason is, and its tooltip the whole text.
    void severalLinesOfReason()
    {
        insertStudent(*m_cn, QStringLiteral("12"), kEnrolment, QVariant());
        if (m_db->engine() == QLatin1String("sqlite")) {
            m_cn->execute(QStringLiteral(
                "CREATE TRIGGER qc_refuse BEFORE UPDATE ON Aca_FichaCadastralAluno BEGIN SELECT "
                "RAISE(ABORT, 'foto bloqueada pela secretaria\nprocure a coordenação'); END"));
        } else {
            m_cn->execute(QStringLiteral(
                "CREATE OR REPLACE FUNCTION qc_refuse_photo() RETURNS trigger AS $$ BEGIN RAISE "
                "EXCEPTION 'foto bloqueada pela secretaria' USING DETAIL = 'procure a "
                "coordenação'; END $$ LANGUAGE plpgsql"));
            m_cn->execute(QStringLiteral(
                "CREATE TRIGGER qc_refuse BEFORE UPDATE ON Aca_FichaCadastralAluno FOR EACH ROW "
                "EXECUTE FUNCTION qc_refuse_photo()"));
        }
        FrmImageCapture& window = startStation();
        cropFrame();
        chooseUnit(QStringLiteral("12"));
        typeEnrolment(kEnrolment);
        click(window.controls().Command1);
        const QString line = window.controls().lblMensagem->text();
        const QString whole = window.controls().lblMensagem->toolTip();
        QVERIFY2(line.startsWith(QLatin1String("Erro: ")) && !line.contains(QLatin1Char('\n')),
                 qPrintable(line));
        QVERIFY2(line.contains(QLatin1String("foto bloqueada pela secretaria")), qPrintable(line));
        QVERIFY2(whole.startsWith(line) && whole.contains(QStringLiteral("procure a coordenação")),
                 qPrintable(whole));
        QVERIFY(photoOf(m_cn, QStringLiteral("12"), kEnrolment).isNull());
    }

    // The user's folders and an export folder on a disk that is full: the store does not
    // need the disk and succeeds without leaving a file there; the export is refused and
    // the exported file keeps its bytes.
    void fullDisk()
    {
#ifdef Q_OS_WIN
        QSKIP("the work file lies in the user's local application data there, on no disk the "
              "test can fill; the export to a full drive is exportRefusedByTheDisk");
#endif
        QTemporaryDir mountPoint;
        QProcess mount;
        mount.setProcessChannelMode(QProcess::MergedChannels);
        mount.start(QStringLiteral("mount"),
                    {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                     QStringLiteral("size=16k,mode=0700"), QStringLiteral("tmpfs"),
                     mountPoint.path()});
        if (!mount.waitForFinished() || mount.exitStatus() != QProcess::NormalExit ||
            mount.exitCode() != 0)
            QSKIP(qPrintable(QStringLiteral("this machine refuses a small tmpfs mount: ") +
                             QString::fromLocal8Bit(mount.readAll()).trimmed()));
        auto unmount =
            qScopeGuard([&] { QProcess::execute(QStringLiteral("umount"), {mountPoint.path()}); });
        const QString disk = mountPoint.path();
        // A file already exported there, and filler that leaves 4 KiB free.
        const QString exported = disk + QStringLiteral("/aluno.jpeg");
        const QByteArray earlier = jpeg(pattern(20, 20, 47)).leftJustified(4096, '\0', true);
        for (const auto& [name, bytes] :
             {std::pair{exported, earlier},
              std::pair{disk + QStringLiteral("/filler"), QByteArray(8192, 'x')}}) {
            QFile file(name);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(bytes), bytes.size());
        }
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(disk));

        const QByteArray previous = jpeg(pattern(30, 30, 48));
        insertStudent(*m_cn, QStringLiteral("12"), kEnrolment, previous);
        FrmImageCapture& window = startStation();
        cropFrame();
        QVERIFY(window.controls().ImagXpress2->picture().size() == QSize(160, 200));
        chooseUnit(QStringLiteral("12"));
        typeEnrolment(kEnrolment);
        window.controls().lblMensagem->setText(QStringLiteral("anterior"));
        click(window.controls().Command1);
        QCOMPARE(window.controls().lblMensagem->toolTip(), QStringLiteral("Foto salva com sucesso"));
        const QByteArray stored = photoOf(m_cn, QStringLiteral("12"), kEnrolment).toByteArray();
        QVERIFY(stored != previous);
        QCOMPARE(QImage::fromData(stored).size(), QSize(160, 200));
        QCOMPARE(QDir(disk).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot),
                 (QStringList{QStringLiteral("aluno.jpeg"), QStringLiteral("filler")}));

        m_desktop->clear();
        m_desktop->nextSaveName = exported;
        click(window.controls().cmdSalvar);
        QCOMPARE(m_desktop->boxes.size(), 1);
        QVERIFY2(m_desktop->boxes.first().text.startsWith(
                     QStringLiteral("Erro: Não foi possível gravar o arquivo")),
                 qPrintable(m_desktop->boxes.first().text));
        QCOMPARE(fileBytes(exported), earlier);
        QCOMPARE(QDir(disk).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot).size(), 2);
    }

    // The photo exported over an earlier file on a disk that is full, or read-only: the
    // operator is told why, and the earlier file keeps its bytes, with nothing beside it.
    void exportRefusedByTheDisk_data()
    {
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<int>("error"); // the system's code for the reason
#ifdef Q_OS_WIN
        QTest::newRow("full disk") << false << int(ERROR_DISK_FULL);
        QTest::newRow("read-only folder") << true << int(ERROR_ACCESS_DENIED);
#else
        QTest::newRow("full disk") << false << ENOSPC;
        QTest::newRow("read-only folder") << true << EROFS;
#endif
    }
    void exportRefusedByTheDisk()
    {
        QFETCH(bool, readOnly);
        QFETCH(int, error);
        RefusingDisk disk(readOnly);
        if (!disk.refusal.isEmpty())
            QSKIP(qPrintable(QStringLiteral("no refusing disk here: ") + disk.refusal));
        // The earlier export, and on the small disk filler that leaves 4 KiB free.
        const QByteArray earlier = jpeg(pattern(20, 20, 47)).leftJustified(4096, '\0', true);
        QStringList files{QStringLiteral("aluno.jpeg")};
        QVERIFY(writeFile(QDir(disk.setUp).filePath(QStringLiteral("aluno.jpeg")), earlier));
        if (!readOnly) {
            QVERIFY(writeFile(QDir(disk.setUp).filePath(QStringLiteral("filler")),
                              QByteArray(8192, 'x')));
            files << QStringLiteral("filler");
        }

        FrmImageCapture& window = startStation();
        cropFrame();
        const QString exported = QDir(disk.path).filePath(QStringLiteral("aluno.jpeg"));
        m_desktop->nextSaveName = exported;
        click(window.controls().cmdSalvar);
        QCOMPARE(m_desktop->boxes.size(), 1);
        const QString said = m_desktop->boxes.first().text;
        QVERIFY2(said.startsWith(QStringLiteral("Erro: Não foi possível gravar o arquivo \"") +
                                 QDir::toNativeSeparators(exported) + QStringLiteral("\": ")) &&
                     said.contains(qt_error_string(error).trimmed()),
                 qPrintable(said));
        QCOMPARE(fileBytes(exported), earlier);
        QCOMPARE(QDir(disk.path).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot),
                 files);
    }
};

QTEST_MAIN(TestPhotoWindow)
#include "tst_PhotoWindow.moc"
