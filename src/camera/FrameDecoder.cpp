#include "camera/FrameDecoder.h"

#include <linux/videodev2.h>
#include <turbojpeg.h>

#include <algorithm>
#include <array>

namespace qc {

namespace {

constexpr int MaxSide = 16384;

CaptureError refused(const char* why, CaptureError::Kind kind = CaptureError::Kind::Failed)
{
    return {kind, QString::fromLatin1(why)};
}

inline uchar clip(int v)
{
    return uchar(std::clamp(v, 0, 255));
}

// The chroma terms of one (u, v) pair, looked up rather than multiplied per pixel. Two
// sets of coefficients, as libv4lconvert has them: shifts and adds for the packed
// 4:2:2 formats, tenths of a thousand for NV12.
struct ChromaTables
{
    std::array<int, 256> r, gu, gv, b;
};

const ChromaTables& packedTables()
{
    static const ChromaTables t = [] {
        ChromaTables c{};
        for (int i = 0; i < 256; ++i) {
            const int d = i - 128;
            c.r[std::size_t(i)] = (d * 3) >> 1;
            c.gu[std::size_t(i)] = d * 3; // red-green mix, shifted after the sum
            c.gv[std::size_t(i)] = d * 6;
            c.b[std::size_t(i)] = (d * 129) >> 6;
        }
        return c;
    }();
    return t;
}

const ChromaTables& nv12Tables()
{
    static const ChromaTables t = [] {
        ChromaTables c{};
        for (int i = 0; i < 256; ++i) {
            const int d = i - 128;
            c.r[std::size_t(i)] = (d * 1436) >> 10;
            c.gu[std::size_t(i)] = d * 352; // summed with the v term, then shifted
            c.gv[std::size_t(i)] = d * 731;
            c.b[std::size_t(i)] = (d * 1814) >> 10;
        }
        return c;
    }();
    return t;
}

// Packed 4:2:2: two pixels in four bytes, luma and chroma at the given offsets.
void packed422ToRgb(const uchar* data, int width, int height, std::size_t line, int yAt, int uAt,
                    int vAt, uchar* out, std::size_t outLine)
{
    const ChromaTables& t = packedTables();
    for (int y = 0; y < height; ++y) {
        const uchar* in = data + std::size_t(y) * line;
        uchar* dst = out + std::size_t(y) * outLine;
        for (int x = 0; x + 1 < width; x += 2, in += 4) {
            const int r = t.r[in[vAt]];
            const int g = (t.gu[in[uAt]] + t.gv[in[vAt]]) >> 3;
            const int b = t.b[in[uAt]];
            for (int k : {yAt, yAt + 2}) {
                *dst++ = clip(in[k] + r);
                *dst++ = clip(in[k] - g);
                *dst++ = clip(in[k] + b);
            }
        }
    }
}

void nv12ToRgb(const uchar* data, int width, int height, std::size_t line, uchar* out,
               std::size_t outLine)
{
    const ChromaTables& t = nv12Tables();
    const uchar* chroma = data + line * std::size_t(height);
    for (int y = 0; y < height; ++y) {
        const uchar* luma = data + std::size_t(y) * line;
        const uchar* uv = chroma + std::size_t(y / 2) * line;
        uchar* dst = out + std::size_t(y) * outLine;
        for (int x = 0; x < width; ++x) {
            const uchar* pair = uv + (x & ~1);
            const int r = t.r[pair[1]];
            const int g = (t.gu[pair[0]] + t.gv[pair[1]]) >> 10;
            const int b = t.b[pair[0]];
            *dst++ = clip(luma[x] + r);
            *dst++ = clip(luma[x] - g);
            *dst++ = clip(luma[x] + b);
        }
    }
}

} // namespace

FrameDecoder::FrameDecoder() : m_jpeg(tjInitDecompress()) {}

FrameDecoder::~FrameDecoder()
{
    if (m_jpeg)
        tjDestroy(m_jpeg);
}

void FrameDecoder::nv12ToRgb24(const unsigned char* data, int width, int height,
                               std::size_t bytesPerLine, unsigned char* out,
                               std::size_t outBytesPerLine)
{
    nv12ToRgb(data, width, height, bytesPerLine, out, outBytesPerLine);
}

void FrameDecoder::yuyvToRgb24(const unsigned char* data, int width, int height,
                               std::size_t bytesPerLine, unsigned char* out,
                               std::size_t outBytesPerLine)
{
    packed422ToRgb(data, width, height, bytesPerLine, 0, 1, 3, out, outBytesPerLine);
}

bool FrameDecoder::handles(std::uint32_t pixelFormat)
{
    switch (pixelFormat) {
    case V4L2_PIX_FMT_YUYV:
    case V4L2_PIX_FMT_UYVY:
    case V4L2_PIX_FMT_NV12:
    case V4L2_PIX_FMT_MJPEG:
    case V4L2_PIX_FMT_JPEG:
        return true;
    default:
        return false;
    }
}

CameraResult<QImage> FrameDecoder::toRgb(std::uint32_t pixelFormat, int width, int height,
                                         std::uint32_t bytesPerLine, const unsigned char* data,
                                         std::size_t size)
{
    if (width <= 0 || height <= 0 || !data || size == 0)
        return refused("empty frame");
    if (width > MaxSide || height > MaxSide)
        return refused("frame too large");
    if (!handles(pixelFormat))
        return refused("unsupported pixel format", CaptureError::Kind::Unsupported);
    if (pixelFormat == V4L2_PIX_FMT_MJPEG || pixelFormat == V4L2_PIX_FMT_JPEG)
        return fromJpeg(data, size);

    const bool nv12 = pixelFormat == V4L2_PIX_FMT_NV12;
    const std::size_t packed = nv12 ? std::size_t(width) : std::size_t(width) * 2;
    const std::size_t line = bytesPerLine ? bytesPerLine : packed;
    const std::size_t needed =
        nv12 ? line * std::size_t(height) * 3 / 2 : line * std::size_t(height);
    if (width % 2 || (nv12 && height % 2))
        return refused("odd frame size");
    if (line < packed || size < needed)
        return refused("short frame");
    QImage image(width, height, QImage::Format_RGB888);
    if (image.isNull())
        return refused("out of memory");
    const std::size_t outLine = std::size_t(image.bytesPerLine());
    if (nv12)
        nv12ToRgb(data, width, height, line, image.bits(), outLine);
    else if (pixelFormat == V4L2_PIX_FMT_YUYV)
        packed422ToRgb(data, width, height, line, 0, 1, 3, image.bits(), outLine);
    else
        packed422ToRgb(data, width, height, line, 1, 0, 2, image.bits(), outLine);
    return image;
}

CameraResult<QImage> FrameDecoder::fromJpeg(const unsigned char* data, std::size_t size)
{
    if (!m_jpeg)
        return refused("no JPEG decoder");
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(m_jpeg, data, static_cast<unsigned long>(size), &width, &height,
                            &subsampling, &colourspace) != 0)
        return CaptureError{CaptureError::Kind::Failed,
                            QString::fromLocal8Bit(tjGetErrorStr2(m_jpeg))};
    if (width <= 0 || height <= 0 || width > MaxSide || height > MaxSide)
        return refused("frame too large");
    QImage image(width, height, QImage::Format_RGB888);
    if (image.isNull())
        return refused("out of memory");
    // As for the preview, a frame with damaged data is taken for what could be decoded;
    // only one that cannot be read at all is refused.
    if (tjDecompress2(m_jpeg, data, static_cast<unsigned long>(size), image.bits(), width,
                      int(image.bytesPerLine()), height, TJPF_RGB, 0) != 0 &&
        tjGetErrorCode(m_jpeg) == TJERR_FATAL)
        return CaptureError{CaptureError::Kind::Failed,
                            QString::fromLocal8Bit(tjGetErrorStr2(m_jpeg))};
    return image;
}

} // namespace qc
