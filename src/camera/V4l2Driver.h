#pragma once

#include "camera/CaptureDriver.h"

#include <QList>
#include <QSize>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

class QSocketNotifier;

namespace qc {

class FrameConverter;
class PreviewConverter;

// A Linux webcam (or any video capture node) through V4L2: mmap streaming, frames read
// on the UI thread when the device's file descriptor becomes readable. The newest
// frame's buffer is held back from the device until a newer one arrives, and turned
// into a picture only when asked: the whole frame by libv4lconvert (every pixel
// format the device offers), the preview straight at its size where the format
// allows it.
class V4l2Driver : public CaptureDriver
{
    Q_OBJECT

public:
    struct Device
    {
        QString path; // /dev/videoN
        QString card; // the name the device gives itself
    };

    // The nodes under devDir that capture video, in node-number order, at most limit.
    static QList<Device> enumerate(const QString& devDir = QStringLiteral("/dev"), int limit = 10);

    explicit V4l2Driver(Device device, QObject* parent = nullptr);
    ~V4l2Driver() override;

    QString name() const override { return m_device.card; }
    QString version() const override { return m_device.path; }
    const Device& device() const { return m_device; }

    // The source format to ask for at the next open (0 = let the converter choose the
    // best one for 640 x 480 RGB) and the size (empty = 640 x 480 or the nearest offered).
    void setRequestedFormat(std::uint32_t pixelFormat, QSize size = QSize());
    std::uint32_t sourceFormat() const { return m_pixelFormat; }
    QSize frameSize() const { return m_size; }

    CameraStatus open() override;
    void close() override;
    bool isOpen() const override { return m_fd >= 0; }

    QImage currentFrame() const override;
    QImage previewFrame(QSize size) const override;
    quint64 frameCount() const override { return m_frameCount; }

    QList<CaptureControl> controls() const override;
    bool setControl(quint32 id, int value) override;
    int controlValue(quint32 id) const override;

private:
    struct Buffer
    {
        void* start = nullptr;
        std::size_t length = 0;
    };

    static CaptureError::Kind kindOf(int error);
    // Lets go of the device and says why; kind None: judged by the error number.
    CaptureError fail(const QString& what, int error,
                      CaptureError::Kind kind = CaptureError::Kind::None);
    // The steps of open(), in their order.
    CameraStatus openNode();
    CameraStatus negotiateFormat();
    CameraStatus startStreaming();
    void watchDevice();
    void releaseDevice();
    void readFrame();
    void endStream(const QString& what, int error);

    Device m_device;
    std::uint32_t m_requestedFormat = 0;
    QSize m_requestedSize;

    int m_fd = -1;
    std::unique_ptr<FrameConverter> m_converter;
    std::unique_ptr<PreviewConverter> m_previewConverter;
    std::vector<Buffer> m_buffers;
    bool m_streaming = false;
    std::uint32_t m_pixelFormat = 0;
    std::uint32_t m_bytesPerLine = 0;
    QSize m_size;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_errorNotifier = nullptr;
    int m_held = -1; // the buffer of the newest frame, out of the device's queue
    std::uint32_t m_heldBytes = 0;
    quint64 m_frameCount = 0;
    // The held frame converted whole, once asked for.
    mutable QImage m_frame;
    mutable quint64 m_frameOf = 0;
};

} // namespace qc
