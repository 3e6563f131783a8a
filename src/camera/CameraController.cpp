#include "camera/CameraController.h"

#include "camera/CameraMessages.h"

#include "core/Desktop.h"
#include "imaging/ImageControl.h"
#include "imaging/PictureBox.h"

#include <QAbstractButton>
#include <QListWidget>

#include <algorithm>

namespace qc {

namespace {

constexpr int DriverNameSize = 100;
constexpr int MaxDrivers = 10; // drivers are numbered 0 to 9
constexpr int PreviewRateMs = 66;
constexpr qintptr True = -1;

const QString NoFrameText =
    QStringLiteral("A câmera não enviou nenhuma imagem; nada foi capturado.");
const QString NoDeviceEntry = QStringLiteral("No Device Available");

} // namespace

CameraController::CameraController(const CameraControls& controls, CaptureLibrary& library,
                                   Desktop& desktop)
    : m_ui(controls), m_library(library), m_desktop(desktop)
{
    m_library.setStreamEndedHandler([this](CaptureWindowHandle window, const CaptureError& error) {
        streamEnded(window, error);
    });
    m_library.setDriversChangedHandler([this] { refreshDeviceList(); });
}

CameraController::~CameraController()
{
    m_library.setStreamEndedHandler(nullptr);
    m_library.setDriversChangedHandler(nullptr);
}

void CameraController::MontarListaDispositivos()
{
    fillDeviceList();
}

void CameraController::fillDeviceList()
{
    QString name(DriverNameSize, QLatin1Char(' '));
    QString version(DriverNameSize, QLatin1Char(' '));
    // The list position is the driver index, so the list ends at the first gap.
    for (int index = 0; index < MaxDrivers; ++index) {
        if (!m_library.driverDescription(index, name, version))
            break;
        m_ui.lstDevices->addItem(name.trimmed());
        m_entries.emplace_back(name, version);
    }
}

void CameraController::refreshDeviceList()
{
    const int chosen = m_ui.lstDevices->currentRow();
    const Entry keep = chosen >= 0 && std::size_t(chosen) < m_entries.size()
                           ? m_entries[std::size_t(chosen)]
                           : Entry();
    m_ui.lstDevices->clear();
    m_entries.clear();
    fillDeviceList();

    int row = -1;
    if (PreviewAtivo) {
        // The preview goes on; its camera's index may have moved with the others.
        const int running = m_library.connectedDriver(JanelaPreview);
        if (running >= 0)
            DispositivoAtual = row = running;
    } else {
        const auto same = std::find(m_entries.begin(), m_entries.end(), keep);
        row = same != m_entries.end() ? int(same - m_entries.begin()) : 0;
    }
    if (m_entries.empty()) {
        m_ui.lstDevices->addItem(NoDeviceEntry);
        m_ui.lstDevices->setCurrentRow(-1);
    } else {
        m_ui.lstDevices->setCurrentRow(std::min(row, int(m_entries.size()) - 1));
    }
    // As at start-up: "&Preview" only with a camera to preview, and not while one runs.
    if (!PreviewAtivo)
        m_ui.cmdStart->setEnabled(!m_entries.empty());
}

void CameraController::streamEnded(CaptureWindowHandle window, const CaptureError& error)
{
    if (window == JanelaPreview && PreviewAtivo) {
        cmdStop_Click();
        // A camera that went from the list as well leaves nothing to preview.
        if (m_entries.empty())
            m_ui.cmdStart->setEnabled(false);
        m_desktop.messageBox(cameraStreamEndedText(error), QString(), Desktop::Icon::Warning);
    } else if (window == JanelaWebcam && WebcamConectada) {
        // The next "So&urce >>" connects afresh.
        STOPCAM();
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
    JanelaPreview = m_library
                        .createCaptureWindow(QString::number(DispositivoAtual),
                                             CaptureStyleChild | CaptureStyleVisible, 0, 0,
                                             PreviewSize, PreviewSize, m_ui.picCapture, 0)
                        .valueOr(0);
    const CameraResult<qintptr> connected =
        m_library.sendMessage(JanelaPreview, WM_CAP_DRIVER_CONNECT, DispositivoAtual, 0);
    if (connected) {
        m_library.sendMessage(JanelaPreview, WM_CAP_SET_SCALE, True, 0);
        m_library.sendMessage(JanelaPreview, WM_CAP_SET_PREVIEWRATE, PreviewRateMs, 0);
        m_library.sendMessage(JanelaPreview, WM_CAP_SET_PREVIEW, True, 0);
        m_ui.cmdSave->setEnabled(true);
        m_ui.cmdStop->setEnabled(true);
        m_ui.cmdStart->setEnabled(false);
        PreviewAtivo = true;
    } else {
        // "&Preview" stays available for another try; the operator is told why the
        // camera did not open rather than left before a dark box.
        m_library.destroyWindow(JanelaPreview);
        m_ui.cmdSave->setEnabled(false);
        PreviewAtivo = false;
        m_desktop.messageBox(cameraOpenFailureText(connected.error()), QString(),
                             Desktop::Icon::Warning);
    }
}

QImage CameraController::previewFrame() const
{
    return PreviewAtivo ? m_library.previewFrame(JanelaPreview) : QImage();
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
    // The dialog belongs to the camera chosen in the list, the one the operator watches;
    // a hidden window still connected to another one lets go of it first.
    if (WebcamConectada && m_library.connectedDriver(JanelaWebcam) != m_ui.lstDevices->currentRow())
        STOPCAM();
    if (!WebcamConectada)
        STARTCAM();
    m_library.sendMessage(JanelaWebcam, WM_CAP_DLG_VIDEOSOURCE, 0, 0);
}

void CameraController::STARTCAM()
{
    const CameraResult<CaptureWindowHandle> created = m_library.createCaptureWindow(
        QStringLiteral("WebcamCapture"), 0, 0, 0, 640, 480, m_ui.window, 0);
    JanelaWebcam = created.valueOr(0);
    if (created)
        WebcamConectada = true;
    m_desktop.processEvents();
    if (!m_library.sendMessage(JanelaWebcam, WM_CAP_DRIVER_CONNECT, m_ui.lstDevices->currentRow(),
                               0)) {
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
    const bool copied = m_library.sendMessage(JanelaPreview, WM_CAP_EDIT_COPY, 0, 0).ok();
    PararPreview();
    // Only the frame this copy produced is taken. When the camera had none, an earlier
    // frame must not become this student's photo: the picture stays empty instead.
    const QImage frame = copied ? m_library.takeCopiedFrame() : QImage();
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
