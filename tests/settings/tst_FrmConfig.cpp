// The settings dialog and the database start-up, through the real capture window on a
// real SQLite database; only the desktop (boxes, pointer, beep) is a recording double.

#include "common/RecordingDesktop.h"
#include "records/Connection.h"
#include "records/MemorySettings.h"
#include "records/Module1.h"
#include "settings/FrmConfig.h"
#include "settings/QtSettingsStore.h"
#include "shell/FrmImageCapture.h"
#include "ui_frmConfig.h"
#include "ui_frmImageCapture.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

namespace {

const QString kConnectError = QStringLiteral("Erro ao conectar ao Banco de Dados. Erro:");

// Key presses for each character, accents too (QTest::keyClicks knows only ASCII keys).
void type(QWidget* box, const QString& text)
{
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

} // namespace

class TestFrmConfig : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_database;
    std::unique_ptr<RecordingDesktop> m_desktop;
    std::unique_ptr<MemorySettings> m_settings;
    std::unique_ptr<qc::FrmImageCapture> m_window;

    QString missingServer() const
    {
        return QStringLiteral("sqlite:") + m_dir.filePath(QStringLiteral("missing.sqlite"));
    }
    QString unableToOpen() const
    {
        return QStringLiteral("unable to open database file (") +
               m_dir.filePath(QStringLiteral("missing.sqlite")) + QLatin1Char(')');
    }

    void storeWorkingSettings()
    {
        m_settings->values = {{QStringLiteral("srv"), QStringLiteral("sqlite:") + m_database},
                              {QStringLiteral("db"), QStringLiteral("escola")},
                              {QStringLiteral("us"), QStringLiteral("op")},
                              {QStringLiteral("pw"), QStringLiteral("x")}};
    }

    void start(qc::SettingsStore* settings = nullptr)
    {
        qc::StationServices services;
        services.desktop = m_desktop.get();
        services.settings = settings ? settings : m_settings.get();
        services.appFolder = m_dir.path();
        m_window = std::make_unique<qc::FrmImageCapture>(services);
        m_window->Form_Load();
        m_window->show();
    }

    qc::FrmConfig* dialog() const
    {
        return static_cast<qc::FrmConfig*>(m_window->settingsDialog());
    }

    qc::FrmConfig* openDialog()
    {
        m_window->mnuConfig_Click();
        qc::FrmConfig* d = dialog();
        if (d)
            d->controls().Label5->text(); // created and loaded
        return d;
    }

    QStringList unitTexts() const
    {
        QStringList texts;
        for (int i = 0; i < m_window->controls().cmbUnidade->count(); ++i)
            texts.append(m_window->controls().cmbUnidade->itemText(i));
        return texts;
    }
    QStringList unitCodes() const
    {
        QStringList codes;
        for (int i = 0; i < m_window->controls().cmbUnidade->count(); ++i)
            codes.append(m_window->controls().cmbUnidade->itemData(i).toString());
        return codes;
    }

    const QStringList kUnits{QStringLiteral("1  | Um"), QStringLiteral("22  | Dois"),
                             QStringLiteral("333  | "), QStringLiteral("4444  | Quatro")};

private slots:
    void initTestCase()
    {
        m_database = m_dir.filePath(QStringLiteral("school.sqlite"));
        qc::Connection cn;
        cn.openSqlite(m_database, true);
        cn.execute(
            QStringLiteral("CREATE TABLE bas_unidades (codigounidade TEXT, RazaoSocial TEXT)"));
        cn.execute(QStringLiteral("CREATE TABLE Aca_FichaCadastralAluno (codigounidade TEXT, "
                                  "matricula TEXT, foto BLOB)"));
        cn.execute(QStringLiteral("INSERT INTO bas_unidades VALUES ('4444', 'Quatro'), ('22', "
                                  "'Dois'), ('1', 'Um'), ('333', NULL)"));
    }

    void init()
    {
        m_desktop = std::make_unique<RecordingDesktop>();
        m_settings = std::make_unique<MemorySettings>();
    }

    void cleanup()
    {
        m_window.reset();
        m_desktop.reset();
        m_settings.reset();
    }

    void firstStartOpensTheDialogAndDoesNotConnect()
    {
        start();
        QVERIFY(dialog());
        QVERIFY(dialog()->isVisible());
        QVERIFY(!dialog()->isModal());
        QCOMPARE(dialog()->parentWidget(), m_window.get());
        QVERIFY(!m_window->module1().cnBanco()); // no connection was attempted
        QVERIFY(m_desktop->boxes.isEmpty());
        QCOMPARE(m_desktop->calls,
                 (QStringList{QStringLiteral("wait:on"), QStringLiteral("wait:off")}));
        QCOMPARE(m_window->controls().cmbUnidade->count(), 0);
        for (QLineEdit* box : {dialog()->controls().txtsrv, dialog()->controls().txtdb,
                               dialog()->controls().txtus, dialog()->controls().txtpw})
            QCOMPARE(box->text(), QString());
        QCOMPARE(dialog()->focusWidget(), dialog()->controls().txtsrv);
        QCOMPARE(dialog()->controls().Label5->text(), QStringLiteral("-"));
    }

    void startUpFillsTheUnitList()
    {
        storeWorkingSettings();
        start();
        QVERIFY(!dialog());
        QVERIFY(m_window->module1().cnBanco()->isOpen());
        QCOMPARE(unitTexts(), kUnits);
        // The whole code rides with each entry; the four-character one is not cut.
        QCOMPARE(unitCodes(), (QStringList{QStringLiteral("1"), QStringLiteral("22"),
                                           QStringLiteral("333"), QStringLiteral("4444")}));
        QCOMPARE(m_window->controls().cmbUnidade->currentIndex(), 0);
        QVERIFY(!m_desktop->waitCursor());
        QVERIFY(m_desktop->boxes.isEmpty());
    }

    void startUpReportsARefusedConnection()
    {
        storeWorkingSettings();
        m_settings->values[QStringLiteral("srv")] = missingServer();
        start();
        QCOMPARE(m_desktop->boxes.size(), 1);
        QCOMPARE(m_desktop->boxes.first().text, kConnectError + unableToOpen());
        QCOMPARE(m_desktop->boxes.first().title, QStringLiteral("QuveloCap"));
        QCOMPARE(m_desktop->boxes.first().icon, qc::Desktop::Icon::Critical);
        QVERIFY(!m_desktop->waitCursor());
        QVERIFY(!dialog());
        QCOMPARE(m_window->controls().cmbUnidade->count(), 0);
        QVERIFY(m_window->module1().cnBanco());
        QVERIFY(!m_window->module1().cnBanco()->isOpen());
    }

    void dialogDesign_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QRect>("place");
        QTest::newRow("Label1") << "Label1"
                                << "Servidor:" << QRect(48, 32, 44, 13);
        QTest::newRow("txtsrv") << "txtsrv"
                                << "" << QRect(101, 27, 255, 25);
        QTest::newRow("Label2") << "Label2"
                                << "Banco:" << QRect(48, 58, 33, 13);
        QTest::newRow("txtdb") << "txtdb"
                               << "" << QRect(101, 55, 255, 25);
        QTest::newRow("Label3") << "Label3"
                                << "Usuario:" << QRect(48, 88, 40, 13);
        QTest::newRow("txtus") << "txtus"
                               << "" << QRect(101, 83, 255, 25);
        QTest::newRow("Label4") << "Label4"
                                << "Senha:" << QRect(48, 114, 34, 13);
        QTest::newRow("txtpw") << "txtpw"
                               << "" << QRect(101, 111, 255, 25);
        QTest::newRow("Command1") << "Command1"
                                  << "&Confirmar" << QRect(303, 262, 105, 35);
        QTest::newRow("Command2") << "Command2"
                                  << "&Testar Conexão" << QRect(257, 142, 98, 24);
        QTest::newRow("Command3") << "Command3"
                                  << "C&ancelar" << QRect(189, 262, 105, 35);
    }
    void dialogDesign()
    {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(QRect, place);
        start();
        QWidget* control = dialog()->findChild<QWidget*>(name);
        QVERIFY(control);
        QCOMPARE(control->geometry(), place);
        if (auto* label = qobject_cast<QLabel*>(control))
            QCOMPARE(label->text(), caption);
        else if (auto* button = qobject_cast<QPushButton*>(control))
            QCOMPARE(button->text(), caption);
    }

    void dialogWindowAndFonts()
    {
        start();
        qc::FrmConfig* d = dialog();
        QCOMPARE(d->windowTitle(), QStringLiteral("Configurações"));
        QCOMPARE(d->size(), QSize(420, 305));
        QCOMPARE(d->minimumSize(), d->maximumSize());
        QCOMPARE(d->windowFlags() & Qt::WindowType_Mask, Qt::Tool); // no task-bar button
        QVERIFY(
            !(d->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QCOMPARE(d->controls().txtpw->echoMode(), QLineEdit::Password);
        QCOMPARE(d->controls().Label5->palette().color(QPalette::WindowText), QColor(0, 128, 0));
        QVERIFY(d->controls().Label5->font().bold());
        QCOMPARE(d->controls().Label5->font().pointSizeF(), 8.25);
        QCOMPARE(d->controls().Command1->font().pointSizeF(), 9.75);
        QCOMPARE(d->controls().Command3->font().pointSizeF(), 9.75);
        QCOMPARE(d->font().pointSizeF(), 8.25);
        for (QPushButton* b :
             {d->controls().Command1, d->controls().Command2, d->controls().Command3})
            QVERIFY(!b->isDefault() && !b->autoDefault());
        // Tab order: the four boxes, then Confirmar, Testar, Cancelar.
        QList<QWidget*> order;
        QWidget* w = d->controls().txtsrv;
        while (order.size() < 7) {
            if (w->focusPolicy() & Qt::TabFocus)
                order.append(w);
            w = w->nextInFocusChain();
        }
        QCOMPARE(order,
                 (QList<QWidget*>{d->controls().txtsrv, d->controls().txtdb, d->controls().txtus,
                                  d->controls().txtpw, d->controls().Command1,
                                  d->controls().Command2, d->controls().Command3}));
    }

    void confirm_data()
    {
        QTest::addColumn<QString>("server"); // "" / "missing" / "working"
        QTest::addColumn<bool>("refilled");
        QTest::addColumn<int>("boxes");
        QTest::addColumn<int>("beeps");
        QTest::newRow("empty server") << "" << false << 0 << 1;
        QTest::newRow("values that do not connect") << "missing" << false << 1 << 1;
        QTest::newRow("values that connect") << "working" << true << 0 << 0;
    }
    void confirm()
    {
        QFETCH(QString, server);
        QFETCH(bool, refilled);
        QFETCH(int, boxes);
        QFETCH(int, beeps);
        // The station runs on the working database; its list is then emptied by hand so a
        // refill shows.
        storeWorkingSettings();
        start();
        m_window->controls().cmbUnidade->clear();
        m_window->controls().cmbUnidade->addItem(QStringLiteral("old"));
        qc::FrmConfig* d = openDialog();
        m_desktop->clear();

        const QString typed = server == QLatin1String("working")
                                  ? QStringLiteral("sqlite:") + m_database
                              : server == QLatin1String("missing") ? missingServer()
                                                                   : QString();
        d->controls().txtsrv->setText(typed);
        d->controls().txtdb->setText(QStringLiteral(" banco "));
        d->controls().txtus->clear();
        d->controls().txtpw->clear();
        QTest::keyClicks(d->controls().txtpw, QStringLiteral("s;{}="));
        QCOMPARE(d->controls().txtpw->displayText(), QStringLiteral("*****"));
        QTest::mouseClick(d->controls().Command1, Qt::LeftButton);

        QCOMPARE(m_settings->values.value(QStringLiteral("srv")), typed);
        QCOMPARE(m_settings->values.value(QStringLiteral("db")), QStringLiteral(" banco "));
        QVERIFY(m_settings->values.contains(QStringLiteral("us")));
        QCOMPARE(m_settings->values.value(QStringLiteral("us")), QString());
        QCOMPARE(m_settings->values.value(QStringLiteral("pw")), QStringLiteral("s;{}="));
        QCOMPARE(m_desktop->boxes.size(), boxes);
        if (boxes) {
            QCOMPARE(m_desktop->boxes.first().text, kConnectError + unableToOpen());
            QCOMPARE(m_desktop->boxes.first().icon, qc::Desktop::Icon::Critical);
        }
        QCOMPARE(m_desktop->beeps, beeps);
        QVERIFY(!d->isVisible());
        QVERIFY(!m_desktop->waitCursor());
        QCOMPARE(unitTexts(), refilled ? kUnits : QStringList{QStringLiteral("old")});

        if (refilled) {
            // Confirming again refills once more: each unit still once.
            openDialog();
            QTest::mouseClick(dialog()->controls().Command1, Qt::LeftButton);
            QCOMPARE(unitTexts(), kUnits);
        }
    }

    // The station's own settings file, written by hand or by the dialog: every value comes
    // back into the dialog exactly as it was written or typed.
    void settingsFileKeepsWhatWasTyped()
    {
        const QString file = m_dir.filePath(QStringLiteral("typed/QuveloCap.conf"));
        QVERIFY(QDir().mkpath(QFileInfo(file).absolutePath()));
        QFile handWritten(file);
        QVERIFY(handWritten.open(QIODevice::WriteOnly));
        handWritten.write("; written by the school's technician\n[Config]\nsrv = SQLSRV01,1433\n"
                          "db=HOST\\new\nus=\"  o,p  \"\npw=se,nha;1\n");
        handWritten.close();
        qc::QtSettingsStore store(file);
        start(&store); // the server does not connect: one box
        qc::FrmConfig* d = openDialog();
        QCOMPARE(d->controls().txtsrv->text(), QStringLiteral("SQLSRV01,1433"));
        QCOMPARE(d->controls().txtdb->text(), QStringLiteral("HOST\\new"));
        QCOMPARE(d->controls().txtus->text(), QStringLiteral("  o,p  "));
        QCOMPARE(d->controls().txtpw->text(), QStringLiteral("se,nha;1"));

        const QStringList typed{QStringLiteral(" sqlite:") + m_database,
                                QStringLiteral("Matrícula \"2º\", ação"), QStringLiteral("@op\\x"),
                                QStringLiteral(" s;e{n}h=a,\" ")};
        QLineEdit* boxes[] = {d->controls().txtsrv, d->controls().txtdb, d->controls().txtus,
                              d->controls().txtpw};
        for (int i = 0; i < 4; ++i) {
            boxes[i]->clear();
            type(boxes[i], typed[i]);
        }
        m_desktop->clear();
        QTest::mouseClick(d->controls().Command1, Qt::LeftButton);
        // A blank before the scheme still names the SQLite file: the units are listed.
        QVERIFY(m_desktop->boxes.isEmpty());
        QCOMPARE(unitTexts(), kUnits);
        QVERIFY(!d->isVisible());

        qc::QtSettingsStore reread(file);
        m_window.reset();
        start(&reread);
        d = openDialog();
        QCOMPARE(d->controls().txtsrv->text(), typed[0]);
        QCOMPARE(d->controls().txtdb->text(), typed[1]);
        QCOMPARE(d->controls().txtus->text(), typed[2]);
        QCOMPARE(d->controls().txtpw->text(), typed[3]);
        // The hand-written comment stays.
        QVERIFY(handWritten.open(QIODevice::ReadOnly));
        QVERIFY(handWritten.readAll().startsWith("; written by the school's technician\n"));
    }

    void confirmWithASettingsFolderThatCannotBeWritten()
    {
        // A file where the folder should be: not even root can create the settings there.
        const QString blocker = m_dir.filePath(QStringLiteral("blocked"));
        QFile block(blocker);
        QVERIFY(block.open(QIODevice::WriteOnly));
        block.close();
        qc::QtSettingsStore store(blocker + QStringLiteral("/QuveloCap.conf"));
        start(&store); // nothing stored: the dialog opens
        qc::FrmConfig* d = dialog();
        QTest::keyClicks(d->controls().txtsrv, QStringLiteral("sqlite:") + m_database);
        QTest::keyClicks(d->controls().txtpw, QStringLiteral("nova"));
        m_desktop->clear();
        QTest::mouseClick(d->controls().Command1, Qt::LeftButton);

        QCOMPARE(m_desktop->boxes.size(), 1);
        QVERIFY2(m_desktop->boxes.first().text.startsWith(
                     QStringLiteral("Não foi possível gravar as configurações: ") + blocker),
                 qPrintable(m_desktop->boxes.first().text));
        QCOMPARE(m_desktop->boxes.first().icon, qc::Desktop::Icon::Critical);
        QCOMPARE(m_desktop->beeps, 0);
        QVERIFY(d->isVisible());
        QCOMPARE(d->controls().txtsrv->text(), QStringLiteral("sqlite:") + m_database);
        QCOMPARE(d->controls().txtpw->text(), QStringLiteral("nova"));
        // Settings that were not kept are not connected to either.
        QVERIFY(!m_window->module1().cnBanco());
        QCOMPARE(m_window->controls().cmbUnidade->count(), 0);
    }

    void sqliteFileThatIsNoDatabaseIsRefused()
    {
        const QString text = m_dir.filePath(QStringLiteral("passwd"));
        QFile file(text);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("root:x:0:0:root:/root:/bin/bash\n");
        file.close();
        storeWorkingSettings();
        start();
        qc::FrmConfig* d = openDialog();
        d->controls().txtsrv->setText(QStringLiteral("SQLite:") + text);
        d->controls().txtpw->setText(QStringLiteral("segredo-123"));
        m_desktop->clear();
        // The refusal is logged, the password never.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("segredo-123")));
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression(QStringLiteral("^cannot connect to server "
                                                            "\"SQLite:.*passwd\", .*user \"op\": "
                                                            "O arquivo .* não é um banco")));
        QTest::mouseClick(d->controls().Command1, Qt::LeftButton);
        QCOMPARE(m_desktop->boxes.size(), 1);
        QCOMPARE(m_desktop->boxes.first().text,
                 kConnectError + QStringLiteral("O arquivo ") + text +
                     QStringLiteral(" não é um banco de dados SQLite (file is not a database)."));
        QCOMPARE(m_desktop->beeps, 1);
    }

    void testConnection_data()
    {
        QTest::addColumn<bool>("works");
        QTest::newRow("connects") << true;
        QTest::newRow("refused") << false;
    }
    void testConnection()
    {
        QFETCH(bool, works);
        storeWorkingSettings();
        start();
        const std::shared_ptr<qc::Connection> working = m_window->module1().cnBanco();
        // Another database that opens: the one the operator is only trying out.
        const QString other = m_database + QStringLiteral(".b");
        qc::Connection().openSqlite(other, true);
        qc::FrmConfig* d = openDialog();
        m_desktop->clear();
        d->controls().txtsrv->setText(works ? QStringLiteral("sqlite:") + other : missingServer());
        QTest::mouseClick(d->controls().Command2, Qt::LeftButton);

        QVERIFY(!m_desktop->waitCursor());
        QCOMPARE(m_desktop->calls.mid(0, 2),
                 (QStringList{QStringLiteral("wait:on"), QStringLiteral("wait:off")}));
        const std::shared_ptr<qc::Connection> now = m_window->module1().cnBanco();
        if (works) {
            QVERIFY(m_desktop->boxes.isEmpty());
            QCOMPARE(d->controls().Label5->text(), QStringLiteral("Conexão efetuada com sucesso!"));
            QCOMPARE(now, working); // photos go where the stored settings send them
            QCOMPARE(now->maskedTarget(), QStringLiteral("sqlite:") + m_database);
            QVERIFY(now->isOpen());
        } else {
            QCOMPARE(m_desktop->boxes.size(), 1);
            QCOMPARE(m_desktop->boxes.first().text,
                     QStringLiteral("Não foi possível conectar. Erro: ") + unableToOpen());
            QCOMPARE(m_desktop->boxes.first().title, QStringLiteral("QuveloCap"));
            QCOMPARE(m_desktop->boxes.first().icon, qc::Desktop::Icon::Critical);
            QCOMPARE(d->controls().Label5->text(), QStringLiteral("-"));
            QCOMPARE(now, working); // a failed test keeps the working connection
            QVERIFY(now->isOpen());
        }
        QVERIFY(d->isVisible());
        // Nothing was stored by the test, and cancelling keeps the station as it was.
        QTest::mouseClick(d->controls().Command3, Qt::LeftButton);
        QCOMPARE(m_window->module1().cnBanco(), working);
        QVERIFY(working->isOpen());
        QCOMPARE(m_settings->values.value(QStringLiteral("srv")),
                 QStringLiteral("sqlite:") + m_database);
    }

    void successThenFailureKeepsTheSuccessText()
    {
        storeWorkingSettings();
        start();
        qc::FrmConfig* d = openDialog();
        QTest::mouseClick(d->controls().Command2, Qt::LeftButton);
        d->controls().txtsrv->setText(missingServer());
        QTest::mouseClick(d->controls().Command2, Qt::LeftButton);
        QCOMPARE(d->controls().Label5->text(), QStringLiteral("Conexão efetuada com sucesso!"));
        QCOMPARE(m_desktop->boxes.size(), 1);
    }

    void closing_data()
    {
        QTest::addColumn<bool>("closeBox");
        QTest::newRow("Cancelar") << false;
        QTest::newRow("close box") << true;
    }
    void closing()
    {
        QFETCH(bool, closeBox);
        storeWorkingSettings();
        start();
        qc::FrmConfig* d = openDialog();
        d->controls().txtsrv->setText(QStringLiteral("typed"));
        // Showing it again while open keeps what was typed.
        m_window->mnuConfig_Click();
        QCOMPARE(dialog(), d);
        QCOMPARE(d->controls().txtsrv->text(), QStringLiteral("typed"));
        QTest::mouseClick(d->controls().Command2, Qt::LeftButton); // fails: "typed" is no server
        if (closeBox)
            d->close();
        else
            QTest::mouseClick(d->controls().Command3, Qt::LeftButton);
        QVERIFY(!d->isVisible());
        QCOMPARE(m_settings->values.value(QStringLiteral("srv")),
                 QStringLiteral("sqlite:") + m_database);
        // The next showing reads the store again.
        m_window->mnuConfig_Click();
        QCOMPARE(dialog(), d);
        QCOMPARE(d->controls().txtsrv->text(), QStringLiteral("sqlite:") + m_database);
        QCOMPARE(d->controls().txtpw->text(), QStringLiteral("x"));
        QCOMPARE(d->controls().Label5->text(), QStringLiteral("-"));
        QCOMPARE(m_window->findChildren<QDialog*>(QStringLiteral("frmConfig")).size(), 1);
    }
};

QTEST_MAIN(TestFrmConfig)
#include "tst_FrmConfig.moc"
