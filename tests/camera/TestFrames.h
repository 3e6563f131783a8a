#pragma once

#include <QByteArray>
#include <QImage>
#include <QPainter>
#include <QString>

#include <algorithm>
#include <cmath>

// Mean absolute difference per colour channel (0-255) of two pictures of one size.
inline double meanAbsDifference(const QImage& a, const QImage& b)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * a.width() * a.height());
}

// A 640 x 480 picture with smooth gradients and a few flat patches, the kind of
// content a lossy camera format keeps well, so converted frames can be compared with it.
inline QImage referencePicture()
{
    QImage image(640, 480, QImage::Format_RGB888);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x * 255 / 639, y * 255 / 479, 255 - (x + y) * 255 / 1118));
    QPainter p(&image);
    p.fillRect(40, 40, 160, 120, QColor(200, 30, 40));
    p.fillRect(440, 300, 160, 120, QColor(30, 180, 60));
    return image;
}

// YUYV (4:2:2) as libv4lconvert reads it: full-range BT.601.
inline QByteArray toYuyv(const QImage& source)
{
    const QImage rgb = source.convertToFormat(QImage::Format_RGB888);
    QByteArray out;
    out.resize(rgb.width() * rgb.height() * 2);
    auto* d = reinterpret_cast<unsigned char*>(out.data());
    auto clamp = [](double v) {
        return static_cast<unsigned char>(std::clamp(v + 0.5, 0.0, 255.0));
    };
    for (int y = 0; y < rgb.height(); ++y) {
        for (int x = 0; x < rgb.width(); x += 2) {
            const QRgb a = rgb.pixel(x, y), b = rgb.pixel(x + 1, y);
            auto luma = [](QRgb c) {
                return 0.299 * qRed(c) + 0.587 * qGreen(c) + 0.114 * qBlue(c);
            };
            const double r = (qRed(a) + qRed(b)) / 2.0, g = (qGreen(a) + qGreen(b)) / 2.0,
                         bl = (qBlue(a) + qBlue(b)) / 2.0;
            const double yy = 0.299 * r + 0.587 * g + 0.114 * bl;
            *d++ = clamp(luma(a));
            *d++ = clamp(128 + 0.564 * (bl - yy));
            *d++ = clamp(luma(b));
            *d++ = clamp(128 + 0.713 * (r - yy));
        }
    }
    return out;
}

// NV12 (a luma plane, then interleaved U, V at half size both ways), full-range BT.601
// as webcams send it; width and height even.
inline QByteArray toNv12(const QImage& source)
{
    const QImage rgb = source.convertToFormat(QImage::Format_RGB888);
    const int w = rgb.width(), h = rgb.height();
    QByteArray out(w * h * 3 / 2, '\0');
    auto* luma = reinterpret_cast<unsigned char*>(out.data());
    unsigned char* chroma = luma + w * h;
    auto clamp = [](double v) {
        return static_cast<unsigned char>(std::clamp(v + 0.5, 0.0, 255.0));
    };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const QRgb c = rgb.pixel(x, y);
            luma[y * w + x] = clamp(0.299 * qRed(c) + 0.587 * qGreen(c) + 0.114 * qBlue(c));
        }
    for (int y = 0; y < h; y += 2)
        for (int x = 0; x < w; x += 2) {
            double r = 0, g = 0, b = 0;
            for (const QRgb c : {rgb.pixel(x, y), rgb.pixel(x + 1, y), rgb.pixel(x, y + 1),
                                 rgb.pixel(x + 1, y + 1)}) {
                r += qRed(c) / 4.0;
                g += qGreen(c) / 4.0;
                b += qBlue(c) / 4.0;
            }
            const double yy = 0.299 * r + 0.587 * g + 0.114 * b;
            chroma[(y / 2) * w + x] = clamp(128 + 0.564 * (b - yy));
            chroma[(y / 2) * w + x + 1] = clamp(128 + 0.713 * (r - yy));
        }
    return out;
}

// A 640 x 480 camera frame of a real portrait: the photograph scaled to the frame's
// height in the middle of a softly lit wall, with a sensor's noise over all of it, so
// that compressed frames are as large as a webcam's and every converter has real
// detail to get right. Null when the photograph cannot be read.
inline QImage cameraPortrait(const QString& path)
{
    const QImage photo(path);
    if (photo.isNull())
        return QImage();
    QImage frame(640, 480, QImage::Format_RGB888);
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x)
            frame.setPixel(x, y, qRgb(150 + x / 16, 160 + y / 24, 170 - x / 20));
    const QImage scaled = photo.scaledToHeight(480, Qt::SmoothTransformation);
    QPainter(&frame).drawImage((640 - scaled.width()) / 2, 0, scaled);
    quint32 seed = 2718;
    for (int y = 0; y < frame.height(); ++y) {
        uchar* line = frame.scanLine(y);
        for (int i = 0; i < frame.width() * 3; ++i) {
            seed = seed * 1664525u + 1013904223u;
            line[i] = uchar(std::clamp(int(line[i]) + int(seed >> 29) - 4, 0, 255));
        }
    }
    return frame;
}
