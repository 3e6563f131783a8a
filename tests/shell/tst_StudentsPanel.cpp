// The unit's students beside the capture window, the keyboard round and the undo of the
// last store, on the real window, the test-pattern camera and a real database: once on
// SQLite and once on the PostgreSQL test server.

#include "camera/QtCaptureLibrary.h"
#include "camera/TestPatternDriver.h"
#include "common/RecordingDesktop.h"
#include "imaging/ImageControl.h"
#include "records/Connection.h"
#include "records/DatabaseFixture.h"
#include "records/MemorySettings.h"
#include "records/PhotoTestKit.h"
#include "records/StudentRoster.h"
#include "shell/FrmImageCapture.h"
#include "shell/PhotoDay.h"
#include "shell/StudentsPanel.h"
#include "ui_frmImageCapture.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenuBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using namespace phototest;
using qc::FrmImageCapture;

namespace {

const QString kUnit = QStringLiteral("12");
const QString kSaved = QStringLiteral("Foto salva com sucesso");

} // namespace

class TestStudentsPanel : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<DatabaseFixture> m_db;
    std::shared_ptr<qc::Connection> m_cn;
    std::unique_ptr<QTemporaryDir> m_appDir;
    std::unique_ptr<RecordingDesktop> m_desktop;
    std::unique_ptr<MemorySettings> m_settings;
    std::unique_ptr<qc::QtCaptureLibrary> m_library;
    std::unique_ptr<FrmImageCapture> m_window;

    // The students of unit 12 (and a neighbour unit's), with photos where given.
    void addStudents(const QList<std::pair<QString, bool>>& students)
    {
        quint32 seed = 1;
        for (const auto& [enrolment, withPhoto] : students)
            insertStudent(*m_cn, kUnit, enrolment,
                          withPhoto ? QVariant(jpeg(pattern(24, 32, ++seed))) : QVariant());
    }

    FrmImageCapture& startStation(bool panelShown = true, const QString& nameColumn = {})
    {
        m_desktop = std::make_unique<RecordingDesktop>();
        m_settings = std::make_unique<MemorySettings>();
        m_settings->values = {{"srv", m_db->server()},
                              {"db", m_db->database()},
                              {"us", m_db->user()},
                              {"pw", m_db->password()},
                              {"enquadrar", "0"}};
        if (panelShown)
            m_settings->values.insert(QStringLiteral("alunos"), QStringLiteral("1"));
        if (!nameColumn.isNull())
            m_settings->values.insert(QStringLiteral("nome"), nameColumn);
        m_library = std::make_unique<qc::QtCaptureLibrary>();
        m_library->addDriver(std::make_unique<qc::TestPatternDriver>());
        qc::StationServices services;
        services.desktop = m_desktop.get();
        services.settings = m_settings.get();
        services.capture = m_library.get();
        services.appFolder = m_appDir->path();
        m_window = std::make_unique<FrmImageCapture>(services);
        m_window->Form_Load();
        m_window->show();
        if (!QTest::qWaitForWindowExposed(m_window.get()))
            qFatal("window not exposed");
        roster().finishLoading();
        return *m_window;
    }

    qc::PhotoDay& day() const { return m_window->photoDay(); }
    qc::StudentsPanel& panel() const { return day().panel(); }
    qc::StudentRoster& roster() const { return day().roster(); }
    const Ui::frmImageCapture& ui() const { return m_window->controls(); }

    QStringList listed() const
    {
        QStringList rows;
        const QAbstractItemModel* model = panel().list()->model();
        for (int row = 0; row < model->rowCount(); ++row)
            rows.append(model->index(row, 0).data().toString());
        return rows;
    }

    // The operator clicks the student's line in the list.
    void clickStudent(const QString& enrolment)
    {
        QListView* list = panel().list();
        const QAbstractItemModel* model = list->model();
        for (int row = 0; row < model->rowCount(); ++row) {
            const QModelIndex index = model->index(row, 0);
            if (index.data(qc::StudentRoster::EnrolmentRole).toString() != enrolment)
                continue;
            list->scrollTo(index);
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                              list->visualRect(index).center());
            return;
        }
        QFAIL(qPrintable(QStringLiteral("%1 is not listed").arg(enrolment)));
    }

    // A grab of the test pattern, cut by a drag, as the operator confirms a photo.
    void grabAndCrop()
    {
        if (!ui().cmdSave->isEnabled())
            QTest::mouseClick(ui().cmdStart, Qt::LeftButton);
        QVERIFY(ui().cmdSave->isEnabled());
        QTest::mouseClick(ui().cmdSave, Qt::LeftButton);
        QVERIFY(ui().ImagXpress1->isVisible());
        QWidget* vp = ui().ImagXpress1->viewport();
        QTest::mousePress(vp, Qt::LeftButton, {}, QPoint(100, 60));
        QTest::mouseMove(vp, QPoint(200, 150));
        QTest::mouseMove(vp, QPoint(220, 210));
        QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(220, 210));
        QTRY_VERIFY(ui().ImagXpress2->hasImage());
    }

    QByteArray storedBytes(const QString& enrolment) const
    {
        return photoOf(m_cn, kUnit, enrolment).toByteArray();
    }

private slots:
    void initTestCase_data() { DatabaseFixture::addEngineRows(); }

    void init()
    {
        QFETCH_GLOBAL(QString, engine);
        m_db = std::make_unique<DatabaseFixture>(engine);
        m_cn = m_db->connect();
        m_db->createTables(*m_cn);
        for (const auto& [code, name] :
             {std::pair{"12", "Escola Doze"}, std::pair{"13", "Escola Treze"}})
            m_cn->execute(QStringLiteral("INSERT INTO bas_unidades VALUES (?, ?)"),
                          {QString::fromUtf8(code), QString::fromUtf8(name)});
        m_appDir = std::make_unique<QTemporaryDir>();
    }

    void cleanup()
    {
        m_window.reset();
        m_library.reset();
        m_desktop.reset();
        m_cn.reset();
        m_db.reset();
    }

    // Off on a first start: the window is the designed one. Shown, the window widens to
    // the right and the designed area stays where it was; the choice is kept.
    void panelWidensTheWindowAndIsRemembered()
    {
        FrmImageCapture& window = startStation(false);
        const QRect designed = window.centralWidget()->geometry();
        QCOMPARE(designed.size(), QSize(820, 629));
        QCOMPARE(window.width(), 820);
        QVERIFY(!window.mnuAlunos()->isChecked());
        QVERIFY(!panel().isVisible());
        QVERIFY(!m_settings->values.contains(QStringLiteral("alunos")));

        window.mnuAlunos()->trigger();
        QVERIFY(panel().isVisible());
        QCOMPARE(window.width(), 820 + qc::StudentsPanel::PanelWidth);
        QCOMPARE(window.minimumSize(), window.maximumSize());
        QTRY_COMPARE(window.centralWidget()->geometry(), designed);
        QCOMPARE(ui().Command1->geometry(), QRect(729, 48, 82, 25));
        QCOMPARE(panel().geometry().left(), 820);
        QCOMPARE(m_settings->values.value(QStringLiteral("alunos")), QStringLiteral("1"));

        window.mnuAlunos()->trigger();
        QVERIFY(!panel().isVisible());
        QCOMPARE(window.width(), 820);
        QCOMPARE(m_settings->values.value(QStringLiteral("alunos")), QStringLiteral("0"));
    }

    // Those without a photo first, each part in enrolment order, across pages; a number
    // with several rows once; another unit's students never.
    void orderAndCounts_data()
    {
        QTest::addColumn<int>("pageSize");
        QTest::newRow("one page") << 256;
        QTest::newRow("pages of two") << 2;
    }
    void orderAndCounts()
    {
        QFETCH(int, pageSize);
        addStudents({{"105", true},
                     {"101", false},
                     {"103", true},
                     {"104", false},
                     {"102", false},
                     {"106", true}});
        insertStudent(*m_cn, kUnit, QStringLiteral("101"), QVariant()); // a second row
        insertStudent(*m_cn, kUnit, QStringLiteral("107"), QVariant());
        insertStudent(*m_cn, kUnit, QStringLiteral("107"), jpeg(pattern(8, 8, 9)));
        insertStudent(*m_cn, QStringLiteral("13"), QStringLiteral("100"), QVariant());
        insertStudent(*m_cn, kUnit, QStringLiteral("108"), QByteArray()); // empty: no photo
        startStation();
        roster().setPageSize(pageSize);
        roster().load(kUnit);
        QVERIFY(roster().loading());
        QTRY_VERIFY(!roster().loading());
        QCOMPARE(listed(), (QStringList{"101 (sem foto)", "102 (sem foto)", "104 (sem foto)",
                                        "108 (sem foto)", "103", "105", "106", "107"}));
        QCOMPARE(panel().counts()->text(), QStringLiteral("Sem foto: 4 de 8"));

        // Typing filters the list.
        QTest::keyClicks(panel().filter(), QStringLiteral("10"));
        QCOMPARE(listed().size(), 8);
        QTest::keyClicks(panel().filter(), QStringLiteral("5"));
        QCOMPARE(listed(), QStringList{"105"});
        panel().filter()->clear();
        QTest::keyClicks(panel().filter(), QStringLiteral("SEM FOTO"));
        QCOMPARE(listed().size(), 4);
        QCOMPARE(ui().txtMatricula->text(), QString()); // filtering chooses nobody

        // Another unit: the panel follows.
        ui().cmbUnidade->setCurrentIndex(ui().cmbUnidade->findData(QStringLiteral("13")));
        panel().filter()->clear();
        roster().finishLoading();
        QCOMPARE(listed(), QStringList{"100 (sem foto)"});
        QCOMPARE(panel().counts()->text(), QStringLiteral("Sem foto: 1 de 1"));
    }

    // Choosing a student fills "Matricula" and shows his stored photo, or that he has none.
    void choosingShowsTheCurrentPhoto()
    {
        addStudents({{"201", true}, {"202", false}});
        startStation();
        clickStudent(QStringLiteral("201"));
        QCOMPARE(ui().txtMatricula->text(), QStringLiteral("201"));
        const QPixmap shown = panel().currentPhoto()->pixmap();
        QVERIFY(!shown.isNull());
        QCOMPARE(shown.size(), QSize(24, 32).scaled(120, 150, Qt::KeepAspectRatio));
        clickStudent(QStringLiteral("202"));
        QCOMPARE(ui().txtMatricula->text(), QStringLiteral("202"));
        QVERIFY(panel().currentPhoto()->pixmap().isNull());
        QCOMPARE(panel().currentPhoto()->text(), QStringLiteral("Sem foto cadastrada"));
    }

    // The setting "nome" names the student table's column with the names: list and panel
    // show them; unset, no name; a setting that names no column is said, and the list still
    // comes, without names.
    void nameColumn_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("status");
        QTest::newRow("unset") << QString() << QStringList{"301 (sem foto)", "302"} << QString()
                               << QString();
        QTest::newRow("set") << "NomeAluno"
                             << QStringList{"301 - Ana Souza (sem foto)", "302 - Bruno Lima"}
                             << "Bruno Lima" << QString();
        QTest::newRow("other case")
            << "nomealuno" << QStringList{"301 - Ana Souza (sem foto)", "302 - Bruno Lima"}
            << "Bruno Lima" << QString();
        QTest::newRow("no such column")
            << "Apelido" << QStringList{"301 (sem foto)", "302"} << QString()
            << "Erro: A tabela Aca_FichaCadastralAluno não tem a coluna \"Apelido\".";
        QTest::newRow("not a name")
            << "nome; DROP TABLE bas_unidades" << QStringList{"301 (sem foto)", "302"} << QString()
            << "Erro: Nome de tabela ou coluna inválido: \"nome; DROP TABLE bas_unidades\"";
    }
    void nameColumn()
    {
        QFETCH(QString, setting);
        QFETCH(QStringList, rows);
        QFETCH(QString, name);
        QFETCH(QString, status);
        m_cn->execute(QStringLiteral("ALTER TABLE Aca_FichaCadastralAluno ADD NomeAluno "
                                     "varchar(60)"));
        m_cn->execute(QStringLiteral("INSERT INTO Aca_FichaCadastralAluno (codigounidade, "
                                     "matricula, foto, NomeAluno) VALUES (?, ?, ?, ?)"),
                      {kUnit, QStringLiteral("301"), QVariant(), QStringLiteral("Ana Souza")});
        m_cn->execute(
            QStringLiteral("INSERT INTO Aca_FichaCadastralAluno (codigounidade, "
                           "matricula, foto, NomeAluno) VALUES (?, ?, ?, ?)"),
            {kUnit, QStringLiteral("302"), jpeg(pattern(8, 8, 3)), QStringLiteral("Bruno Lima")});
        startStation(true, setting);
        QCOMPARE(listed(), rows);
        QCOMPARE(panel().status()->text(), status);
        clickStudent(QStringLiteral("302"));
        QCOMPARE(panel().studentName()->text(), name);
        QCOMPARE(m_cn->execute(QStringLiteral("DELETE FROM bas_unidades WHERE 1 = 0"), {}), 0);
    }

    // After "Foto salva com sucesso" the next student without a photo is chosen, the
    // preview runs again and the focus is back in "Matricula", its text selected.
    void advancesToTheNextStudentAfterAStore()
    {
        addStudents({{"401", false}, {"402", true}, {"403", false}, {"404", false}});
        startStation();
        clickStudent(QStringLiteral("403"));
        grabAndCrop();
        QTest::mouseClick(ui().Command1, Qt::LeftButton);
        QCOMPARE(ui().lblMensagem->text(), kSaved);
        QVERIFY(storedBytes(QStringLiteral("403")).startsWith("\xFF\xD8"));
        QCOMPARE(ui().txtMatricula->text(), QStringLiteral("404"));
        QCOMPARE(panel().chosen(), QStringLiteral("404"));
        QCOMPARE(panel().counts()->text(), QStringLiteral("Sem foto: 2 de 4"));
        QCOMPARE(listed().at(1), QStringLiteral("403"));
        QVERIFY(!ui().ImagXpress2->hasImage()); // 403's photo is not 404's
        QVERIFY(ui().cmdStop->isEnabled());     // previewing again
        QVERIFY(ui().cmdSave->isEnabled());
        QCOMPARE(QApplication::focusWidget(), ui().txtMatricula);
        QCOMPARE(ui().txtMatricula->selectedText(), QStringLiteral("404"));

        // The last one without a photo leads back to the first one left.
        grabAndCrop();
        QTest::mouseClick(ui().Command1, Qt::LeftButton);
        QCOMPARE(ui().lblMensagem->text(), kSaved);
        QCOMPARE(ui().txtMatricula->text(), QStringLiteral("401"));

        // Switched off, the station stays with the student it stored.
        panel().advance()->setChecked(false);
        grabAndCrop();
        QTest::mouseClick(ui().Command1, Qt::LeftButton);
        QCOMPARE(ui().lblMensagem->text(), kSaved);
        QCOMPARE(ui().txtMatricula->text(), QStringLiteral("401"));
        QCOMPARE(panel().counts()->text(), QStringLiteral("Sem foto: 0 de 4"));
    }

    // A photo that a store would replace is shown first: the store of a student typed
    // without being looked at stops once, with his photo in "Foto atual".
    void replacedPhotoIsSeenFirst()
    {
        addStudents({{"501", true}, {"502", false}});
        const QByteArray previous = storedBytes(QStringLiteral("501"));
        startStation();
        grabAndCrop();
        ui().txtMatricula->setText(QStringLiteral("501"));
        QTest::mouseClick(ui().Command1, Qt::LeftButton);
        QCOMPARE(ui().lblMensagem->text(),
                 QStringLiteral("Este aluno já tem foto: confira a Foto atual e salve de novo "
                                "para substituí-la."));
        QCOMPARE(storedBytes(QStringLiteral("501")), previous);
        QVERIFY(!panel().currentPhoto()->pixmap().isNull());
        QCOMPARE(panel().chosen(), QStringLiteral("501"));
        QTest::mouseClick(ui().Command1, Qt::LeftButton);
        QCOMPARE(ui().lblMensagem->text(), kSaved);
        QVERIFY(storedBytes(QStringLiteral("501")) != previous);
    }

    // The undo puts back what the store replaced, the bytes or no photo, once.
    void undoRestoresWhatTheStoreReplaced_data()
    {
        QTest::addColumn<bool>("hadPhoto");
        QTest::addColumn<QString>("said");
        QTest::newRow("photo") << true << QStringLiteral("Foto anterior restaurada");
        QTest::newRow("no photo") << false
                                  << QStringLiteral("Foto desfeita: o aluno está sem foto "
                                                    "novamente");
    }
    void undoRestoresWhatTheStoreReplaced()
    {
        QFETCH(bool, hadPhoto);
        QFETCH(QString, said);
        addStudents({{"601", hadPhoto}, {"602", false}});
        const QByteArray previous = storedBytes(QStringLiteral("601"));
        FrmImageCapture& window = startStation();
        QVERIFY(!window.mnuDesfazer()->isEnabled());
        QCOMPARE(window.mnuDesfazer()->shortcut(), QKeySequence(QStringLiteral("Ctrl+Alt+Z")));
        clickStudent(QStringLiteral("601"));
        grabAndCrop();
        QTest::mouseClick(ui().Command1, Qt::LeftButton);
        QCOMPARE(ui().lblMensagem->text(), kSaved);
        QVERIFY(storedBytes(QStringLiteral("601")) != previous);
        QVERIFY(window.mnuDesfazer()->isEnabled());

        // From the keyboard, with the focus in a text field whose own Ctrl+Z stays its own.
        ui().txtMatricula->setFocus();
        QTest::keyClick(ui().txtMatricula, Qt::Key_Z, Qt::ControlModifier | Qt::AltModifier);
        QCOMPARE(ui().lblMensagem->text(), said);
        const QVariant now = photoOf(m_cn, kUnit, QStringLiteral("601"));
        if (hadPhoto)
            QCOMPARE(now.toByteArray(), previous);
        else
            QVERIFY(now.isNull());
        QVERIFY(!window.mnuDesfazer()->isEnabled());
        QCOMPARE(panel().counts()->text(), hadPhoto ? QStringLiteral("Sem foto: 1 de 2")
                                                    : QStringLiteral("Sem foto: 2 de 2"));
        window.mnuDesfazer()->trigger(); // disabled: nothing happens
        QCOMPARE(ui().lblMensagem->text(), said);
    }

    // Another station stored a photo after ours: the undo says so and changes nothing.
    void undoRefusesARowChangedSince()
    {
        addStudents({{"701", true}});
        FrmImageCapture& window = startStation();
        clickStudent(QStringLiteral("701"));
        grabAndCrop();
        QTest::mouseClick(ui().Command1, Qt::LeftButton);
        QCOMPARE(ui().lblMensagem->text(), kSaved);
        const QByteArray theirs = jpeg(pattern(16, 16, 77));
        m_cn->execute(QStringLiteral("UPDATE Aca_FichaCadastralAluno SET foto = ? WHERE "
                                     "matricula = ?"),
                      {theirs, QStringLiteral("701")});
        window.mnuDesfazer()->trigger();
        QCOMPARE(ui().lblMensagem->text(),
                 QStringLiteral("A foto do aluno foi alterada depois da gravação; nada foi "
                                "desfeito."));
        QCOMPARE(storedBytes(QStringLiteral("701")), theirs);
        QVERIFY(!window.mnuDesfazer()->isEnabled());
    }

    // A scanner types the number and Enter: the student is shown and the preview starts;
    // Alt+C and Alt+S grab and store from "Matricula".
    void roundFromTheKeyboard()
    {
        addStudents({{"801", true}, {"802", false}, {"803", false}});
        insertStudent(*m_cn, QStringLiteral("13"), QStringLiteral("899"), QVariant());
        startStation();
        ui().txtMatricula->setFocus();
        // Another unit's student: nothing starts.
        QTest::keyClicks(ui().txtMatricula, QStringLiteral("899"));
        QTest::keyClick(ui().txtMatricula, Qt::Key_Return);
        QCOMPARE(panel().currentPhoto()->text(), QStringLiteral("Registro não encontrado!"));
        QVERIFY(!ui().cmdStop->isEnabled());
        ui().txtMatricula->selectAll();
        QTest::keyClicks(ui().txtMatricula, QStringLiteral("801"));
        QTest::keyClick(ui().txtMatricula, Qt::Key_Return);
        QCOMPARE(panel().chosen(), QStringLiteral("801"));
        QVERIFY(!panel().currentPhoto()->pixmap().isNull());
        QVERIFY(ui().cmdStop->isEnabled());
        QCOMPARE(QApplication::focusWidget(), ui().txtMatricula);

        // A mnemonic presses its button the way a click does, a moment later.
        QTest::keyClick(ui().txtMatricula, Qt::Key_C, Qt::AltModifier);
        QTRY_VERIFY(ui().ImagXpress1->isVisible()); // grabbed
        QVERIFY(!ui().cmdStop->isEnabled());
        QWidget* vp = ui().ImagXpress1->viewport();
        QTest::mousePress(vp, Qt::LeftButton, {}, QPoint(100, 60));
        QTest::mouseMove(vp, QPoint(180, 160));
        QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(180, 160));
        QTRY_VERIFY(ui().ImagXpress2->hasImage());
        ui().txtMatricula->setFocus();
        QTest::keyClick(ui().txtMatricula, Qt::Key_S, Qt::AltModifier);
        QTRY_COMPARE(ui().lblMensagem->text(), kSaved);
        QCOMPARE(ui().txtMatricula->text(), QStringLiteral("802"));
        QCOMPARE(ui().txtMatricula->selectedText(), QStringLiteral("802"));
    }

    // Hidden, a store is the designed one: no look at the photo first, no advance, the
    // focus left where it was, and nothing to undo.
    void hiddenPanelStoresAsDesigned()
    {
        addStudents({{"951", true}, {"952", false}});
        FrmImageCapture& window = startStation(false);
        const QByteArray previous = storedBytes(QStringLiteral("951"));
        grabAndCrop();
        ui().txtMatricula->setText(QStringLiteral("951"));
        QTest::mouseClick(ui().Command1, Qt::LeftButton);
        QCOMPARE(ui().lblMensagem->text(), kSaved);
        const QByteArray stored = storedBytes(QStringLiteral("951"));
        QVERIFY(stored != previous && stored.startsWith("\xFF\xD8"));
        QCOMPARE(ui().txtMatricula->text(), QStringLiteral("951"));
        QVERIFY(ui().ImagXpress2->hasImage());
        QVERIFY(!ui().cmdStop->isEnabled());
        QVERIFY(!window.mnuDesfazer()->isEnabled());
        QTest::keyClick(ui().txtMatricula, Qt::Key_Z, Qt::ControlModifier | Qt::AltModifier);
        QCOMPARE(ui().lblMensagem->text(), kSaved);
        QCOMPARE(storedBytes(QStringLiteral("951")), stored);

        // Shown afterwards, the list has what was stored meanwhile.
        window.mnuAlunos()->trigger();
        roster().finishLoading();
        QCOMPARE(listed(), (QStringList{"952 (sem foto)", "951"}));
        window.mnuAlunos()->trigger(); // hidden again, a store of 952
        ui().txtMatricula->setText(QStringLiteral("952"));
        QTest::mouseClick(ui().Command1, Qt::LeftButton);
        QCOMPARE(ui().lblMensagem->text(), kSaved);
        window.mnuAlunos()->trigger();
        roster().finishLoading();
        QCOMPARE(listed(), (QStringList{"951", "952"}));
    }

    // Hidden, Enter in "Matricula" does what it did before: nothing.
    void enterDoesNothingWithThePanelHidden()
    {
        addStudents({{"901", true}});
        startStation(false);
        ui().txtMatricula->setFocus();
        QTest::keyClicks(ui().txtMatricula, QStringLiteral("901"));
        QTest::keyClick(ui().txtMatricula, Qt::Key_Return);
        QVERIFY(!ui().cmdStop->isEnabled());
        QCOMPARE(ui().lblMensagem->text(), QStringLiteral("-"));
        QCOMPARE(roster().rowCount(), 0);
    }
};

QTEST_MAIN(TestStudentsPanel)
#include "tst_StudentsPanel.moc"
