#pragma once

#include "framing/FaceGuide.h"

#include <QWidget>

namespace qc {

// Drawn over the live preview, which stretches the camera's frame to this widget's
// size: the crop of the verdict, mapped the same way, green when the face is well
// framed and amber otherwise, with the hint written along its foot. Lets the mouse
// through and paints nothing else, so the preview shows around and inside it.
class GuideOverlay : public QWidget
{
    Q_OBJECT

public:
    static QColor goodColour() { return QColor(0, 200, 70); }
    static QColor hintColour() { return QColor(255, 176, 0); }

    explicit GuideOverlay(QWidget* parent = nullptr);

    void setVerdict(const GuideVerdict& verdict);
    GuideVerdict verdict() const { return m_verdict; }
    // The verdict's crop in this widget's pixels (empty when none).
    QRect shownCrop() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    GuideVerdict m_verdict;
};

} // namespace qc
