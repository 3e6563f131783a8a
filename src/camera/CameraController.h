#pragma once

#include "camera/CaptureLibrary.h"

#include <QString>

#include <functional>
#include <utility>
#include <vector>

class QAbstractButton;
class QListWidget;
class QWidget;

namespace qc {

class Desktop;
class ImageControl;
class PictureBox;

// The controls of the capture window that the camera handlers work on.
struct CameraControls
{
    QWidget* window = nullptr; // frmImageCapture: owner of the hidden source-dialog window
    QAbstractButton* cmdStart = nullptr;
    QAbstractButton* cmdStop = nullptr;
    QAbstractButton* cmdSave = nullptr;
    QAbstractButton* Command2 = nullptr;
    QListWidget* lstDevices = nullptr;
    PictureBox* picCapture = nullptr;
    ImageControl* ImagXpress1 = nullptr;
};

// The camera side of the capture window: the driver list, the live preview in
// picCapture, the driver's source dialog and the frame grab, with the window's capture
// state. The window owns one and connects its buttons to the click handlers. It also
// follows what the library reports on its own: a preview whose camera stopped, and
// cameras that came or went.
class CameraController
{
public:
    CameraController(const CameraControls& controls, CaptureLibrary& library, Desktop& desktop);
    ~CameraController();
    CameraController(const CameraController&) = delete;
    CameraController& operator=(const CameraController&) = delete;

    // The grab ends any selection drag; the crop handlers give the way to clear it.
    void setClearDragFlag(std::function<void()> clear) { m_clearDragFlag = std::move(clear); }

    void MontarListaDispositivos();
    void IniciarPreview();
    void PararPreview();
    void STARTCAM();
    void STOPCAM();

    void cmdStart_Click();
    void cmdStop_Click();
    void Command2_Click();
    void cmdSave_Click();

    // Fills lstDevices again from the library's drivers, keeping the running camera's
    // entry (or else the one chosen) chosen; the preview is not touched.
    void refreshDeviceList();
    // A window's stream ended on its own: the preview ends as after "Para&r".
    void streamEnded(CaptureWindowHandle window, const CaptureError& error);

    // The size of the preview window, from the top-left corner of picCapture.
    static constexpr int PreviewSize = 400;
    // The running preview's newest frame at the camera's size; null when none runs.
    QImage previewFrame() const;

    // Capture state.
    CaptureWindowHandle JanelaPreview = 0;
    bool PreviewAtivo = false;
    qint32 DispositivoAtual = 0;
    CaptureWindowHandle JanelaWebcam = 0;
    bool WebcamConectada = false;

private:
    using Entry = std::pair<QString, QString>; // a driver's name and version
    void fillDeviceList();

    CameraControls m_ui;
    std::vector<Entry> m_entries; // one per driver listed in lstDevices
    CaptureLibrary& m_library;
    Desktop& m_desktop;
    std::function<void()> m_clearDragFlag;
};

} // namespace qc
