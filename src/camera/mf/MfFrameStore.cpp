#include "camera/mf/MfFrameStore.h"

#include "camera/FrameDecoder.h"
#include "camera/PreviewImage.h"
#include "camera/mf/MfFormats.h"

#include <linux/videodev2.h>

namespace qc {

namespace {

// Bytes a raw frame of this format must hold at this line length.
std::size_t rawFrameBytes(std::uint32_t pixelFormat, std::uint32_t line, QSize size)
{
    const std::size_t plane = std::size_t(line) * std::size_t(size.height());
    return pixelFormat == V4L2_PIX_FMT_NV12 ? plane * 3 / 2 : plane;
}

bool jpegLooksWhole(const unsigned char* data, std::size_t size)
{
    // Some cameras pad a frame after its end marker; the marker is near the end still.
    const std::size_t from = size > 1024 ? size - 1024 : 0;
    for (std::size_t i = size; i-- > from + 1;)
        if (data[i - 1] == 0xFF && data[i] == 0xD9)
            return true;
    return false;
}

} // namespace

MfFrameStore::MfFrameStore()
    : m_preview(std::make_unique<PreviewConverter>()), m_decoder(std::make_unique<FrameDecoder>())
{}

MfFrameStore::~MfFrameStore() = default;

bool MfFrameStore::setFormat(std::uint32_t mfFourcc, QSize size)
{
    const std::lock_guard<std::mutex> hold(m_lock);
    m_pixelFormat = pixelFormatOfMf(mfFourcc);
    m_size = size;
    m_held = Held();
    m_whole = QImage();
    m_wholeOf = 0;
    return m_pixelFormat != 0 && !size.isEmpty();
}

bool MfFrameStore::put(const unsigned char* data, std::size_t size, int pitch)
{
    if (!data || size == 0 || pitch < 0 || !m_pixelFormat)
        return false;
    const bool jpeg = m_pixelFormat == V4L2_PIX_FMT_MJPEG;
    std::uint32_t line = 0;
    if (jpeg) {
        if (!jpegLooksWhole(data, size))
            return false;
    } else {
        const std::uint32_t packed =
            std::uint32_t(m_size.width()) * (m_pixelFormat == V4L2_PIX_FMT_NV12 ? 1 : 2);
        line = pitch ? std::uint32_t(pitch) : packed;
        if (line < packed || size < rawFrameBytes(m_pixelFormat, line, m_size))
            return false;
        size = rawFrameBytes(m_pixelFormat, line, m_size);
    }
    QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::lock_guard<std::mutex> hold(m_lock);
    m_held.bytes.swap(bytes);
    m_held.bytesPerLine = line;
    ++m_held.number;
    return true;
}

quint64 MfFrameStore::frameCount() const
{
    const std::lock_guard<std::mutex> hold(m_lock);
    return m_held.number;
}

MfFrameStore::Held MfFrameStore::latest() const
{
    const std::lock_guard<std::mutex> hold(m_lock);
    return m_held;
}

QImage MfFrameStore::preview(QSize area)
{
    const Held frame = latest();
    if (frame.bytes.isEmpty())
        return QImage();
    return m_preview->toPreview(m_pixelFormat, m_size.width(), m_size.height(), frame.bytesPerLine,
                                reinterpret_cast<const unsigned char*>(frame.bytes.constData()),
                                std::size_t(frame.bytes.size()), area);
}

QImage MfFrameStore::whole()
{
    const Held frame = latest();
    if (frame.bytes.isEmpty())
        return QImage();
    if (frame.number != m_wholeOf) {
        m_whole = m_decoder
                      ->toRgb(m_pixelFormat, m_size.width(), m_size.height(), frame.bytesPerLine,
                              reinterpret_cast<const unsigned char*>(frame.bytes.constData()),
                              std::size_t(frame.bytes.size()))
                      .valueOr(QImage());
        m_wholeOf = frame.number;
    }
    return m_whole;
}

} // namespace qc
