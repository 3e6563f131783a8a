#include "camera/PreviewImage.h"

#include "camera/FrameDecoder.h"

#include <QPainter>

#include <linux/videodev2.h>
#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qc {

namespace {

// Where each destination sample falls between two source samples: the lower one and
// the weight (0..256) of the one after it. Centres of samples are matched, as a
// bilinear stretch does.
struct Axis
{
    std::vector<int> first;
    std::vector<int> second;
    std::vector<std::uint16_t> weight;

    Axis(int source, int destination)
        : first(std::size_t(destination)), second(std::size_t(destination)),
          weight(std::size_t(destination))
    {
        const qint64 last = qint64(source - 1) * 256;
        for (int d = 0; d < destination; ++d) {
            qint64 pos = (qint64(2 * d + 1) * source * 256) / (2 * qint64(destination)) - 128;
            pos = std::clamp<qint64>(pos, 0, last);
            const int i = int(pos >> 8);
            first[std::size_t(d)] = i;
            second[std::size_t(d)] = std::min(i + 1, source - 1);
            weight[std::size_t(d)] = std::uint16_t(pos & 255);
        }
    }
};

// Two pixels of Format_RGB32 mixed by weight w (0..256) of b, two channels at a time.
inline quint32 mix(quint32 a, quint32 b, unsigned w)
{
    const unsigned v = 256 - w;
    const quint32 rb = (((a & 0xff00ffu) * v + (b & 0xff00ffu) * w) >> 8) & 0xff00ffu;
    const quint32 ag = (((a >> 8) & 0xff00ffu) * v + ((b >> 8) & 0xff00ffu) * w) & 0xff00ff00u;
    return rb | ag;
}

// One line stretched across: each pixel mixed from its two source pixels. With SSE2
// (every x86-64 processor) two pixels at a time, all channels at once, with exactly
// the arithmetic of mix().
void stretchAcross(const quint32* in, const Axis& across, quint32* line, int width)
{
    // Held in locals: the stores to line could otherwise alias the tables, which would
    // then be read again for every pixel.
    const int* first = across.first.data();
    const int* second = across.second.data();
    const std::uint16_t* weight = across.weight.data();
    int x = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i full = _mm_set1_epi16(256);
    for (; x + 2 <= width; x += 2) {
        const __m128i a =
            _mm_unpacklo_epi8(_mm_unpacklo_epi32(_mm_cvtsi32_si128(int(in[first[x]])),
                                                 _mm_cvtsi32_si128(int(in[first[x + 1]]))),
                              zero);
        const __m128i b =
            _mm_unpacklo_epi8(_mm_unpacklo_epi32(_mm_cvtsi32_si128(int(in[second[x]])),
                                                 _mm_cvtsi32_si128(int(in[second[x + 1]]))),
                              zero);
        // The two weights spread over their pixel's four channels in registers: built
        // through memory, the vector would wait on its stores every time.
        const __m128i pair = _mm_cvtsi32_si128(int(weight[x]) | int(weight[x + 1]) << 16);
        const __m128i twice = _mm_unpacklo_epi16(pair, pair);
        const __m128i w = _mm_unpacklo_epi32(twice, twice);
        // a * (256 - w) + b * w stays below 65536: exact in unsigned 16-bit lanes.
        const __m128i sum =
            _mm_add_epi16(_mm_mullo_epi16(a, _mm_sub_epi16(full, w)), _mm_mullo_epi16(b, w));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(line + x),
                         _mm_packus_epi16(_mm_srli_epi16(sum, 8), zero));
    }
#endif
    for (; x < width; ++x)
        line[x] = mix(in[first[x]], in[second[x]], weight[x]);
}

// Two lines of bytes mixed by weight w (0..256) of the second; written so that the
// compiler turns it into vector code.
void mixLines(const uchar* a, const uchar* b, unsigned w, uchar* out, std::size_t n)
{
    const unsigned v = 256 - w;
    for (std::size_t i = 0; i < n; ++i)
        out[i] = uchar((a[i] * v + b[i] * w) >> 8);
}

// Full-range BT.601 (what webcams send and what libv4lconvert and JPEG assume), in
// tables so that one pixel is a few additions.
struct YuvTables
{
    std::array<int, 256> rFromV, gFromU, gFromV, bFromU;
    std::array<uchar, 1024> clip; // indexed by value + 384

    YuvTables()
    {
        for (int i = 0; i < 256; ++i) {
            const int c = i - 128;
            rFromV[std::size_t(i)] = (359 * c + 128) >> 8; // 1.402
            gFromU[std::size_t(i)] = (88 * c + 128) >> 8;  // 0.344
            gFromV[std::size_t(i)] = (183 * c + 128) >> 8; // 0.714
            bFromU[std::size_t(i)] = (454 * c + 128) >> 8; // 1.772
        }
        for (int i = 0; i < 1024; ++i)
            clip[std::size_t(i)] = uchar(std::clamp(i - 384, 0, 255));
    }

    quint32 rgb(int y, int u, int v) const
    {
        const uchar* c = clip.data() + 384;
        return 0xff000000u | quint32(c[y + rFromV[std::size_t(v)]]) << 16 |
               quint32(c[y - gFromU[std::size_t(u)] - gFromV[std::size_t(v)]]) << 8 |
               quint32(c[y + bFromU[std::size_t(u)]]);
    }
};

const YuvTables& yuvTables()
{
    static const YuvTables tables;
    return tables;
}

// Packed 4:2:2 (two pixels in four bytes) to the preview: lines mixed first, where the
// bytes are contiguous, then each preview pixel takes its luma from two neighbours and
// the chroma of the pair it falls in.
void stretchPacked422(const uchar* data, int width, int height, std::size_t bytesPerLine,
                      int yOffset, int uOffset, int vOffset, QImage& out)
{
    const QSize area = out.size();
    const Axis across(width, area.width());
    const Axis down(height, area.height());
    const YuvTables& t = yuvTables();
    const std::size_t lineBytes = std::size_t(width) * 2;
    std::vector<uchar> mixed(lineBytes);
    for (int oy = 0; oy < area.height(); ++oy) {
        const std::size_t dy = std::size_t(oy);
        const uchar* line = data + std::size_t(down.first[dy]) * bytesPerLine;
        if (const unsigned w = down.weight[dy]) {
            mixLines(line, data + std::size_t(down.second[dy]) * bytesPerLine, w, mixed.data(),
                     lineBytes);
            line = mixed.data();
        }
        auto* dst = reinterpret_cast<quint32*>(out.scanLine(oy));
        for (int ox = 0; ox < area.width(); ++ox) {
            const std::size_t dx = std::size_t(ox);
            const int x0 = across.first[dx];
            const int x1 = across.second[dx];
            const unsigned w = across.weight[dx];
            const int y = (line[2 * x0 + yOffset] * (256 - w) + line[2 * x1 + yOffset] * w) >> 8;
            const uchar* pair = line + (x0 >> 1) * 4;
            dst[ox] = t.rgb(y, pair[uOffset], pair[vOffset]);
        }
    }
}

// NV12 (a luma plane, then one plane of interleaved U, V pairs at half size both ways)
// to the preview: luma mixed as above, chroma taken from the pair a pixel falls in.
void stretchNv12(const uchar* data, int width, int height, std::size_t bytesPerLine, QImage& out)
{
    const QSize area = out.size();
    const Axis across(width, area.width());
    const Axis down(height, area.height());
    const YuvTables& t = yuvTables();
    const uchar* chroma = data + bytesPerLine * std::size_t(height);
    std::vector<uchar> mixed(static_cast<std::size_t>(width));
    for (int oy = 0; oy < area.height(); ++oy) {
        const std::size_t dy = std::size_t(oy);
        const uchar* line = data + std::size_t(down.first[dy]) * bytesPerLine;
        if (const unsigned w = down.weight[dy]) {
            mixLines(line, data + std::size_t(down.second[dy]) * bytesPerLine, w, mixed.data(),
                     std::size_t(width));
            line = mixed.data();
        }
        const uchar* uv = chroma + std::size_t(down.first[dy] / 2) * bytesPerLine;
        auto* dst = reinterpret_cast<quint32*>(out.scanLine(oy));
        for (int ox = 0; ox < area.width(); ++ox) {
            const std::size_t dx = std::size_t(ox);
            const int x0 = across.first[dx];
            const unsigned w = across.weight[dx];
            const int y = (line[x0] * (256 - w) + line[across.second[dx]] * w) >> 8;
            const uchar* pair = uv + (x0 & ~1);
            dst[ox] = t.rgb(y, pair[0], pair[1]);
        }
    }
}

} // namespace

namespace {

// Bilinear stretch of src (Format_RGB32) over the whole of out (Format_RGB32).
void stretchInto(const QImage& src, QImage& out)
{
    const QSize size = out.size();
    const Axis across(src.width(), size.width());
    const Axis down(src.height(), size.height());
    // Each source line is stretched across once and kept while the lines below use it.
    std::array<std::vector<quint32>, 2> lines{std::vector<quint32>(std::size_t(size.width())),
                                              std::vector<quint32>(std::size_t(size.width()))};
    std::array<int, 2> held{-1, -1};
    // The source line sy stretched across; keep is a line that must stay held.
    auto across1 = [&](int sy, int keep) -> const quint32* {
        for (std::size_t k = 0; k < 2; ++k)
            if (held[k] == sy)
                return lines[k].data();
        const std::size_t k = held[0] == keep ? 1 : 0;
        held[k] = sy;
        quint32* line = lines[k].data();
        stretchAcross(reinterpret_cast<const quint32*>(src.constScanLine(sy)), across, line,
                      size.width());
        return line;
    };
    const std::size_t lineBytes = std::size_t(size.width()) * 4;
    for (int oy = 0; oy < size.height(); ++oy) {
        const std::size_t d = std::size_t(oy);
        const quint32* a = across1(down.first[d], -1);
        uchar* dst = out.scanLine(oy);
        if (const unsigned w = down.weight[d]) {
            const quint32* b = across1(down.second[d], down.first[d]);
            mixLines(reinterpret_cast<const uchar*>(a), reinterpret_cast<const uchar*>(b), w, dst,
                     lineBytes);
        } else {
            std::memcpy(dst, a, lineBytes);
        }
    }
}

} // namespace

QImage stretchToRgb32(const QImage& source, QSize size)
{
    if (source.isNull() || size.isEmpty())
        return QImage();
    const QImage src = source.format() == QImage::Format_RGB32
                           ? source
                           : source.convertToFormat(QImage::Format_RGB32);
    if (src.size() == size)
        return src;
    QImage out(size, QImage::Format_RGB32);
    if (!out.isNull())
        stretchInto(src, out);
    return out;
}

QImage previewImage(const QImage& frame, QSize area, bool scale)
{
    if (frame.isNull() || !scale || area.isEmpty())
        return frame.isNull() || frame.format() == QImage::Format_RGB32
                   ? frame
                   : frame.convertToFormat(QImage::Format_RGB32);
    return stretchToRgb32(frame, area);
}

void paintPreview(QPainter& painter, QSize area, const QImage& shown)
{
    const QRect all(QPoint(0, 0), area);
    const QRect picture =
        shown.isNull() ? QRect() : QRect(QPoint(0, 0), shown.deviceIndependentSize().toSize());
    // Only what the picture leaves uncovered is blacked out: painting the whole area
    // first would write every pixel twice.
    for (const QRect& r : QRegion(all).subtracted(QRegion(picture)))
        painter.fillRect(r, Qt::black);
    if (!picture.isNull())
        painter.drawImage(QPoint(0, 0), shown);
}

PreviewConverter::PreviewConverter() : m_jpeg(tjInitDecompress()) {}

PreviewConverter::~PreviewConverter()
{
    if (m_jpeg)
        tjDestroy(m_jpeg);
}

bool PreviewConverter::handles(std::uint32_t pixelFormat)
{
    // The preview and the whole-frame decoder read the same camera formats.
    return FrameDecoder::handles(pixelFormat);
}

QImage PreviewConverter::toPreview(std::uint32_t pixelFormat, int width, int height,
                                   std::uint32_t bytesPerLine, const unsigned char* data,
                                   std::size_t size, QSize area)
{
    if (!data || size == 0 || width <= 0 || height <= 0 || area.isEmpty() || width > 16384 ||
        height > 16384)
        return QImage();
    switch (pixelFormat) {
    case V4L2_PIX_FMT_YUYV:
    case V4L2_PIX_FMT_UYVY: {
        // Whole pairs only; a driver that delivered less than a frame is not read past.
        if (width % 2)
            return QImage();
        const std::size_t line = bytesPerLine ? bytesPerLine : std::size_t(width) * 2;
        if (line < std::size_t(width) * 2 || size < line * std::size_t(height - 1) + width * 2)
            return QImage();
        QImage& out = target(area);
        if (out.isNull())
            return QImage();
        if (pixelFormat == V4L2_PIX_FMT_YUYV)
            stretchPacked422(data, width, height, line, 0, 1, 3, out);
        else
            stretchPacked422(data, width, height, line, 1, 0, 2, out);
        return out;
    }
    case V4L2_PIX_FMT_NV12: {
        // Whole 2 x 2 blocks and both planes, as for the packed formats above.
        if (width % 2 || height % 2)
            return QImage();
        const std::size_t line = bytesPerLine ? bytesPerLine : std::size_t(width);
        if (line < std::size_t(width) || size < line * std::size_t(height) * 3 / 2)
            return QImage();
        QImage& out = target(area);
        if (out.isNull())
            return QImage();
        stretchNv12(data, width, height, line, out);
        return out;
    }
    case V4L2_PIX_FMT_MJPEG:
    case V4L2_PIX_FMT_JPEG:
        return fromJpeg(data, size, area);
    default:
        return QImage();
    }
}

QImage& PreviewConverter::target(QSize area)
{
    // The window holds the picture it shows until the next one replaces it, so of two
    // buffers one is always free: the preview writes into it instead of allocating a
    // picture for every frame (on Windows each such allocation is fresh pages).
    for (QImage& buffer : m_out)
        if (buffer.size() == area && buffer.isDetached())
            return buffer;
    QImage& buffer = m_out[m_next];
    m_next = 1 - m_next;
    buffer = QImage(area, QImage::Format_RGB32);
    return buffer;
}

QImage PreviewConverter::fromJpeg(const unsigned char* data, std::size_t size, QSize area)
{
    if (!m_jpeg)
        return QImage();
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(m_jpeg, data, static_cast<unsigned long>(size), &width, &height,
                            &subsampling, &colourspace) != 0 ||
        width <= 0 || height <= 0 || width > 16384 || height > 16384)
        return QImage();
    // TurboJPEG's halving costs less than decoding whole (a smaller inverse transform
    // of its own, in vector code); its other fractions cost more. A 640 x 480 frame is
    // decoded at 320 x 240 for the 400 x 400 preview: the stretch up then costs little,
    // where stretching the whole frame down would cost half a decode again. The grab
    // still decodes the whole frame. Halve while the half is at least half the area.
    int w = width, h = height;
    // TurboJPEG scales by 1/2, 1/4 and 1/8 at most.
    for (int halvings = 0; halvings < 3 && 2 * (w / 2) >= area.width() &&
                           2 * (h / 2) >= area.height() && w >= 16 && h >= 16;
         ++halvings) {
        w = (w + 1) / 2;
        h = (h + 1) / 2;
    }
    if (m_decoded.size() != QSize(w, h))
        m_decoded = QImage(w, h, QImage::Format_RGB32);
    if (m_decoded.isNull())
        return QImage();
    // Little-endian Format_RGB32 is B, G, R, X in memory. TurboJPEG takes a frame with
    // damaged data for what it could decode; the picture is then partly grey but a
    // preview shows it for a moment only, so only a frame it cannot read at all is lost.
    if (tjDecompress2(m_jpeg, data, static_cast<unsigned long>(size), m_decoded.bits(), w,
                      int(m_decoded.bytesPerLine()), h, TJPF_BGRX, 0) != 0 &&
        tjGetErrorCode(m_jpeg) == TJERR_FATAL)
        return QImage();
    if (m_decoded.size() == area)
        return m_decoded.copy();
    QImage& out = target(area);
    if (out.isNull())
        return QImage();
    stretchInto(m_decoded, out);
    return out;
}

} // namespace qc
