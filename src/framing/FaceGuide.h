#pragma once

#include <QMetaType>
#include <QPointF>
#include <QRect>
#include <QSize>
#include <QString>
#include <QtGlobal>

namespace qc {

struct FrameAnalysis;

// What the live guide shows for one preview frame: the crop the framing would take and
// either "well framed" or the one thing the student should change first.
struct GuideVerdict
{
    QRect crop; // in frame pixels; empty when the framing would take none
    QSize frameSize;
    bool good = false;
    QString hint; // empty when good
    bool hasFace = false;
    QPointF faceCentre; // of the one face, for telling whether it keeps still
    double faceSize = 0;

    bool operator==(const GuideVerdict& other) const
    {
        return crop == other.crop && good == other.good && hint == other.hint;
    }
};

namespace FaceGuide {

// The frame shares the student's head should fill: nearer than the first the crop would
// have to leave the frame; farther than the second the photo has too few pixels.
inline constexpr double TooNear = 0.9;    // wanted crop height over the frame's height
inline constexpr double TooFar = 0.4;     // wanted crop height over the frame's height
inline constexpr double OffCentre = 0.12; // of the frame's width, from its middle
// Still: between two frames the face moved less than this share of its own size.
inline constexpr double StillShare = 0.06;

inline QString closerText()
{
    return QStringLiteral("Aproxime-se");
}
inline QString fartherText()
{
    return QStringLiteral("Afaste-se");
}
inline QString centreText()
{
    return QStringLiteral("Centralize o rosto");
}
inline QString noFaceText()
{
    return QStringLiteral("Nenhum rosto");
}
inline QString manyFacesText()
{
    return QStringLiteral("Mais de um rosto");
}
inline QString lookText()
{
    return QStringLiteral("Olhe para a câmera");
}
inline QString darkText()
{
    return QStringLiteral("Imagem muito escura");
}
inline QString brightText()
{
    return QStringLiteral("Imagem muito clara");
}

// In this order of precedence: the number of faces, the light, a face turned away, the
// distance, the place in the frame. Nothing for a picture no face was looked for in.
GuideVerdict judge(const FrameAnalysis& analysis);

// The same one face in both, moved and grown or shrunk by less than StillShare.
bool keepsStill(const GuideVerdict& before, const GuideVerdict& after);

} // namespace FaceGuide

// When to grab by itself: once the guide has stayed green, with the face still, for
// HoldMs; once per green spell, never while the guide is anything but green.
class AutoCapture
{
public:
    static constexpr qint64 HoldMs = 1000;

    // The next verdict, at nowMs; true when the grab is due now.
    bool offer(const GuideVerdict& verdict, qint64 nowMs);
    void reset() { *this = AutoCapture(); }

private:
    GuideVerdict m_last;
    qint64 m_stillSince = -1; // -1: not green, or not still since the last verdict
    bool m_fired = false;     // in this green spell
};

} // namespace qc

Q_DECLARE_METATYPE(qc::GuideVerdict)
