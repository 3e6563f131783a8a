#pragma once

#include "camera/CameraResult.h"

#include <QImage>

#include <cstddef>
#include <cstdint>

namespace qc {

// Turns a whole camera frame of the formats webcams send everywhere (YUYV, UYVY, NV12,
// (M)JPEG) into an RGB picture, for a grab, where libv4lconvert is not there to do it
// (Windows). The picture is the one libv4lconvert gives for the same bytes: the same
// integer arithmetic for the YUV formats, TurboJPEG's decode for JPEG, so a frame
// grabbed on either platform is the same photo.
class FrameDecoder
{
public:
    FrameDecoder();
    ~FrameDecoder();
    FrameDecoder(const FrameDecoder&) = delete;
    FrameDecoder& operator=(const FrameDecoder&) = delete;

    // pixelFormat is a V4L2 code (V4L2_PIX_FMT_*).
    static bool handles(std::uint32_t pixelFormat);

    // In Format_RGB888; bytesPerLine 0 means tightly packed (for NV12, the line length
    // of both planes, the chroma plane right after the luma plane). The error says why
    // a frame cannot be turned into a picture (unknown format, short or broken frame).
    CameraResult<QImage> toRgb(std::uint32_t pixelFormat, int width, int height,
                               std::uint32_t bytesPerLine, const unsigned char* data,
                               std::size_t size);

    // The plain conversions behind toRgb, into lines of three bytes (R, G, B) at out,
    // outBytesPerLine apart. Sizes even, data whole: checked by toRgb, not here.
    static void nv12ToRgb24(const unsigned char* data, int width, int height,
                            std::size_t bytesPerLine, unsigned char* out,
                            std::size_t outBytesPerLine);
    static void yuyvToRgb24(const unsigned char* data, int width, int height,
                            std::size_t bytesPerLine, unsigned char* out,
                            std::size_t outBytesPerLine);

private:
    CameraResult<QImage> fromJpeg(const unsigned char* data, std::size_t size);

    void* m_jpeg = nullptr; // tjhandle
};

} // namespace qc
