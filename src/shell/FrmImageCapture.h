#pragma once

#include "shell/StationServices.h"

#include <QMainWindow>
#include <QPointer>
#include <memory>

namespace Ui {
class frmImageCapture;
}

class QAction;
class QDialog;

namespace qc {

class CameraController;
class CaptureLibrary;
class CropZoom;
class FaceFraming;
class FramingWorker;
class FrmConfig;
class JpegExport;
class LiveGuide;
class Module1;
class PhotoDay;
class SettingsStore;

// The capture window. It lays out the design's controls and connects each user event
// to its handler; the handlers and their state live in the subsystems' classes that
// the window owns.
class FrmImageCapture : public QMainWindow
{
    Q_OBJECT

public:
    explicit FrmImageCapture(const StationServices& services, QWidget* parent = nullptr);
    ~FrmImageCapture() override;

    // The design's controls, by their design names (cmdStart, lblMensagem, ...); the
    // window alone lays them out and connects them.
    const Ui::frmImageCapture& controls() const { return *ui; }

    // Start-up: runs once, before the window is first shown.
    void Form_Load();
    // Close, by any route: stops a running preview and ends the program.
    void Form_Unload();

    // Camera.
    void MontarListaDispositivos();
    void PararPreview();
    // Database.
    bool AbrirConexao();
    void MontarComboUnidade();
    // The one settings dialog, shown modeless over this window.
    void showSettingsDialog();
    QDialog* settingsDialog() const;

    CropZoom& cropZoom() const { return *m_cropZoom; }
    CameraController& camera() const { return *m_camera; }
    FaceFraming& faceFraming() const { return *m_faceFraming; }
    LiveGuide& liveGuide() const { return *m_liveGuide; }
    // "Capturar automaticamente", in the Arquivo menu.
    QAction* autoCaptureAction() const { return m_autoCapture; }
    // The shared connection cnBanco and the procedures on it.
    Module1& module1() const { return *m_module1; }
    // The unit's students panel, the keyboard round and the undo of the last store.
    PhotoDay& photoDay() const { return *m_photoDay; }
    QAction* mnuAlunos() const { return m_mnuAlunos; }
    QAction* mnuDesfazer() const { return m_mnuDesfazer; }

public slots:
    void cmdStart_Click();
    void cmdStop_Click();
    void Command2_Click();
    void cmdSave_Click();
    void cmdSalvar_Click();
    void cmdVerFoto_Click();
    void Command1_Click();
    void cmdFechar_Click();
    void mnuSair_Click();
    void mnuConfig_Click();
    void mnuEnquadrar_Click(bool checked);
    void cmbZoom_Click();
    void mnuAlunos_Click(bool checked);
    void mnuDesfazer_Click();

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    Ui::frmImageCapture* ui;

    void applyDesign();
    void afterFirstPaint();
    void connectHandlers();
    void setUpFraming();
    FramingWorker& framingWorker();
    void addPhotoDay();
    void layOutPhotoDay();

    StationServices m_services;
    std::unique_ptr<CropZoom> m_cropZoom;
    std::unique_ptr<JpegExport> m_jpegExport;
    std::unique_ptr<CaptureLibrary> m_ownCapture;
    std::unique_ptr<CameraController> m_camera;
    QPointer<FrmConfig> m_settingsDialog;
    std::unique_ptr<SettingsStore> m_ownSettings;
    std::unique_ptr<Module1> m_module1;
    std::unique_ptr<FramingWorker> m_ownFraming; // when none was given: made at first need
    std::unique_ptr<FaceFraming> m_faceFraming;
    std::unique_ptr<LiveGuide> m_liveGuide;
    QAction* m_autoCapture = nullptr;
    std::unique_ptr<PhotoDay> m_photoDay;
    QAction* m_mnuAlunos = nullptr;
    QAction* m_mnuDesfazer = nullptr;
    bool m_unloading = false;
    bool m_centred = false;
    bool m_painted = false;
};

} // namespace qc
