// The capture window on SQL Server: FreeTDS's ODBC driver against a loopback server that
// answers in TDS as SQL Server does, with the unit list, the photo read and the store
// checked on the wire and on the window, faults included.

#include "common/RecordingDesktop.h"
#include "imaging/ImageControl.h"
#include "records/MemorySettings.h"
#include "records/Module1.h"
#include "records/PhotoTestKit.h"
#include "records/TdsServer.h"
#include "shell/FrmImageCapture.h"
#include "ui_frmImageCapture.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using namespace phototest;
using qc::FrmImageCapture;

namespace {

const QString kUnit = QStringLiteral("0101");
const QString kEnrolment = QStringLiteral("2020001");

// A JPEG of exactly size bytes: a small picture, then zeros after its end marker.
QByteArray photoOfSize(qsizetype size)
{
    QByteArray bytes = jpeg(pattern(64, 48, quint32(size))).left(size);
    bytes.append(size - bytes.size(), '\0');
    return bytes;
}

} // namespace

class TestSqlServerWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<TdsServer> m_server;
    std::unique_ptr<QTemporaryDir> m_appDir, m_runDir;
    std::unique_ptr<RecordingDesktop> m_desktop;
    std::unique_ptr<MemorySettings> m_settings;
    std::unique_ptr<FrmImageCapture> m_window;

    FrmImageCapture& startStation()
    {
        m_desktop = std::make_unique<RecordingDesktop>();
        m_settings = std::make_unique<MemorySettings>();
        m_settings->values = {{"srv", m_server->server()},
                              {"db", "escola"},
                              {"us", "sa"},
                              {"pw", m_server->password}};
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

    // The station on the unit and student, a photo cropped in its control.
    FrmImageCapture& readyToStore()
    {
        FrmImageCapture& window = startStation();
        window.controls().ImagXpress1->setPicture(pattern(640, 480, 40));
        window.controls().picCapture->hide();
        window.controls().ImagXpress1->show();
        QWidget* vp = window.controls().ImagXpress1->viewport();
        QTest::mousePress(vp, Qt::LeftButton, {}, QPoint(100, 60));
        QTest::mouseMove(vp, QPoint(200, 150));
        QTest::mouseMove(vp, QPoint(260, 260));
        QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(260, 260));
        if (!QTest::qWaitFor([&] { return window.controls().ImagXpress2->hasImage(); }))
            qFatal("no crop");
        window.controls().cmbUnidade->setCurrentIndex(window.controls().cmbUnidade->findData(kUnit));
        window.controls().txtMatricula->setText(kEnrolment);
        return window;
    }

    QByteArray encodedPhoto()
    {
        const QString again = m_appDir->filePath(QStringLiteral("again.jpg"));
        m_window->controls().ImagXpress2->setSaveName(again);
        m_window->controls().ImagXpress2->saveImage();
        QFile file(again);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QString status() const { return m_window->controls().lblMensagem->text(); }

private slots:
    void init()
    {
        m_server = std::make_unique<TdsServer>();
        QVERIFY(m_server->port() != 0);
        m_server->units = {{QStringLiteral("0101"), QStringLiteral("São João")},
                           {QStringLiteral("0102"), QStringLiteral("Educação")},
                           {QStringLiteral("0103"), std::nullopt}};
        m_server->students = {{kUnit, kEnrolment, QByteArray("previous")}};
        m_appDir = std::make_unique<QTemporaryDir>();
        m_runDir = std::make_unique<QTemporaryDir>();
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runDir->path()));
    }

    void cleanup()
    {
        m_window.reset();
        m_server.reset();
    }

    void unitListFromEitherColumnType_data()
    {
        QTest::addColumn<bool>("nvarchar");
        QTest::newRow("varchar, code page 1252") << false;
        QTest::newRow("nvarchar") << true;
    }
    void unitListFromEitherColumnType()
    {
        QFETCH(bool, nvarchar);
        m_server->unitNamesAsNvarchar = nvarchar;
        FrmImageCapture& window = startStation();
        QStringList entries;
        for (int i = 0; i < window.controls().cmbUnidade->count(); ++i)
            entries << window.controls().cmbUnidade->itemText(i);
        QCOMPARE(entries, (QStringList{"0101  | São João", "0102  | Educação", "0103  | "}));
    }

    void verFotoOfEachSize_data()
    {
        QTest::addColumn<int>("size"); // -1: NULL
        QTest::addColumn<int>("chunk");
        QTest::addColumn<QString>("mensagem");
        QTest::newRow("NULL") << -1 << 8000 << "Sem foto cadastrada";
        QTest::newRow("0 bytes") << 0 << 8000 << "Sem foto cadastrada";
        QTest::newRow("1 byte") << 1 << 8000
                                << "Erro: O conteúdo do campo \"foto\" não é uma imagem que se "
                                   "possa mostrar.";
        QTest::newRow("16,384 bytes, one chunk") << 16384 << 16384 << "Foto lida com sucesso";
        QTest::newRow("47 KB, chunks of 1,000") << 47 * 1024 << 1000 << "Foto lida com sucesso";
        QTest::newRow("5 MB, chunks of 65,536") << 5 * 1024 * 1024 << 65536
                                                << "Foto lida com sucesso";
    }
    void verFotoOfEachSize()
    {
        QFETCH(int, size);
        QFETCH(int, chunk);
        QFETCH(QString, mensagem);
        const QByteArray photo = size < 0 ? QByteArray() : photoOfSize(size);
        m_server->students = {{kUnit, kEnrolment,
                               size < 0 ? std::nullopt : std::optional<QByteArray>(photo)}};
        m_server->plpChunk = chunk;
        FrmImageCapture& window = startStation();
        window.controls().cmbUnidade->setCurrentIndex(window.controls().cmbUnidade->findData(kUnit));
        window.controls().txtMatricula->setText(kEnrolment);
        QTest::mouseClick(window.controls().cmdVerFoto, Qt::LeftButton);
        QCOMPARE(status(), mensagem);
        if (size > 1)
            QCOMPARE(window.controls().ImagXpress2->picture().convertToFormat(QImage::Format_RGB32),
                     decoded(photo));
        else
            QVERIFY(!window.controls().ImagXpress2->hasImage());
    }

    void salvarFotoSendsTheEncodedJpegAsVarbinaryMax()
    {
        FrmImageCapture& window = readyToStore();
        QTest::mouseClick(window.controls().Command1, Qt::LeftButton);
        QCOMPARE(status(), QStringLiteral("Foto salva com sucesso"));
        const QByteArray encoded = encodedPhoto();
        QVERIFY(encoded.startsWith("\xFF\xD8"));
        QCOMPARE(m_server->photoOf(kEnrolment).value_or(QByteArray()), encoded);
        const TdsServer::Request store = m_server->requests().last();
        QVERIFY(store.statement.startsWith(QLatin1String("UPDATE Aca_FichaCadastralAluno")));
        QCOMPARE(store.params.first().type, quint8(0xA5));
        QCOMPARE(store.params.first().maxLength, quint32(0xFFFF));
        // The unit and the enrolment number as varchar: an index on a varchar column stays
        // usable (an nvarchar value would convert the column).
        QCOMPARE(store.params.size(), 5);
        for (int i = 1; i < 5; ++i) {
            QCOMPARE(store.params[i].type, quint8(0xA7));
            QCOMPARE(QString::fromLatin1(store.params[i].value), i % 2 ? kUnit : kEnrolment);
        }
    }

    void salvarFotoOutcomes_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("mensagem");
        QTest::newRow("no row") << 0 << "Registro não encontrado!";
        QTest::newRow("two rows")
            << 2
            << "Erro: Há 2 registros para esta unidade e matrícula; nenhuma foto foi alterada.";
    }
    void salvarFotoOutcomes()
    {
        QFETCH(int, rows);
        QFETCH(QString, mensagem);
        m_server->students.clear();
        for (int i = 0; i < rows; ++i)
            m_server->students.append({kUnit, kEnrolment, QByteArray("previous")});
        FrmImageCapture& window = readyToStore();
        QTest::mouseClick(window.controls().Command1, Qt::LeftButton);
        QCOMPARE(status(), mensagem);
        for (const TdsServer::Student& s : m_server->students)
            QCOMPARE(s.photo.value_or(QByteArray()), QByteArray("previous"));
    }

    void serverErrorsKeepThePreviousPhoto_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("times");
        QTest::addColumn<QString>("mensagem");
        QTest::newRow("trigger") << 50000 << "Foto recusada pelo gatilho." << 1
                                 << "Erro: [FreeTDS][SQL Server]Foto recusada pelo gatilho.";
        QTest::newRow("lock time-out")
            << 1222 << "Lock request time out period exceeded." << 1
            << "Erro: [FreeTDS][SQL Server]Lock request time out period exceeded.";
        QTest::newRow("NULL into NOT NULL")
            << 515 << "Cannot insert the value NULL into column 'foto'." << 1
            << "Erro: [FreeTDS][SQL Server]Cannot insert the value NULL into column 'foto'.";
        QTest::newRow("deadlock twice")
            << 1205 << "Transaction was deadlocked. Rerun the transaction." << 2
            << "Erro: [FreeTDS][SQL Server]Transaction was deadlocked. Rerun the transaction.";
        QTest::newRow("deadlock once: retried") << 1205 << "Transaction was deadlocked." << 1
                                                << "Foto salva com sucesso";
    }
    void serverErrorsKeepThePreviousPhoto()
    {
        QFETCH(int, number);
        QFETCH(QString, text);
        QFETCH(int, times);
        QFETCH(QString, mensagem);
        FrmImageCapture& window = readyToStore();
        m_server->failNumber = number;
        m_server->failMessage = text;
        m_server->failTimes = times;
        QTest::mouseClick(window.controls().Command1, Qt::LeftButton);
        QCOMPARE(status(), mensagem);
        const QByteArray expected =
            times == 1 && number == 1205 ? encodedPhoto() : QByteArray("previous");
        QCOMPARE(m_server->photoOf(kEnrolment).value_or(QByteArray()), expected);
    }

    void brokenConnectionIsAnError_data()
    {
        QTest::addColumn<TdsServer::Cut>("cut");
        QTest::addColumn<bool>("store");
        QTest::newRow("closed mid answer") << TdsServer::Cut::MidAnswer << false;
        QTest::newRow("closed mid store request") << TdsServer::Cut::MidStoreRequest << true;
    }
    void brokenConnectionIsAnError()
    {
        QFETCH(TdsServer::Cut, cut);
        QFETCH(bool, store);
        m_server->students = {{kUnit, kEnrolment, photoOfSize(300 * 1024)}};
        FrmImageCapture& window = readyToStore();
        if (!store)
            window.controls().ImagXpress2->setPicture(QImage());
        m_server->cut = cut;
        QTest::mouseClick(store ? window.controls().Command1 : m_window->controls().cmdVerFoto,
                          Qt::LeftButton);
        QVERIFY2(status().startsWith(QLatin1String("Erro: ")), qPrintable(status()));
        QCOMPARE(m_server->photoOf(kEnrolment)->size(), 300 * 1024);
    }
};

QTEST_MAIN(TestSqlServerWindow)
#include "tst_SqlServerWindow.moc"
