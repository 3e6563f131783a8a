#pragma once

#include <QImage>
#include <QSize>

#include <cstddef>
#include <cstdint>
#include <vector>

class QPainter;

namespace qc {

// The picture a capture window shows for a frame: stretched to the window's client
// area when scaling is on, else the frame as it is (drawn from the top-left corner).
// Always in the format the screen draws without converting (Format_RGB32), so that
// painting it is a plain copy.
QImage previewImage(const QImage& frame, QSize area, bool scale);

// Bilinear stretch of any image to size, in Format_RGB32.
QImage stretchToRgb32(const QImage& source, QSize size);

// Paints what a capture window shows: the picture from the top-left corner, black
// where it does not reach.
void paintPreview(QPainter& painter, QSize area, const QImage& shown);

// Turns camera frames straight into the preview picture in one pass, for the formats
// where that is cheaper than converting the whole frame first: YUYV, UYVY and NV12 are
// read in place, (M)JPEG is decoded by TurboJPEG at its own halved scale as long as the
// half is at least half the area, then stretched. Other formats are not taken
// (toPreview returns a null image).
class PreviewConverter
{
public:
    PreviewConverter();
    ~PreviewConverter();
    PreviewConverter(const PreviewConverter&) = delete;
    PreviewConverter& operator=(const PreviewConverter&) = delete;

    static bool handles(std::uint32_t pixelFormat);

    // The frame stretched to area in Format_RGB32; null when the format is not one of
    // those above or the data is damaged or short. bytesPerLine 0 means tightly packed.
    QImage toPreview(std::uint32_t pixelFormat, int width, int height, std::uint32_t bytesPerLine,
                     const unsigned char* data, std::size_t size, QSize area);

private:
    QImage fromJpeg(const unsigned char* data, std::size_t size, QSize area);
    // A picture of area's size that nobody else holds, to write the preview into.
    QImage& target(QSize area);

    void* m_jpeg = nullptr; // tjhandle
    QImage m_decoded;       // reused between frames
    QImage m_out[2];        // the preview pictures, taken in turn (see target())
    int m_next = 0;
};

} // namespace qc
