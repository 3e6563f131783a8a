// Any buffer as a camera frame of a given pixel format and size: conversion must give an
// RGB picture of that size or refuse, never read outside the buffer or write outside the
// picture.
//
// Input: format index (1 byte), width and height (2 bytes each, little-endian), line
// length padding (1 byte, 255 = "shorter than a line"), then the frame's bytes. The
// frame is copied to the end of a page that is followed by an inaccessible one, so that a
// read past its end faults inside libv4lconvert too, which is not instrumented.

#include "camera/FrameConverter.h"

#include <QImage>

#include <linux/videodev2.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

// What a webcam may hand over: the formats libv4lconvert reads, the exotic compressed
// ones of old webcams included.
const std::uint32_t kFormats[] = {
    V4L2_PIX_FMT_YUYV,         V4L2_PIX_FMT_YVYU,      V4L2_PIX_FMT_UYVY,
    V4L2_PIX_FMT_VYUY,         V4L2_PIX_FMT_RGB565,    V4L2_PIX_FMT_RGB24,
    V4L2_PIX_FMT_BGR24,        V4L2_PIX_FMT_RGB32,     V4L2_PIX_FMT_BGR32,
    V4L2_PIX_FMT_YUV420,       V4L2_PIX_FMT_YVU420,    V4L2_PIX_FMT_NV12,
    V4L2_PIX_FMT_NV16,         V4L2_PIX_FMT_GREY,      V4L2_PIX_FMT_Y10BPACK,
    V4L2_PIX_FMT_Y16,          V4L2_PIX_FMT_SBGGR8,    V4L2_PIX_FMT_SGBRG8,
    V4L2_PIX_FMT_SGRBG8,       V4L2_PIX_FMT_SRGGB8,    V4L2_PIX_FMT_MJPEG,
    V4L2_PIX_FMT_JPEG,         V4L2_PIX_FMT_SPCA501,   V4L2_PIX_FMT_SPCA505,
    V4L2_PIX_FMT_SPCA508,      V4L2_PIX_FMT_SPCA561,   V4L2_PIX_FMT_SN9C10X,
    V4L2_PIX_FMT_SN9C20X_I420, V4L2_PIX_FMT_PAC207,    V4L2_PIX_FMT_MR97310A,
    V4L2_PIX_FMT_JL2005BCD,    V4L2_PIX_FMT_SQ905C,    V4L2_PIX_FMT_STV0680,
    V4L2_PIX_FMT_OV511,        V4L2_PIX_FMT_OV518,     V4L2_PIX_FMT_CPIA1,
    V4L2_PIX_FMT_HM12,         V4L2_PIX_FMT_KONICA420, 0x12345678,
};

long pageSize()
{
    static const long size = sysconf(_SC_PAGESIZE);
    return size;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 6)
        return -1;
    const std::uint32_t format = kFormats[data[0] % std::size(kFormats)];
    const int width = data[1] | data[2] << 8;
    const int height = data[3] | data[4] << 8;
    const std::uint8_t padding = data[5];
    const unsigned char* frame = data + 6;
    const std::size_t frameSize = size - 6;

    // 255: a line length below the packed one, as a confused driver might report.
    const std::uint32_t bytesPerLine = padding == 0     ? 0
                                       : padding == 255 ? std::uint32_t(width)
                                                        : std::uint32_t(width * 2 + padding);

    const std::size_t page = pageSize();
    const std::size_t span = (frameSize + page - 1) / page * page + page;
    auto* region = static_cast<unsigned char*>(
        mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    if (region == MAP_FAILED)
        std::abort();
    mprotect(region + span - page, page, PROT_NONE);
    unsigned char* copy = region + span - page - frameSize;
    if (frameSize)
        std::memcpy(copy, frame, frameSize);

    static qc::FrameConverter converter;
    const qc::CameraResult<QImage> converted =
        converter.toRgb(format, width, height, bytesPerLine, copy, frameSize);
    const QImage image = converted.valueOr(QImage());
    if (converted && (image.width() != width || image.height() != height)) {
        std::fprintf(stderr, "converted to %dx%d instead of %dx%d\n", image.width(), image.height(),
                     width, height);
        std::abort();
    }
    if (!converted && converted.error().reason.isEmpty())
        std::abort();
    munmap(region, span);
    return 0;
}
