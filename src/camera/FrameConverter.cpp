#include "camera/FrameConverter.h"

#include <libv4l-plugin.h>
#include <libv4lconvert.h>
#include <linux/videodev2.h>

#include <cerrno>
#include <cstring>

namespace qc {

namespace {

// libv4lconvert asks the device what it is when it is created. A standalone converter
// has no device, so it is told it talks to a plain capture device without formats of
// its own; conversion needs nothing more.
int standaloneIoctl(void*, int, unsigned long request, void* arg)
{
    if (request == VIDIOC_QUERYCAP) {
        auto* cap = static_cast<v4l2_capability*>(arg);
        std::memset(cap, 0, sizeof *cap);
        std::strncpy(reinterpret_cast<char*>(cap->driver), "quvelocap", sizeof cap->driver - 1);
        std::strncpy(reinterpret_cast<char*>(cap->card), "frame converter", sizeof cap->card - 1);
        cap->capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_DEVICE_CAPS;
        cap->device_caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
        return 0;
    }
    errno = EINVAL;
    return -1;
}

ssize_t standaloneRead(void*, int, void*, size_t)
{
    errno = EINVAL;
    return -1;
}

ssize_t standaloneWrite(void*, int, const void*, size_t)
{
    errno = EINVAL;
    return -1;
}

const libv4l_dev_ops standaloneOps = {
    nullptr, nullptr, standaloneIoctl, standaloneRead, standaloneWrite, nullptr,
    nullptr, nullptr, nullptr,         nullptr,        nullptr,         nullptr,
};

// Line length of a tightly packed frame; 0 for compressed formats, which have none.
std::uint32_t packedBytesPerLine(std::uint32_t format, int width)
{
    switch (format) {
    case V4L2_PIX_FMT_YUYV:
    case V4L2_PIX_FMT_YVYU:
    case V4L2_PIX_FMT_UYVY:
    case V4L2_PIX_FMT_VYUY:
    case V4L2_PIX_FMT_RGB565:
    case V4L2_PIX_FMT_RGB555:
        return width * 2;
    case V4L2_PIX_FMT_RGB24:
    case V4L2_PIX_FMT_BGR24:
        return width * 3;
    case V4L2_PIX_FMT_RGB32:
    case V4L2_PIX_FMT_BGR32:
    case V4L2_PIX_FMT_XRGB32:
    case V4L2_PIX_FMT_XBGR32:
    case V4L2_PIX_FMT_ARGB32:
    case V4L2_PIX_FMT_ABGR32:
        return width * 4;
    case V4L2_PIX_FMT_Y16:
        return width * 2;
    case V4L2_PIX_FMT_Y10BPACK:
        return (width * 10 + 7) / 8;
    case V4L2_PIX_FMT_YUV420:
    case V4L2_PIX_FMT_YVU420:
    case V4L2_PIX_FMT_NV12:
    case V4L2_PIX_FMT_NV21:
    case V4L2_PIX_FMT_NV16:
    case V4L2_PIX_FMT_NV61:
    case V4L2_PIX_FMT_GREY:
    case V4L2_PIX_FMT_SBGGR8:
    case V4L2_PIX_FMT_SGBRG8:
    case V4L2_PIX_FMT_SGRBG8:
    case V4L2_PIX_FMT_SRGGB8:
        return width;
    default:
        return 0;
    }
}

// Bytes a raw frame must hold; 0 for compressed formats, whose decoders find their own end.
std::size_t rawFrameBytes(std::uint32_t format, std::uint32_t bytesPerLine, int height)
{
    const std::size_t plane = std::size_t(bytesPerLine) * std::size_t(height);
    switch (format) {
    case V4L2_PIX_FMT_YUV420:
    case V4L2_PIX_FMT_YVU420:
    case V4L2_PIX_FMT_NV12:
    case V4L2_PIX_FMT_NV21:
        return plane + plane / 2; // two quarter-size chroma planes, or one interleaved
    case V4L2_PIX_FMT_NV16:
    case V4L2_PIX_FMT_NV61:
        return plane * 2;
    default:
        return packedBytesPerLine(format, 1) ? plane : 0;
    }
}

// Bayer mosaics and subsampled chroma come in 2 x 2 blocks; libv4lconvert reads whole
// blocks, past the end of a frame with an odd or single line or column.
bool needsEvenSides(std::uint32_t format)
{
    switch (format) {
    case V4L2_PIX_FMT_SBGGR8:
    case V4L2_PIX_FMT_SGBRG8:
    case V4L2_PIX_FMT_SGRBG8:
    case V4L2_PIX_FMT_SRGGB8:
    case V4L2_PIX_FMT_YUV420:
    case V4L2_PIX_FMT_YVU420:
    case V4L2_PIX_FMT_NV12:
    case V4L2_PIX_FMT_NV21:
    case V4L2_PIX_FMT_NV16:
    case V4L2_PIX_FMT_NV61:
        return true;
    default:
        return false;
    }
}

} // namespace

bool FrameConverter::canConvert(std::uint32_t pixelFormat)
{
    // The compressed formats of old webcams are decoded by code in libv4lconvert that
    // reads past short or odd frames; the station takes the common raw formats, whose
    // size is checked before converting, and (M)JPEG, whose decoder finds its own end.
    return packedBytesPerLine(pixelFormat, 1) || pixelFormat == V4L2_PIX_FMT_MJPEG ||
           pixelFormat == V4L2_PIX_FMT_JPEG;
}

bool FrameConverter::jpegLooksWhole(const unsigned char* data, std::size_t size)
{
    // Some cameras pad a frame after its end marker; the marker is near the end still.
    const std::size_t from = size > 1024 ? size - 1024 : 0;
    for (std::size_t i = size; i-- > from + 1;)
        if (data[i - 1] == 0xFF && data[i] == 0xD9)
            return true;
    return false;
}

FrameConverter::FrameConverter()
    : m_data(v4lconvert_create_with_dev_ops(-1, nullptr, &standaloneOps))
{}

FrameConverter::FrameConverter(int fd) : m_data(v4lconvert_create(fd)) {}

FrameConverter::~FrameConverter()
{
    if (m_data)
        v4lconvert_destroy(m_data);
}

QImage FrameConverter::toRgb(std::uint32_t pixelFormat, int width, int height,
                             std::uint32_t bytesPerLine, const unsigned char* data,
                             std::size_t size)
{
    if (!m_data) {
        m_lastError = QStringLiteral("no converter");
        return QImage();
    }
    if (width <= 0 || height <= 0 || !data || size == 0) {
        m_lastError = QStringLiteral("empty frame");
        return QImage();
    }

    // libv4lconvert takes sizes as int, and no camera delivers frames near this.
    if (width > MaxSide || height > MaxSide) {
        m_lastError = QStringLiteral("frame too large");
        return QImage();
    }
    if (!canConvert(pixelFormat)) {
        m_lastError = QStringLiteral("unsupported pixel format");
        return QImage();
    }
    if (needsEvenSides(pixelFormat) && (width % 2 || height % 2)) {
        m_lastError = QStringLiteral("odd frame size");
        return QImage();
    }
    const std::uint32_t lineBytes =
        bytesPerLine ? bytesPerLine : packedBytesPerLine(pixelFormat, width);
    // libv4lconvert reads a raw frame by its size, not by the bytes it was given: a short
    // frame (a driver that delivered less than a whole picture) would be read past its end.
    if (lineBytes < packedBytesPerLine(pixelFormat, width) ||
        size < rawFrameBytes(pixelFormat, lineBytes, height)) {
        m_lastError = QStringLiteral("short frame");
        return QImage();
    }

    v4l2_format src{};
    src.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    src.fmt.pix.width = width;
    src.fmt.pix.height = height;
    src.fmt.pix.pixelformat = pixelFormat;
    src.fmt.pix.field = V4L2_FIELD_NONE;
    // libv4lconvert steps through raw frames by the line length it is given.
    src.fmt.pix.bytesperline = lineBytes;
    src.fmt.pix.sizeimage = static_cast<std::uint32_t>(size);

    v4l2_format dst = src;
    dst.fmt.pix.pixelformat = V4L2_PIX_FMT_RGB24;
    dst.fmt.pix.bytesperline = width * 3;
    dst.fmt.pix.sizeimage = width * height * 3;

    QImage image(width, height, QImage::Format_RGB888);
    if (image.isNull()) {
        m_lastError = QStringLiteral("out of memory");
        return QImage();
    }
    // QImage pads lines to four bytes; libv4lconvert writes them packed. Sizes below fit
    // an int (sides are at most MaxSide), which is what libv4lconvert takes.
    const qsizetype lineBytes3 = qsizetype(width) * 3;
    const qsizetype rgbBytes = lineBytes3 * height;
    const bool packed = image.bytesPerLine() == lineBytes3;
    QByteArray scratch;
    unsigned char* out = image.bits();
    if (!packed) {
        scratch.resize(rgbBytes);
        out = reinterpret_cast<unsigned char*>(scratch.data());
    }
    // libv4lconvert takes a non-const source although it only reads it.
    const int written = v4lconvert_convert(m_data, &src, &dst, const_cast<unsigned char*>(data),
                                           static_cast<int>(size), out, static_cast<int>(rgbBytes));
    if (written < rgbBytes) {
        m_lastError = QString::fromLocal8Bit(v4lconvert_get_error_message(m_data));
        if (m_lastError.isEmpty())
            m_lastError = QStringLiteral("short frame");
        return QImage();
    }
    if (!packed) {
        for (int y = 0; y < height; ++y)
            std::memcpy(image.scanLine(y), scratch.constData() + y * lineBytes3,
                        std::size_t(lineBytes3));
    }
    m_lastError.clear();
    return image;
}

} // namespace qc
