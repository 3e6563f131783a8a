#pragma once

#include <QDialog>

#include <functional>

namespace Ui {
class frmConfig;
}

namespace qc {

class Module1;

// The connection settings dialog: edits the four stored settings, tries them out and
// stores them. One object for the whole program, owned by the capture window and shown
// modeless over it; closing it "unloads" it, so the next showing reads the store again.
class FrmConfig : public QDialog
{
    Q_OBJECT

public:
    // montarComboUnidade refills the capture window's unit list after a reconnect.
    FrmConfig(Module1& module, std::function<void()> montarComboUnidade, QWidget* owner);
    ~FrmConfig() override;

    // The design's controls, by their design names (txtsrv, Command1, ...).
    const Ui::frmConfig& controls() const { return *ui; }

    // Shows the dialog, loading it first when it is not loaded; an open one is only
    // brought forward, keeping what was typed.
    void showModeless();
    bool isLoaded() const { return m_loaded; }

    void Form_Load();

public slots:
    void Command1_Click(); // &Confirmar
    void Command2_Click(); // &Testar Conexão
    void Command3_Click(); // C&ancelar

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    Ui::frmConfig* ui;

    void unload();

    Module1& m_module;
    std::function<void()> m_montarComboUnidade;
    bool m_loaded = false;
};

} // namespace qc
