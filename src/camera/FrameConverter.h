#pragma once

#include "camera/CameraResult.h"

#include <QImage>

#include <cstddef>
#include <cstdint>

struct v4l2_format;
struct v4lconvert_data;

namespace qc {

// Turns one frame in a camera's pixel format (YUYV, MJPEG, NV12, Bayer, ... whatever
// libv4lconvert knows) into an RGB image. Made either for an open device, so that
// libv4lconvert can apply the device's own quirks, or standalone for frames that come
// from elsewhere (tests, benchmarks).
class FrameConverter
{
public:
    // Frames wider or higher than this are refused (8K video is 7680 x 4320).
    static constexpr int MaxSide = 16384;

    FrameConverter();                // standalone
    explicit FrameConverter(int fd); // for an open V4L2 device
    ~FrameConverter();
    FrameConverter(const FrameConverter&) = delete;
    FrameConverter& operator=(const FrameConverter&) = delete;

    // Whether toRgb takes frames of this pixel format at all.
    static bool canConvert(std::uint32_t pixelFormat);
    // Whether an (M)JPEG frame reaches its end marker: a frame torn in transfer does not.
    static bool jpegLooksWhole(const unsigned char* data, std::size_t size);

    bool isValid() const { return m_data != nullptr; }
    v4lconvert_data* handle() const { return m_data; }

    // bytesPerLine 0 means tightly packed. The error says why a frame cannot be
    // converted (unknown format, truncated or corrupt frame).
    CameraResult<QImage> toRgb(std::uint32_t pixelFormat, int width, int height,
                               std::uint32_t bytesPerLine, const unsigned char* data,
                               std::size_t size);

private:
    CameraResult<QImage> convert(const v4l2_format& src, const unsigned char* data,
                                 std::size_t size);

    v4lconvert_data* m_data = nullptr;
};

} // namespace qc
