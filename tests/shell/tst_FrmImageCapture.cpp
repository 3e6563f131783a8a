// The capture window as designed: controls, fonts, colours, tab order, menu, fixed
// size, and the start-up and close sequences.

#include "common/RecordingDesktop.h"
#include "imaging/ImageControl.h"
#include "imaging/PictureBox.h"
#include "records/Module1.h"
#include "shell/FrmImageCapture.h"
#include "ui_frmImageCapture.h"

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QtTest>

using qc::FrmImageCapture;

class TestFrmImageCapture : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<RecordingDesktop> m_desktop;
    std::unique_ptr<FrmImageCapture> m_window;

    FrmImageCapture& makeWindow()
    {
        m_desktop = std::make_unique<RecordingDesktop>();
        qc::StationServices services;
        services.desktop = m_desktop.get();
        services.appFolder = QDir::tempPath();
        m_window = std::make_unique<FrmImageCapture>(services);
        return *m_window;
    }

    QWidget* control(const char* name) const
    {
        auto* widget = m_window->findChild<QWidget*>(QLatin1String(name));
        if (!widget)
            qFatal("no control %s", name);
        return widget;
    }

private slots:
    void cleanup()
    {
        m_window.reset();
        m_desktop.reset();
    }

    void controlPlaceAndCaption_data()
    {
        // Design places in twips; the window must show them at 15 twips per pixel.
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("twips");
        QTest::addColumn<QString>("caption");
        auto row = [](const char* name, int l, int t, int w, int h, const char* caption) {
            QTest::newRow(name) << QString::fromLatin1(name) << QRect(l, t, w, h)
                                << QString::fromUtf8(caption);
        };
        row("cmdStart", 120, 780, 1035, 375, "&Preview");
        row("cmdStop", 1170, 780, 1035, 375, "Para&r");
        row("picCapture", 105, 1185, 6000, 7500, "");
        row("cmdSave", 3045, 780, 1035, 375, "&Capturar");
        row("lstDevices", 75, 225, 4860, 450, "");
        row("cmdFechar", 10830, 8850, 1305, 435, "&Fechar");
        row("cmdSalvar", 6180, 8715, 2055, 375, "Salvar em &Arquivo JPG...");
        row("Command2", 4965, 240, 1095, 405, "So&urce >>");
        row("ImagXpress1", 105, 1185, 6000, 7500, "");
        row("ImagXpress2", 6180, 1185, 6000, 7500, "");
        row("cmbZoom", 4605, 840, 1485, 315, "");
        row("cmbUnidade", 7020, 255, 5160, 315, "");
        row("txtMatricula", 7020, 705, 2250, 360, "");
        row("cmdVerFoto", 9375, 720, 1155, 375, "&Ver Foto");
        row("Command1", 10935, 720, 1230, 375, "&Salvar Foto");
        row("lblMensagem", 15, 8970, 6060, 450, "-");
    }

    void controlPlaceAndCaption()
    {
        QFETCH(QString, name);
        QFETCH(QRect, twips);
        QFETCH(QString, caption);
        makeWindow();
        QWidget* widget = control(name.toLatin1().constData());
        const QRect pixels(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15);
        QCOMPARE(widget->geometry(), pixels);
        if (auto* button = qobject_cast<QPushButton*>(widget))
            QCOMPARE(button->text(), caption);
        if (auto* label = qobject_cast<QLabel*>(widget))
            QCOMPARE(label->text(), caption);
    }

    void captionsSizedToTheirText_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QPoint>("topLeftTwips");
        QTest::addColumn<QString>("caption");
        QTest::newRow("Label1") << "Label1" << QPoint(75, 15) << "Dispositivos:";
        QTest::newRow("Label2") << "Label2" << QPoint(6255, 315) << "Unidade:";
        QTest::newRow("Label3") << "Label3" << QPoint(6255, 765) << "Matricula:";
        QTest::newRow("Label4")
            << "Label4" << QPoint(105, 8700)
            << QString::fromUtf8(
                   "* Após Capturar a foto recorte ou dê dois cliques para confirmar");
    }

    void captionsSizedToTheirText()
    {
        QFETCH(QString, name);
        QFETCH(QPoint, topLeftTwips);
        QFETCH(QString, caption);
        makeWindow();
        auto* label = qobject_cast<QLabel*>(control(name.toLatin1().constData()));
        QVERIFY(label);
        QCOMPARE(label->text(), caption);
        QCOMPARE(label->pos(), topLeftTwips / 15);
        QVERIFY(label->width() >= label->fontMetrics().horizontalAdvance(caption));
        QCOMPARE(label->focusPolicy(), Qt::NoFocus);
    }

    void windowDesign()
    {
        FrmImageCapture& window = makeWindow();
        QCOMPARE(window.windowTitle(), QStringLiteral("QuveloCap - Capturar Foto - V.2020.02.14"));
        QCOMPARE(window.centralWidget()->size(), QSize(820, 629));
        QCOMPARE(window.minimumSize(), window.maximumSize());
        QVERIFY(!(window.windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(window.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(window.windowFlags() & Qt::WindowCloseButtonHint);
        QCOMPARE(window.palette().color(QPalette::Window), QColor(239, 239, 239));

        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        // The icon follows the first paint.
        QTRY_VERIFY(window.windowIcon().availableSizes().contains(QSize(16, 16)));
        const QList<QSize> iconSizes = window.windowIcon().availableSizes();
        QVERIFY(iconSizes.contains(QSize(32, 32)));
        QVERIFY(iconSizes.contains(QSize(256, 256)));
        const QSize before = window.size();
        window.resize(before + QSize(200, 150));
        QCOMPARE(window.size(), before);
        QCOMPARE(window.centralWidget()->size(), QSize(820, 629));
        QCOMPARE(window.controls().picCapture->geometry(), QRect(7, 79, 400, 500));
    }

    void fontsAndColours()
    {
        FrmImageCapture& window = makeWindow();
        auto checkFont = [](QWidget* w, double size, bool bold) {
            QCOMPARE(w->font().family(), QStringLiteral("MS Sans Serif"));
            QCOMPARE(w->font().pointSizeF(), size);
            QCOMPARE(w->font().bold(), bold);
        };
        checkFont(window.controls().cmdStart, 8.25, false);
        checkFont(window.controls().txtMatricula, 8.25, false);
        checkFont(window.controls().cmdSave, 8.25, true);
        checkFont(window.controls().lblMensagem, 9.75, true);
        checkFont(window.controls().Label4, 9.75, false);

        QCOMPARE(window.controls().Label4->palette().color(QPalette::WindowText),
                 QColor(0, 0, 255));
        QVERIFY(window.controls().lblMensagem->autoFillBackground());
        QCOMPARE(window.controls().lblMensagem->palette().color(QPalette::Window),
                 QColor(192, 192, 192));
        QCOMPARE(window.controls().picCapture->palette().color(QPalette::Window),
                 QColor(128, 128, 128));
        QCOMPARE(window.controls().ImagXpress1->viewport()->palette().color(QPalette::Window),
                 QColor(128, 128, 128));
        QCOMPARE(window.controls().ImagXpress2->viewport()->palette().color(QPalette::Window),
                 window.palette().color(QPalette::Button));

        // The grey message bar is painted as designed.
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QImage bar = window.controls().lblMensagem->grab().toImage();
        QCOMPARE(QColor(bar.pixel(bar.width() - 2, bar.height() - 2)), QColor(192, 192, 192));
    }

    void designStates()
    {
        FrmImageCapture& window = makeWindow();
        // Before the start-up sequence every control is enabled and only the frame's
        // image control is hidden.
        QVERIFY(window.controls().cmdStart->isEnabled());
        QVERIFY(window.controls().cmdStop->isEnabled());
        QVERIFY(window.controls().cmdSave->isEnabled());
        QVERIFY(!window.controls().ImagXpress1->isVisibleTo(&window));
        QVERIFY(window.controls().picCapture->isVisibleTo(&window));
        QVERIFY(window.controls().txtMatricula->text().isEmpty());
        QCOMPARE(window.controls().lblMensagem->text(), QStringLiteral("-"));
        QStringList zoom;
        for (int i = 0; i < window.controls().cmbZoom->count(); ++i)
            zoom << window.controls().cmbZoom->itemText(i);
        QCOMPARE(zoom,
                 QStringList({"200%", "150%", "125%", "100%", "75%", "50%", "25%", "10%", "Fit"}));
        QVERIFY(!window.controls().cmbZoom->isEditable());
        QVERIFY(!window.controls().cmbUnidade->isEditable());
        for (QPushButton* button : window.findChildren<QPushButton*>()) {
            QVERIFY2(!button->isDefault() && !button->autoDefault(),
                     qPrintable(button->objectName()));
        }
    }

    void tabOrder()
    {
        FrmImageCapture& window = makeWindow();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        // The focus chain follows the design's order; labels never take the focus.
        const QStringList expected{"cmdStart",    "cmdStop",   "cmdSave",    "lstDevices",
                                   "cmdFechar",   "cmdSalvar", "Command2",   "ImagXpress1",
                                   "ImagXpress2", "cmbZoom",   "cmbUnidade", "txtMatricula",
                                   "cmdVerFoto",  "Command1"};
        QStringList chain;
        QWidget* w = window.controls().cmdStart;
        do {
            if (expected.contains(w->objectName()) && !chain.contains(w->objectName()))
                chain << w->objectName();
            w = w->nextInFocusChain();
        } while (w && w != window.controls().cmdStart);
        QCOMPARE(chain, expected);

        // Tab passes over the hidden frame control.
        window.controls().Command2->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), window.controls().Command2);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), window.controls().ImagXpress2);
    }

    void menu()
    {
        FrmImageCapture& window = makeWindow();
        const QList<QAction*> top = window.menuBar()->actions();
        QCOMPARE(top.size(), 1);
        QCOMPARE(top.first()->text(), QStringLiteral("Arquivo"));
        QList<QAction*> items = top.first()->menu()->actions();
        // The automatic grab's switch stands right before the separator; the design's
        // entries keep their order around it.
        QAction* automatic = window.autoCaptureAction();
        QCOMPARE(items.indexOf(automatic) + 1, items.indexOf(window.controls().mnuSep1));
        QVERIFY(automatic->isCheckable() && !automatic->isChecked());
        items.removeOne(automatic);
        QCOMPARE(items.size(), 6);
        QCOMPARE(items[0]->text(), QStringLiteral("Configuração"));
        QCOMPARE(items[0]->objectName(), QStringLiteral("mnuConfig"));
        QCOMPARE(items[1]->text(), QStringLiteral("Enquadrar rosto automaticamente"));
        QVERIFY(items[1]->isCheckable());
        QVERIFY(items[1]->isChecked());
        // The students panel, off on a first start, and the undo of the last store.
        QCOMPARE(items[2]->text(), QStringLiteral("Alunos da unidade"));
        QVERIFY(items[2]->isCheckable());
        QVERIFY(!items[2]->isChecked());
        QCOMPARE(items[3]->text(), QStringLiteral("Desfazer última foto"));
        QVERIFY(!items[3]->isEnabled());
        QVERIFY(items[4]->isSeparator());
        QCOMPARE(items[5]->text(), QStringLiteral("Sair"));
        // The designed entries keep no shortcut; the undo's is one a text field never takes.
        for (QAction* item : items)
            QCOMPARE(item->shortcut(), item == items[3]
                                           ? QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_Z)
                                           : QKeySequence());
    }

    void startUpWithoutDriverOrServer()
    {
        FrmImageCapture& window = makeWindow();
        window.Form_Load();
        QCOMPARE(window.controls().lstDevices->count(), 1);
        QCOMPARE(window.controls().lstDevices->item(0)->text(),
                 QStringLiteral("No Device Available"));
        QVERIFY(window.controls().lstDevices->selectedItems().isEmpty());
        QVERIFY(!window.controls().cmdStart->isEnabled());
        QVERIFY(!window.controls().cmdStop->isEnabled());
        QVERIFY(!window.controls().cmdSave->isEnabled());
        QCOMPARE(window.controls().cmbZoom->currentText(), QStringLiteral("100%"));
        QCOMPARE(window.controls().ImagXpress1->zoomFactor(), 1.0);
        QCOMPARE(window.module1().CaminhoApp(), QDir::tempPath() + QLatin1Char('/'));
        // Nothing stored: the settings dialog comes up beside the window, no message.
        QVERIFY(window.settingsDialog());
        QVERIFY(window.settingsDialog()->isVisible());
        QCOMPARE(window.settingsDialog()->parentWidget(), &window);
        QVERIFY(!window.settingsDialog()->isModal());
        QCOMPARE(window.controls().cmbUnidade->count(), 0);
        QVERIFY(m_desktop->boxes.isEmpty());
    }

    void closeRoutesEndTheProgram_data()
    {
        QTest::addColumn<int>("route");
        QTest::addColumn<bool>("withSettingsOpen");
        QTest::newRow("Fechar") << 0 << false;
        QTest::newRow("Sair") << 1 << false;
        QTest::newRow("close box") << 2 << false;
        QTest::newRow("Fechar, settings open") << 0 << true;
        QTest::newRow("Sair, settings open") << 1 << true;
        QTest::newRow("close box, settings open") << 2 << true;
    }

    void closeRoutesEndTheProgram()
    {
        QFETCH(int, route);
        QFETCH(bool, withSettingsOpen);
        FrmImageCapture& window = makeWindow();
        window.Form_Load();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        if (withSettingsOpen)
            window.controls().mnuConfig->trigger();
        else if (window.settingsDialog())
            window.settingsDialog()->close();
        m_desktop->clear();

        switch (route) {
        case 0:
            QTest::mouseClick(window.controls().cmdFechar, Qt::LeftButton);
            break;
        case 1:
            window.controls().mnuSair->trigger();
            break;
        default:
            window.close();
            break;
        }
        QCOMPARE(m_desktop->endRequests, 1);
        QVERIFY(!window.isVisible());
        // No preview ran, so the close touched nothing else.
        QCOMPARE(m_desktop->calls, QStringList{"end"});
    }

    void mnemonicPressesTheButton()
    {
        FrmImageCapture& window = makeWindow();
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        // Alt and the underlined letter of "&Fechar".
        window.controls().txtMatricula->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), window.controls().txtMatricula);
        QTest::keyClick(window.controls().txtMatricula, Qt::Key_F, Qt::AltModifier);
        // The button shows itself pressed for a moment before it clicks.
        QTRY_COMPARE(m_desktop->endRequests, 1);
    }

    void settingsDialogIsOneObject()
    {
        FrmImageCapture& window = makeWindow();
        window.show();
        window.controls().mnuConfig->trigger();
        QDialog* first = window.settingsDialog();
        QVERIFY(first && first->isVisible());
        window.controls().mnuConfig->trigger();
        QCOMPARE(window.settingsDialog(), first);
        QCOMPARE(window.findChildren<QDialog*>(QStringLiteral("frmConfig")).size(), 1);
        // The capture window keeps taking input while the dialog is open.
        QVERIFY(!first->isModal());
        QVERIFY(window.isEnabled());
    }
};

QTEST_MAIN(TestFrmImageCapture)
#include "tst_FrmImageCapture.moc"
