#pragma once

#include <QRect>
#include <QSize>

namespace qc {

struct Face;

// The crop of an ID photo around one face: 3:4 portrait, the head (chin to crown) about
// three quarters of the height, the eye line a little above the middle, the face centred
// across. Where the frame is too small for that the crop shrinks around the eyes rather
// than reach past the frame's edge: its pixels are always the camera's.
namespace IdFraming {

inline constexpr double HeadShare = 0.75;        // of the photo's height; 0.70 to 0.80 wanted
inline constexpr double EyeFromBottom = 0.58;    // share of the height under the eye line
inline constexpr double EyeFromBottomMin = 0.52; // the eye line may slide this far to stay
inline constexpr double EyeFromBottomMax = 0.68; // inside the frame (0.50 to 0.70 wanted)
inline constexpr int MinimumHeight = 32;
// At least this share of the room the head leaves stays above the crown and below the
// chin (the eye line alone leaves about 0.18 above the crown of an upright head).
inline constexpr double HeadMargin = 0.12;

// The crop in frame pixels, width:height exactly 3:4; empty when the face leaves no room
// for a crop of MinimumHeight.
QRect crop(const Face& face, const QSize& frame);

} // namespace IdFraming

} // namespace qc
