#pragma once

#include "camera/CameraDevices.h"
#include "camera/CaptureDriver.h"
#include "camera/mf/MfFrameStore.h"
#include "camera/mf/MfSession_win.h"

#include <mfidl.h>
#include <mfreadwrite.h>

#include <atomic>
#include <future>
#include <memory>
#include <thread>

namespace qc {

// A Windows webcam through Media Foundation: a source reader on the device's media
// source, in the format chooseMfOffer picks (640 x 480 where offered), read on a
// thread of the driver's own (synchronous ReadSample), which keeps the newest frame's
// bytes and tells the UI thread a frame arrived; open() returns once the first frame
// has come (or says why none did). The frames are converted on the UI thread by the
// conversions the Linux driver uses: straight into the preview, whole for a grab.
// Its settings are the device's own property page, or the ranges of IAMVideoProcAmp
// and IAMCameraControl for the station's source dialog.
class MfDriver : public CaptureDriver
{
    Q_OBJECT

public:
    explicit MfDriver(CameraDevice device, QObject* parent = nullptr);
    ~MfDriver() override;

    QString name() const override { return m_device.name; }
    QString version() const override { return m_device.id; }

    CameraStatus open() override;
    void close() override;
    bool isOpen() const override { return m_open; }

    QImage currentFrame() const override;
    QImage previewFrame(QSize size) const override;
    quint64 frameCount() const override { return m_delivered; }

    QList<CaptureControl> controls() const override;
    bool setControl(quint32 id, int value) override;
    int controlValue(quint32 id) const override;
    bool showPropertyPage(quintptr ownerWindow) override;
    void deviceRemoved() override;

private:
    // Lets go of the device and says why.
    CaptureError fail(HRESULT hr, const QString& what);
    // The steps of open(), in their order.
    CameraStatus createReader();
    CameraStatus chooseFormat();
    void readFrames(std::promise<HRESULT> started);
    bool keep(IMFSample* sample);
    void endStream(const CaptureError& error);
    void release();

    CameraDevice m_device;
    std::unique_ptr<MfSession> m_session;
    ComPtr<IMFMediaSource> m_source;
    ComPtr<IMFSourceReader> m_reader;
    int m_stride = 0; // the format's line length, for buffers without one of their own
    // mutable: converting the held frame caches the result, as the V4L2 driver does.
    mutable MfFrameStore m_frames;
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
    std::atomic<quint64> m_delivered{0};
    bool m_open = false;
};

} // namespace qc
