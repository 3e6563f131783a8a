#pragma once

#include "camera/TimedFrameDriver.h"

namespace qc {

// The built-in camera of the demo and the tests: 640 x 480 frames of moving colour
// bars with a running clock and frame number, so every grab is visibly a new frame.
// Brightness and contrast work like a webcam's.
class TestPatternDriver : public TimedFrameDriver
{
    Q_OBJECT

public:
    static constexpr quint32 BrightnessId = 1;
    static constexpr quint32 ContrastId = 2;
    static constexpr int Width = 640;
    static constexpr int Height = 480;

    explicit TestPatternDriver(QObject* parent = nullptr);
    ~TestPatternDriver() override;

    static QString driverName();

    QString name() const override { return driverName(); }
    QString version() const override;

    QList<CaptureControl> controls() const override;
    bool setControl(quint32 id, int value) override;
    int controlValue(quint32 id) const override;

    // Draws the picture of frame number n at the current control values.
    QImage render(quint64 n) const;

protected:
    QImage nextPicture() override { return render(frameCount()); }

private:
    int m_brightness = 128;
    int m_contrast = 128;
};

} // namespace qc
