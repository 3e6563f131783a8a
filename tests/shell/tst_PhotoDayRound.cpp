// One student after another: the next one without a photo after a store, the photo that a
// store would replace shown first, the undo of the last store, the round from the
// keyboard, and the designed store while the panel is hidden.

#include "PhotoDayStation.h"

using namespace photoday;

class TestPhotoDayRound : public PhotoDayStation
{
    Q_OBJECT

private slots:
    void initTestCase_data() { DatabaseFixture::addEngineRows(); }
    void init() { setUpDatabase(); }
    void cleanup() { tearDown(); }

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

QTEST_MAIN(TestPhotoDayRound)
#include "tst_PhotoDayRound.moc"
