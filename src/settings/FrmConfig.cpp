#include "settings/FrmConfig.h"

#include "ui_frmConfig.h"

#include "core/DesignFonts.h"
#include "core/Desktop.h"
#include "core/Error.h"
#include "core/SettingsStore.h"
#include "records/Connection.h"
#include "records/ConnectionString.h"
#include "records/Module1.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QScreen>

namespace qc {

namespace {

QFont tahoma(double pointSize, bool bold)
{
    return designFont(QStringLiteral("Tahoma"), pointSize, bold);
}

} // namespace

FrmConfig::FrmConfig(Module1& module, std::function<void()> montarComboUnidade, QWidget* owner)
    : QDialog(owner), ui(new Ui::frmConfig), m_module(module),
      m_montarComboUnidade(std::move(montarComboUnidade))
{
    registerDesignFontSubstitutes();
    ui->setupUi(this);
    // A narrow title bar with only the close box, no task-bar button, fixed size.
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(420, 305);
    setModal(false);
    setFont(tahoma(8.25, false));
    ui->Command1->setFont(tahoma(9.75, false));
    ui->Command3->setFont(tahoma(9.75, false));
    ui->Label5->setFont(tahoma(8.25, true));

    connect(ui->Command1, &QPushButton::clicked, this, &FrmConfig::Command1_Click);
    connect(ui->Command2, &QPushButton::clicked, this, &FrmConfig::Command2_Click);
    connect(ui->Command3, &QPushButton::clicked, this, &FrmConfig::Command3_Click);
}

FrmConfig::~FrmConfig()
{
    delete ui;
}

void FrmConfig::showModeless()
{
    if (!m_loaded) {
        Form_Load();
        m_loaded = true;
        if (QScreen* screen = this->screen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    show();
    raise();
    activateWindow();
}

void FrmConfig::Form_Load()
{
    const SettingsStore& store = m_module.settings();
    ui->txtsrv->setText(store.server());
    ui->txtdb->setText(store.database());
    ui->txtus->setText(store.user());
    ui->txtpw->setText(store.password());
    ui->Label5->setText(QStringLiteral("-"));
    ui->Label5->adjustSize();
    ui->txtsrv->setFocus();
}

void FrmConfig::Command1_Click()
{
    SettingsStore& store = m_module.settings();
    try {
        store.setServer(ui->txtsrv->text());
        store.setDatabase(ui->txtdb->text());
        store.setUser(ui->txtus->text());
        store.setPassword(ui->txtpw->text());
    } catch (const Error& error) {
        // Closing now would lose what was typed and leave the old settings in force
        // without a word; the operator keeps the texts and can correct or retry.
        m_module.desktop().messageBox(QStringLiteral("Não foi possível gravar as configurações: ") +
                                          error.description(),
                                      QString(), Desktop::Icon::Critical);
        return;
    }
    if (m_module.AbrirConexao()) {
        if (m_montarComboUnidade)
            m_montarComboUnidade();
    } else {
        m_module.desktop().beep();
    }
    unload();
}

void FrmConfig::Command2_Click()
{
    Desktop& desktop = m_module.desktop();
    desktop.setWaitCursor(true);
    const QString srv = ui->txtsrv->text();
    const QString db = ui->txtdb->text();
    const QString us = ui->txtus->text();
    const QString pw = ui->txtpw->text();
    try {
        // A connection of the test's own, closed again at once: photos keep going where
        // the stored settings send them until "&Confirmar" stores new ones.
        Connection tested;
        tested.setOdbcOverrides(OdbcOverrides::from(m_module.settings()));
        tested.open(ConnectionString::build(us, pw, db, srv), us, pw, -1);
        desktop.setWaitCursor(false);
        ui->Label5->setText(QStringLiteral("Conexão efetuada com sucesso!"));
        ui->Label5->adjustSize();
    } catch (const Error& error) {
        desktop.setWaitCursor(false);
        desktop.messageBox(QStringLiteral("Não foi possível conectar. Erro: ") +
                               error.description(),
                           QString(), Desktop::Icon::Critical);
    }
}

void FrmConfig::Command3_Click()
{
    unload();
}

void FrmConfig::unload()
{
    m_loaded = false;
    hide();
}

void FrmConfig::closeEvent(QCloseEvent* event)
{
    m_loaded = false;
    QDialog::closeEvent(event);
}

void FrmConfig::keyPressEvent(QKeyEvent* event)
{
    // Neither Enter nor Escape has a meaning in this dialog.
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return ||
        event->key() == Qt::Key_Enter) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace qc
