#include "camera/CameraController.h"

#include "core/Desktop.h"
#include "imaging/ImageControl.h"
#include "imaging/PictureBox.h"

#include <QAbstractButton>
#include <QListWidget>

namespace qc {

namespace {

constexpr int DriverNameSize = 100;
constexpr int MaxDrivers = 10; // drivers are numbered 0 to 9
constexpr int PreviewSize = 400;
constexpr int PreviewRateMs = 66;
constexpr qintptr True = -1;

const QString NoFrameText =
    QStringLiteral("A câmera não enviou nenhuma imagem; nada foi capturado.");

} // namespace

CameraController::CameraController(const CameraControls& controls, CaptureLibrary& library,
                                   Desktop& desktop)
    : m_ui(controls), m_library(library), m_desktop(desktop)
{}

void CameraController::MontarListaDispositivos()
{
    QString name(DriverNameSize, QLatin1Char(' '));
    QString version(DriverNameSize, QLatin1Char(' '));
    // The list position is the driver index, so the list ends at the first gap.
    for (int index = 0; index < MaxDrivers; ++index) {
        if (!m_library.driverDescription(index, name, version))
            break;
        m_ui.lstDevices->addItem(name.trimmed());
    }
}

void CameraController::cmdStart_Click()
{
    if (WebcamConectada)
        STOPCAM();
    m_ui.ImagXpress1->setVisible(false);
    m_ui.picCapture->setVisible(true);
    DispositivoAtual = m_ui.lstDevices->currentRow();
    IniciarPreview();
}

void CameraController::IniciarPreview()
{
    JanelaPreview = m_library.createCaptureWindow(QString::number(DispositivoAtual),
                                                  CaptureStyleChild | CaptureStyleVisible, 0, 0,
                                                  PreviewSize, PreviewSize, m_ui.picCapture, 0);
    if (m_library.sendMessage(JanelaPreview, WM_CAP_DRIVER_CONNECT, DispositivoAtual, 0) != 0) {
        m_library.sendMessage(JanelaPreview, WM_CAP_SET_SCALE, True, 0);
        m_library.sendMessage(JanelaPreview, WM_CAP_SET_PREVIEWRATE, PreviewRateMs, 0);
        m_library.sendMessage(JanelaPreview, WM_CAP_SET_PREVIEW, True, 0);
        m_ui.cmdSave->setEnabled(true);
        m_ui.cmdStop->setEnabled(true);
        m_ui.cmdStart->setEnabled(false);
        PreviewAtivo = true;
    } else {
        // No message: "&Preview" stays available for another try.
        m_library.destroyWindow(JanelaPreview);
        m_ui.cmdSave->setEnabled(false);
        PreviewAtivo = false;
    }
}

void CameraController::PararPreview()
{
    m_library.sendMessage(JanelaPreview, WM_CAP_DRIVER_DISCONNECT, 0, 0);
    PreviewAtivo = false;
    m_library.destroyWindow(JanelaPreview);
}

void CameraController::cmdStop_Click()
{
    m_ui.ImagXpress1->setVisible(false);
    m_ui.picCapture->setVisible(true);
    PararPreview();
    m_ui.cmdStop->setEnabled(false);
    m_ui.cmdSave->setEnabled(false);
    m_ui.cmdStart->setEnabled(true);
}

void CameraController::Command2_Click()
{
    if (PreviewAtivo)
        cmdStop_Click();
    if (!WebcamConectada)
        STARTCAM();
    // The source dialog always belongs to driver 0, whichever entry the list shows.
    m_library.sendMessage(JanelaWebcam, WM_CAP_DLG_VIDEOSOURCE, 0, 0);
}

void CameraController::STARTCAM()
{
    JanelaWebcam = m_library.createCaptureWindow(QStringLiteral("WebcamCapture"), 0, 0, 0, 640, 480,
                                                 m_ui.window, 0);
    if (JanelaWebcam != 0)
        WebcamConectada = true;
    m_desktop.processEvents();
    if (m_library.sendMessage(JanelaWebcam, WM_CAP_DRIVER_CONNECT, 0, 0) == 0) {
        m_desktop.messageBox(QStringLiteral("Não foi possível detectar o dispositivo da webcam."),
                             QStringLiteral("Brantemor"), Desktop::Icon::None,
                             Desktop::Buttons::Ok);
        STOPCAM();
    }
    m_desktop.processEvents();
}

void CameraController::STOPCAM()
{
    m_desktop.processEvents();
    if (WebcamConectada) {
        m_library.sendMessage(JanelaWebcam, WM_CAP_DRIVER_DISCONNECT, 0, 0);
        m_library.destroyWindow(JanelaWebcam);
        WebcamConectada = false;
    }
}

void CameraController::cmdSave_Click()
{
    if (m_clearDragFlag)
        m_clearDragFlag();
    const bool copied = m_library.sendMessage(JanelaPreview, WM_CAP_EDIT_COPY, 0, 0) != 0;
    PararPreview();
    // Only the frame this copy put on the clipboard is taken. When the camera had none,
    // whatever the clipboard held before (the last student's frame, a screenshot) must
    // not become this student's photo: the picture stays empty instead.
    const QImage frame = copied ? m_desktop.clipboardImage() : QImage();
    m_ui.picCapture->setPicture(frame);
    m_ui.ImagXpress1->setPicture(m_ui.picCapture->picture());
    m_ui.picCapture->setVisible(false);
    m_ui.ImagXpress1->setVisible(true);
    m_ui.cmdStop->setEnabled(false);
    m_ui.cmdSave->setEnabled(false);
    m_ui.cmdStart->setEnabled(true);
    if (frame.isNull())
        m_desktop.messageBox(NoFrameText, QString(), Desktop::Icon::Warning);
}

} // namespace qc
