#include "camera/TestPatternDriver.h"

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QTime>

#include <algorithm>
#include <array>

namespace qc {

namespace {

constexpr int FrameIntervalMs = 33;
constexpr int BarCount = 8;
constexpr int BarShiftPerFrame = 6;

} // namespace

TestPatternDriver::TestPatternDriver(QObject* parent) : TimedFrameDriver(FrameIntervalMs, parent) {}

TestPatternDriver::~TestPatternDriver() = default;

QString TestPatternDriver::driverName()
{
    return QStringLiteral("QuveloCap Test Pattern");
}

QString TestPatternDriver::version() const
{
    return QStringLiteral("%1 x %2").arg(Width).arg(Height);
}

QImage TestPatternDriver::render(quint64 n) const
{
    static const std::array<QColor, BarCount> colours = {
        QColor(235, 235, 235), QColor(235, 235, 16), QColor(16, 235, 235), QColor(16, 235, 16),
        QColor(235, 16, 235),  QColor(235, 16, 16),  QColor(16, 16, 235),  QColor(16, 16, 16),
    };
    QImage image(Width, Height, QImage::Format_RGB32);
    QPainter p(&image);
    const int barWidth = Width / BarCount;
    const int shift = int((n * BarShiftPerFrame) % Width);
    for (int i = 0; i < BarCount; ++i) {
        const int x = i * barWidth - shift;
        p.fillRect(x, 0, barWidth, Height * 2 / 3, colours[i % BarCount]);
        p.fillRect(x + Width, 0, barWidth, Height * 2 / 3, colours[i % BarCount]);
    }
    // A grey ramp under the bars shows what brightness and contrast do.
    for (int x = 0; x < Width; ++x) {
        const int v = x * 255 / (Width - 1);
        p.fillRect(x, Height * 2 / 3, 1, Height / 3, QColor(v, v, v));
    }
    // A bar sweeping down makes motion visible even where fonts are missing.
    p.fillRect(0, int((n * 4) % (Height * 2 / 3)), Width, 6, Qt::black);

    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(40);
    p.setFont(font);
    const QRect label(0, Height * 2 / 3 - 60, Width, 56);
    p.fillRect(label, QColor(0, 0, 0, 160));
    p.setPen(Qt::white);
    p.drawText(label, Qt::AlignCenter,
               QStringLiteral("%1  #%2")
                   .arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")))
                   .arg(n));
    p.end();

    if (m_brightness != 128 || m_contrast != 128) {
        std::array<uchar, 256> lut;
        for (int v = 0; v < 256; ++v) {
            const int c = (v - 128) * m_contrast / 128 + 128 + (m_brightness - 128) * 2;
            lut[v] = uchar(std::clamp(c, 0, 255));
        }
        for (int y = 0; y < Height; ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < Width; ++x) {
                const QRgb px = line[x];
                line[x] = qRgb(lut[qRed(px)], lut[qGreen(px)], lut[qBlue(px)]);
            }
        }
    }
    return image;
}

QList<CaptureControl> TestPatternDriver::controls() const
{
    CaptureControl brightness;
    brightness.id = BrightnessId;
    brightness.type = CaptureControl::Type::Integer;
    brightness.name = QStringLiteral("Brightness");
    brightness.minimum = 0;
    brightness.maximum = 255;
    brightness.step = 1;
    brightness.defaultValue = 128;
    brightness.value = m_brightness;

    CaptureControl contrast = brightness;
    contrast.id = ContrastId;
    contrast.name = QStringLiteral("Contrast");
    contrast.value = m_contrast;
    return {brightness, contrast};
}

bool TestPatternDriver::setControl(quint32 id, int value)
{
    // Like most webcams, out-of-range values are clamped rather than refused.
    value = std::clamp(value, 0, 255);
    if (id == BrightnessId)
        m_brightness = value;
    else if (id == ContrastId)
        m_contrast = value;
    else
        return false;
    return true;
}

int TestPatternDriver::controlValue(quint32 id) const
{
    if (id == BrightnessId)
        return m_brightness;
    if (id == ContrastId)
        return m_contrast;
    return 0;
}

} // namespace qc
