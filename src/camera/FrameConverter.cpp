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

// What the size checks need to know of a raw pixel format, in one row per format:
// the bits a pixel takes on a line of the first plane, how much the further planes add
// (in halves of the first: 1 for two quarter-size chroma planes or one interleaved
// 4:2:0 plane, 2 for 4:2:2), and whether pixels come in 2 x 2 blocks (Bayer mosaics,
// subsampled chroma), which libv4lconvert reads whole, past the end of a frame with an
// odd or single line or column.
struct FormatTraits
{
    std::uint32_t format;
    int bitsPerPixel;
    int extraPlaneHalves;
    bool evenSides;
};

constexpr FormatTraits RawFormats[] = {
    {V4L2_PIX_FMT_YUYV, 16, 0, false},   {V4L2_PIX_FMT_YVYU, 16, 0, false},
    {V4L2_PIX_FMT_UYVY, 16, 0, false},   {V4L2_PIX_FMT_VYUY, 16, 0, false},
    {V4L2_PIX_FMT_RGB565, 16, 0, false}, {V4L2_PIX_FMT_RGB555, 16, 0, false},
    {V4L2_PIX_FMT_RGB24, 24, 0, false},  {V4L2_PIX_FMT_BGR24, 24, 0, false},
    {V4L2_PIX_FMT_RGB32, 32, 0, false},  {V4L2_PIX_FMT_BGR32, 32, 0, false},
    {V4L2_PIX_FMT_XRGB32, 32, 0, false}, {V4L2_PIX_FMT_XBGR32, 32, 0, false},
    {V4L2_PIX_FMT_ARGB32, 32, 0, false}, {V4L2_PIX_FMT_ABGR32, 32, 0, false},
    {V4L2_PIX_FMT_Y16, 16, 0, false},    {V4L2_PIX_FMT_Y10BPACK, 10, 0, false},
    {V4L2_PIX_FMT_GREY, 8, 0, false},    {V4L2_PIX_FMT_YUV420, 8, 1, true},
    {V4L2_PIX_FMT_YVU420, 8, 1, true},   {V4L2_PIX_FMT_NV12, 8, 1, true},
    {V4L2_PIX_FMT_NV21, 8, 1, true},     {V4L2_PIX_FMT_NV16, 8, 2, true},
    {V4L2_PIX_FMT_NV61, 8, 2, true},     {V4L2_PIX_FMT_SBGGR8, 8, 0, true},
    {V4L2_PIX_FMT_SGBRG8, 8, 0, true},   {V4L2_PIX_FMT_SGRBG8, 8, 0, true},
    {V4L2_PIX_FMT_SRGGB8, 8, 0, true},
};

// The row of a raw format; null for compressed and unknown formats.
const FormatTraits* rawFormat(std::uint32_t format)
{
    for (const FormatTraits& traits : RawFormats)
        if (traits.format == format)
            return &traits;
    return nullptr;
}

// Line length of a tightly packed frame.
std::uint32_t packedBytesPerLine(const FormatTraits& traits, int width)
{
    return std::uint32_t((std::int64_t(width) * traits.bitsPerPixel + 7) / 8);
}

// Bytes a raw frame must hold.
std::size_t rawFrameBytes(const FormatTraits& traits, std::uint32_t bytesPerLine, int height)
{
    const std::size_t plane = std::size_t(bytesPerLine) * std::size_t(height);
    return plane + plane * std::size_t(traits.extraPlaneHalves) / 2;
}

CaptureError refused(const char* why, CaptureError::Kind kind = CaptureError::Kind::Failed)
{
    return {kind, QString::fromLatin1(why)};
}

// Why a frame must not be handed to libv4lconvert, which reads a raw frame by its
// declared size, not by the bytes it was given (a driver that delivered less than a
// whole picture would be read past its end); kind None when it may.
CaptureError frameProblem(std::uint32_t format, int width, int height, std::uint32_t bytesPerLine,
                          const unsigned char* data, std::size_t size)
{
    if (width <= 0 || height <= 0 || !data || size == 0)
        return refused("empty frame");
    // libv4lconvert takes sizes as int, and no camera delivers frames near this.
    if (width > FrameConverter::MaxSide || height > FrameConverter::MaxSide)
        return refused("frame too large");
    if (!FrameConverter::canConvert(format))
        return refused("unsupported pixel format", CaptureError::Kind::Unsupported);
    const FormatTraits* raw = rawFormat(format);
    if (!raw) // (M)JPEG: the decoder finds its own end
        return {};
    if (raw->evenSides && (width % 2 || height % 2))
        return refused("odd frame size");
    const std::uint32_t packed = packedBytesPerLine(*raw, width);
    const std::uint32_t lineBytes = bytesPerLine ? bytesPerLine : packed;
    if (lineBytes < packed || size < rawFrameBytes(*raw, lineBytes, height))
        return refused("short frame");
    return {};
}

} // namespace

bool FrameConverter::canConvert(std::uint32_t pixelFormat)
{
    // The compressed formats of old webcams are decoded by code in libv4lconvert that
    // reads past short or odd frames; the station takes the common raw formats, whose
    // size is checked before converting, and (M)JPEG, whose decoder finds its own end.
    return rawFormat(pixelFormat) || pixelFormat == V4L2_PIX_FMT_MJPEG ||
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

CameraResult<QImage> FrameConverter::toRgb(std::uint32_t pixelFormat, int width, int height,
                                           std::uint32_t bytesPerLine, const unsigned char* data,
                                           std::size_t size)
{
    if (!m_data)
        return refused("no converter");
    if (CaptureError problem = frameProblem(pixelFormat, width, height, bytesPerLine, data, size);
        problem.kind != CaptureError::Kind::None)
        return problem;
    const FormatTraits* raw = rawFormat(pixelFormat);

    v4l2_format src{};
    src.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    src.fmt.pix.width = width;
    src.fmt.pix.height = height;
    src.fmt.pix.pixelformat = pixelFormat;
    src.fmt.pix.field = V4L2_FIELD_NONE;
    // libv4lconvert steps through raw frames by the line length it is given; compressed
    // frames have none.
    src.fmt.pix.bytesperline =
        bytesPerLine ? bytesPerLine : (raw ? packedBytesPerLine(*raw, width) : 0);
    src.fmt.pix.sizeimage = static_cast<std::uint32_t>(size);
    return convert(src, data, size);
}

CameraResult<QImage> FrameConverter::convert(const v4l2_format& src, const unsigned char* data,
                                             std::size_t size)
{
    const int width = int(src.fmt.pix.width);
    const int height = int(src.fmt.pix.height);
    v4l2_format dst = src;
    dst.fmt.pix.pixelformat = V4L2_PIX_FMT_RGB24;
    dst.fmt.pix.bytesperline = width * 3;
    dst.fmt.pix.sizeimage = width * height * 3;

    QImage image(width, height, QImage::Format_RGB888);
    if (image.isNull())
        return refused("out of memory");
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
        const QString why = QString::fromLocal8Bit(v4lconvert_get_error_message(m_data));
        return CaptureError{CaptureError::Kind::Failed,
                            why.isEmpty() ? QStringLiteral("short frame") : why};
    }
    if (!packed) {
        for (int y = 0; y < height; ++y)
            std::memcpy(image.scanLine(y), scratch.constData() + y * lineBytes3,
                        std::size_t(lineBytes3));
    }
    return image;
}

} // namespace qc
