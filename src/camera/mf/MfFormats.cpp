#include "camera/mf/MfFormats.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <tuple>

namespace qc {

std::uint32_t pixelFormatOfMf(std::uint32_t fourcc)
{
    if (fourcc == mfFourcc('Y', 'U', 'Y', '2'))
        return V4L2_PIX_FMT_YUYV;
    if (fourcc == mfFourcc('N', 'V', '1', '2'))
        return V4L2_PIX_FMT_NV12;
    if (fourcc == mfFourcc('M', 'J', 'P', 'G'))
        return V4L2_PIX_FMT_MJPEG;
    return 0;
}

namespace {

// Smaller is better in every field, compared in order.
std::tuple<int, qint64, int, int> rank(const MfOffer& offer, QSize wanted)
{
    const int distance = std::abs(offer.size.width() - wanted.width()) +
                         std::abs(offer.size.height() - wanted.height());
    const qint64 area = qint64(offer.size.width()) * offer.size.height();
    // Tenths of a frame a second: 29.97 and 30 are the same rate to the operator.
    const int rate = int(std::lround(std::min(offer.framesPerSecond, 30.0) * 10));
    const std::uint32_t format = pixelFormatOfMf(offer.fourcc);
    const int cost = format == V4L2_PIX_FMT_NV12 ? 0 : format == V4L2_PIX_FMT_YUYV ? 1 : 2;
    return {distance, -area, -rate, cost};
}

} // namespace

int chooseMfOffer(const QList<MfOffer>& offers, QSize wanted)
{
    int best = -1;
    for (int i = 0; i < offers.size(); ++i) {
        const MfOffer& offer = offers[i];
        if (!pixelFormatOfMf(offer.fourcc) || offer.size.isEmpty())
            continue;
        if (best < 0 || rank(offer, wanted) < rank(offers[best], wanted))
            best = i;
    }
    return best;
}

QList<CameraDevice> orderMfCameras(QList<CameraDevice> found, int limit)
{
    found.removeIf([](const CameraDevice& d) { return d.id.isEmpty(); });
    for (CameraDevice& d : found)
        if (d.name.isEmpty())
            d.name = d.id;
    std::sort(found.begin(), found.end(), [](const CameraDevice& a, const CameraDevice& b) {
        const int byName = QString::localeAwareCompare(a.name, b.name);
        return byName != 0 ? byName < 0 : a.id < b.id;
    });
    return found.mid(0, std::max(0, limit));
}

} // namespace qc
