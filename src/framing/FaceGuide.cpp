#include "framing/FaceGuide.h"

#include "framing/FramingWorker.h"
#include "framing/IdFraming.h"

#include <QLineF>

#include <cmath>

namespace qc {

namespace {

// Too dark or too bright to judge a face by, or the empty text.
QString lightHint(const FrameQuality& quality)
{
    if (quality.meanLuminance < FrameQuality::DarkBelow)
        return FaceGuide::darkText();
    if (quality.meanLuminance > FrameQuality::BrightAbove)
        return FaceGuide::brightText();
    return QString();
}

QString oneFaceHint(const Face& face, const QRect& crop, const FrameAnalysis& analysis)
{
    if (const QString light = lightHint(analysis.quality); !light.isEmpty())
        return light;
    if (!face.isFrontal())
        return FaceGuide::lookText();
    const QSize frame = analysis.frameSize;
    const double wanted = face.headHeight() / IdFraming::HeadShare;
    if (wanted > FaceGuide::TooNear * frame.height())
        return FaceGuide::fartherText();
    if (wanted < FaceGuide::TooFar * frame.height())
        return FaceGuide::closerText();
    // A crop that had to shrink (or could not be made) means an edge of the frame is
    // in the way: the student is off to a side, or too high or low.
    const bool shrunk = crop.isEmpty() || crop.height() + 4 < int(std::floor(wanted / 4.0)) * 4;
    if (shrunk ||
        std::abs(face.centreX() - frame.width() / 2.0) > FaceGuide::OffCentre * frame.width())
        return FaceGuide::centreText();
    return QString();
}

} // namespace

GuideVerdict FaceGuide::judge(const FrameAnalysis& analysis)
{
    // Without the face engine there is nothing to guide by: no crop and no hint, rather
    // than "Nenhum rosto" in front of a face.
    if (!analysis.searched)
        return GuideVerdict();
    GuideVerdict verdict;
    verdict.frameSize = analysis.frameSize;
    if (analysis.faces.isEmpty()) {
        const QString light = lightHint(analysis.quality);
        verdict.hint = light.isEmpty() ? noFaceText() : light;
        return verdict;
    }
    if (analysis.faces.size() > 1) {
        verdict.hint = manyFacesText();
        return verdict;
    }
    const Face& face = analysis.faces.first();
    verdict.hasFace = true;
    verdict.faceCentre = QPointF(face.centreX(), face.eyeY());
    verdict.faceSize = face.headHeight();
    verdict.crop = IdFraming::crop(face, analysis.frameSize);
    verdict.hint = oneFaceHint(face, verdict.crop, analysis);
    verdict.good = verdict.hint.isEmpty();
    return verdict;
}

bool FaceGuide::keepsStill(const GuideVerdict& before, const GuideVerdict& after)
{
    if (!before.hasFace || !after.hasFace || before.faceSize <= 0)
        return false;
    const double limit = StillShare * before.faceSize;
    return QLineF(before.faceCentre, after.faceCentre).length() <= limit &&
           std::abs(after.faceSize - before.faceSize) <= limit;
}

bool AutoCapture::offer(const GuideVerdict& verdict, qint64 nowMs)
{
    if (!verdict.good) {
        reset();
        return false;
    }
    if (m_stillSince < 0 || !FaceGuide::keepsStill(m_last, verdict))
        m_stillSince = nowMs;
    m_last = verdict;
    if (m_fired || nowMs - m_stillSince < HoldMs)
        return false;
    m_fired = true;
    return true;
}

} // namespace qc
