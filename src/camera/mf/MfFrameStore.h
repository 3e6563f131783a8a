#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

namespace qc {

class FrameDecoder;
class PreviewConverter;

// The newest frame of a Media Foundation camera, handed from the reader's thread to the
// UI thread, and the station's shared conversions applied to it: straight into the
// preview, whole for a grab. The frame's bytes are kept as the buffer held them (lines
// of the buffer's pitch), so a frame is copied once and converted only when asked.
class MfFrameStore
{
public:
    MfFrameStore();
    ~MfFrameStore();
    MfFrameStore(const MfFrameStore&) = delete;
    MfFrameStore& operator=(const MfFrameStore&) = delete;

    // The subtype the reader delivers (its four-character code) and the frame size;
    // forgets the frame held. False for a subtype the station does not read.
    bool setFormat(std::uint32_t mfFourcc, QSize size);
    std::uint32_t pixelFormat() const { return m_pixelFormat; }
    QSize frameSize() const { return m_size; }

    // Keeps a frame, from any thread; pitch is the buffer's line length (0 for a
    // compressed frame or a tightly packed one). False when it is not kept: a JPEG torn
    // in transfer, a frame shorter than its format needs, lines running bottom-up.
    bool put(const unsigned char* data, std::size_t size, int pitch);
    // Frames kept since the format was set.
    quint64 frameCount() const;
    bool hasFrame() const { return frameCount() > 0; }

    // From the UI thread: the newest frame stretched to area (Format_RGB32), or whole
    // (Format_RGB888); null when there is none or it cannot be decoded.
    QImage preview(QSize area);
    QImage whole();

private:
    struct Held
    {
        QByteArray bytes;
        std::uint32_t bytesPerLine = 0;
        quint64 number = 0;
    };
    Held latest() const;

    std::uint32_t m_pixelFormat = 0;
    QSize m_size;
    mutable std::mutex m_lock;
    Held m_held;
    std::unique_ptr<PreviewConverter> m_preview;
    std::unique_ptr<FrameDecoder> m_decoder;
    QImage m_whole; // the whole picture of frame m_wholeOf, kept for a second ask
    quint64 m_wholeOf = 0;
};

} // namespace qc
