#include "framing/IdFraming.h"

#include "framing/FaceDetector.h"

#include <algorithm>
#include <cmath>

namespace qc {

QRect IdFraming::crop(const Face& face, const QSize& frame)
{
    const double cx = face.centreX();
    const double ey = face.eyeY();
    if (frame.isEmpty() || face.headHeight() <= 0 || cx <= 0 || cx >= frame.width() || ey <= 0 ||
        ey >= frame.height())
        return {};

    // The tallest crop that still holds the face centred and the eye line in its band.
    const double fromSide = std::min(cx, frame.width() - cx);
    const double tallest =
        std::min({double(frame.height()), fromSide * 2.0 * 4.0 / 3.0, ey / (1.0 - EyeFromBottomMax),
                  (frame.height() - ey) / EyeFromBottomMin});
    const double wanted = face.headHeight() / HeadShare;
    // Whole multiples of 4 by 3 keep the ratio exact.
    const int unit = int(std::floor(std::min(wanted, tallest) / 4.0));
    const int height = unit * 4;
    const int width = unit * 3;
    if (height < MinimumHeight)
        return {};

    const int left = std::clamp(int(std::lround(cx - width / 2.0)), 0, frame.width() - width);
    const double highest = std::max(0.0, ey - (1.0 - EyeFromBottomMin) * height);
    const double lowest =
        std::min(double(frame.height() - height), ey - (1.0 - EyeFromBottomMax) * height);
    double top = std::clamp(ey - (1.0 - EyeFromBottom) * height, highest, lowest);
    // The whole head inside, whatever the eye line wants (a bowed head's eyes sit low).
    const double spare = height - face.headHeight();
    if (spare >= 0) {
        const double lowestForCrown = face.crownY() - HeadMargin * spare;
        const double highestForChin = face.chinY() + HeadMargin * spare - height;
        top = std::clamp(top, std::min(highestForChin, lowestForCrown), lowestForCrown);
    }
    top = std::clamp(double(std::lround(top)), 0.0, double(frame.height() - height));
    return QRect(left, int(top), width, height);
}

} // namespace qc
