#pragma once

#include "camera/CameraDevices.h"

#include <QList>
#include <QSize>

#include <cstdint>

namespace qc {

// One format a Media Foundation camera offers: its subtype's four-character code (the
// first field of an MFVideoFormat_* GUID), frame size and frame rate.
struct MfOffer
{
    std::uint32_t fourcc = 0;
    QSize size;
    double framesPerSecond = 0;
};

// The four-character code as Windows writes it, from four letters.
constexpr std::uint32_t mfFourcc(char a, char b, char c, char d)
{
    return std::uint32_t(std::uint8_t(a)) | std::uint32_t(std::uint8_t(b)) << 8 |
           std::uint32_t(std::uint8_t(c)) << 16 | std::uint32_t(std::uint8_t(d)) << 24;
}

// The V4L2 code the station's conversions take for a Media Foundation subtype it reads
// (YUY2, NV12, MJPG); 0 for any other.
std::uint32_t pixelFormatOfMf(std::uint32_t fourcc);

// Which offer the station streams: one it reads at exactly the wanted size when there
// is one, else the one of the nearest size (the smallest difference of width and of
// height together; at equal distance the larger, which loses no detail). Among offers
// of that size the faster frame rate (up to 30 a second) wins, then NV12 before YUY2
// before MJPG (no decoding at all, then the cheaper decoding). -1 when the station
// reads none of them.
int chooseMfOffer(const QList<MfOffer>& offers, QSize wanted = QSize(640, 480));

// The capture sources as the device list shows them: by name, then by link, so that
// the order does not follow the order Windows happens to find them in (which changes
// as cameras are plugged in and out); sources without a link are left out, one without
// a name is listed by its link, and at most limit are kept.
QList<CameraDevice> orderMfCameras(QList<CameraDevice> found, int limit);

} // namespace qc
