#pragma once

#include "camera/CameraResult.h"

#include <QImage>
#include <QString>
#include <QtGlobal>

#include <functional>

class QWidget;

namespace qc {

// Handle of a capture window; 0 is no window (what the station holds when none was made).
using CaptureWindowHandle = quintptr;

// Capture window messages, numbered as the station has always sent them.
inline constexpr unsigned WM_CAP_DRIVER_CONNECT = 0x40A;
inline constexpr unsigned WM_CAP_DRIVER_DISCONNECT = 0x40B;
inline constexpr unsigned WM_CAP_EDIT_COPY = 0x41E;
inline constexpr unsigned WM_CAP_DLG_VIDEOSOURCE = 0x42A;
inline constexpr unsigned WM_CAP_SET_PREVIEW = 0x432;
inline constexpr unsigned WM_CAP_SET_PREVIEWRATE = 0x434;
inline constexpr unsigned WM_CAP_SET_SCALE = 0x435;

// Window styles a capture window is created with: a visible child of its parent, or 0
// for a hidden window that its parent owns.
inline constexpr quint32 CaptureStyleChild = 0x40000000;
inline constexpr quint32 CaptureStyleVisible = 0x10000000;

// The capture library: capture drivers by index 0..9 and capture windows that connect
// to one, preview its frames, copy the current frame and show the driver's source
// dialog. The copy stays inside the library, never on the system clipboard, where
// clipboard history would keep a student's frame after the station is gone. Every call is
// synchronous and made on the UI thread.
class CaptureLibrary
{
public:
    virtual ~CaptureLibrary() = default;

    // True while a driver exists at index; name then holds its name.
    virtual bool driverDescription(int index, QString& name, QString& version) = 0;

    // A new capture window, or why it cannot be made.
    virtual CameraResult<CaptureWindowHandle> createCaptureWindow(const QString& windowName,
                                                                  quint32 style, int x, int y,
                                                                  int width, int height,
                                                                  QWidget* parent, int id) = 0;

    // The message's result, or why it failed: for WM_CAP_DRIVER_CONNECT why the driver
    // did not connect ({Absent} when there is no driver at that index), for
    // WM_CAP_EDIT_COPY that there was no frame to copy.
    virtual CameraResult<qintptr> sendMessage(CaptureWindowHandle window, unsigned message,
                                              qintptr wParam, qintptr lParam) = 0;

    virtual bool destroyWindow(CaptureWindowHandle window) = 0;

    // The frame the last WM_CAP_EDIT_COPY copied (null when that copy found none),
    // handed over once: the library keeps no student's frame after it is read.
    virtual QImage takeCopiedFrame() = 0;

    // The index of the driver a window is connected to now; -1 when none.
    virtual int connectedDriver(CaptureWindowHandle window) const = 0;

    // The newest frame of a previewing window, at the driver's frame size, for looking
    // at (the face guide); null when there is none or the library cannot tell.
    virtual QImage previewFrame(CaptureWindowHandle window) const
    {
        Q_UNUSED(window);
        return QImage();
    }

    // Told, from the event loop and never inside another library call, when a window's
    // stream ended on its own (the window is then no longer connected) ...
    using StreamEndedHandler = std::function<void(CaptureWindowHandle, const CaptureError&)>;
    void setStreamEndedHandler(StreamEndedHandler handler) { m_streamEnded = std::move(handler); }
    // ... and when cameras came or went, so that the driver indices changed.
    void setDriversChangedHandler(std::function<void()> handler)
    {
        m_driversChanged = std::move(handler);
    }

protected:
    void notifyStreamEnded(CaptureWindowHandle window, const CaptureError& error) const
    {
        if (m_streamEnded)
            m_streamEnded(window, error);
    }
    void notifyDriversChanged() const
    {
        if (m_driversChanged)
            m_driversChanged();
    }

private:
    StreamEndedHandler m_streamEnded;
    std::function<void()> m_driversChanged;
};

} // namespace qc
