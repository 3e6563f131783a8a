#include "framing/FrameQuality.h"

#include <vector>

namespace qc {

FrameQuality FrameQuality::measure(const QImage& image, const QRect& region)
{
    FrameQuality quality;
    const QRect area = region.isEmpty() ? image.rect() : (region & image.rect());
    if (area.width() < 3 || area.height() < 3)
        return quality;
    const QImage grey = image.copy(area).convertToFormat(QImage::Format_Grayscale8);
    const int w = grey.width();
    const int h = grey.height();

    double sum = 0;
    for (int y = 0; y < h; ++y) {
        const uchar* line = grey.constScanLine(y);
        for (int x = 0; x < w; ++x)
            sum += line[x];
    }
    quality.meanLuminance = sum / (double(w) * h);

    // 4-neighbour Laplacian over the inner pixels.
    double lsum = 0;
    double lsquares = 0;
    for (int y = 1; y < h - 1; ++y) {
        const uchar* up = grey.constScanLine(y - 1);
        const uchar* line = grey.constScanLine(y);
        const uchar* down = grey.constScanLine(y + 1);
        for (int x = 1; x < w - 1; ++x) {
            const double l = double(up[x]) + down[x] + line[x - 1] + line[x + 1] - 4.0 * line[x];
            lsum += l;
            lsquares += l * l;
        }
    }
    const double n = double(w - 2) * (h - 2);
    const double mean = lsum / n;
    quality.laplacianVariance = lsquares / n - mean * mean;
    return quality;
}

QString FrameQuality::hint() const
{
    if (meanLuminance < DarkBelow)
        return QStringLiteral("Imagem muito escura");
    if (meanLuminance > BrightAbove)
        return QStringLiteral("Imagem muito clara");
    if (laplacianVariance < BlurredBelow)
        return QStringLiteral("Imagem desfocada");
    return QString();
}

} // namespace qc
