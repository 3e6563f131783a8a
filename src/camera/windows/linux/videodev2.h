// The pixel format codes of the frames the preview converts, as V4L2 numbers them.
// The picture-file driver and the test pattern use the same codes on Windows, where
// the kernel's header does not exist.
#pragma once

#include <cstdint>

#define v4l2_fourcc(a, b, c, d)                                                                    \
    (std::uint32_t(a) | (std::uint32_t(b) << 8) | (std::uint32_t(c) << 16) |                       \
     (std::uint32_t(d) << 24))
#define V4L2_PIX_FMT_YUYV v4l2_fourcc('Y', 'U', 'Y', 'V')
#define V4L2_PIX_FMT_UYVY v4l2_fourcc('U', 'Y', 'V', 'Y')
#define V4L2_PIX_FMT_NV12 v4l2_fourcc('N', 'V', '1', '2')
#define V4L2_PIX_FMT_MJPEG v4l2_fourcc('M', 'J', 'P', 'G')
#define V4L2_PIX_FMT_JPEG v4l2_fourcc('J', 'P', 'E', 'G')
#define V4L2_PIX_FMT_RGB24 v4l2_fourcc('R', 'G', 'B', '3')
#define V4L2_PIX_FMT_BGR24 v4l2_fourcc('B', 'G', 'R', '3')
