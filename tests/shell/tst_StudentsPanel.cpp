// The unit's students beside the capture window: the window's room for them, their order
// and counts, the filter, the names, and the stored photo of the chosen one.

#include "PhotoDayStation.h"

using namespace photoday;

class TestStudentsPanel : public PhotoDayStation
{
    Q_OBJECT

private slots:
    void initTestCase_data() { DatabaseFixture::addEngineRows(); }
    void init() { setUpDatabase(); }
    void cleanup() { tearDown(); }

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
        // A filter typed while pages are still coming applies to them as they arrive.
        QTest::keyClicks(panel().filter(), QStringLiteral("107"));
        QTRY_VERIFY(!roster().loading());
        QCOMPARE(listed(), QStringList{"107"});
        panel().filter()->clear();
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
};

QTEST_MAIN(TestStudentsPanel)
#include "tst_StudentsPanel.moc"
