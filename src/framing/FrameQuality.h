#pragma once

#include <QImage>
#include <QRect>
#include <QString>

namespace qc {

// How usable a grabbed picture is for an ID photo: its mean luminance (0 to 255) and
// its sharpness as the variance of the Laplacian of its grey levels. Both are measured
// over the face when there is one, since a dark wall or a plain backdrop behind a well
// lit, sharp face is no fault.
struct FrameQuality
{
    static constexpr double DarkBelow = 60.0;
    static constexpr double BrightAbove = 200.0;
    static constexpr double BlurredBelow = 45.0;

    double meanLuminance = 0;
    double laplacianVariance = 0;

    // The whole image when region is empty; region is clipped to the image.
    static FrameQuality measure(const QImage& image, const QRect& region = {});

    // The hint for the operator, or the empty text when the picture is fine.
    QString hint() const;
};

} // namespace qc
