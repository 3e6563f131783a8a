// Cost per frame of the Windows camera's live preview: a 640 x 480 frame as the Media
// Foundation driver gets it (NV12 or MJPEG, made from the tests' portraits) taken from
// the buffer and turned into the 400 x 400 picture the preview window draws, against
// the floor no preview can beat on the same bytes: for NV12 the plain conversion of the
// whole frame to RGB (the arithmetic libv4lconvert uses, into a buffer made once), for
// MJPEG TurboJPEG's decode alone at the scale the preview decodes at. Ours and the
// floor run in alternating rounds, so a neighbour's load hits both alike; each line is
// the median of the rounds' ratios:
//
//   ratio mf_nv12_preview X
//   ratio mf_mjpeg_preview X
//
// A plain program (no Google Benchmark), so that it runs under Wine as well:
//   bench_mf_preview [SOURCE_DIR]   (default: $QUVELOCAP_SOURCE_DIR, else .)

#include "camera/FrameDecoder.h"
#include "camera/mf/MfFormats.h"
#include "camera/mf/MfFrameStore.h"

#include "camera/TestFrames.h"

#include <QGuiApplication>

#include <turbojpeg.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

const QSize PreviewArea(400, 400);

struct Frames
{
    std::vector<QByteArray> nv12;
    std::vector<QByteArray> mjpeg;
};

// 4:2:2 at quality 85, as USB webcams typically send it; TurboJPEG's encoder, so that
// the program needs nothing the station does not ship.
QByteArray mjpegFrame(const QImage& picture)
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    tjhandle encoder = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    tjCompress2(encoder, rgb.constBits(), rgb.width(), int(rgb.bytesPerLine()), rgb.height(),
                TJPF_RGB, &jpeg, &size, TJSAMP_422, 85, 0);
    QByteArray frame(reinterpret_cast<const char*>(jpeg), qsizetype(size));
    tjFree(jpeg);
    tjDestroy(encoder);
    return frame;
}

Frames cameraFrames(const QString& sourceDir)
{
    Frames frames;
    for (const char* name : {"portrait-astronaut.jpg", "portrait-hopper.jpg"}) {
        const QImage picture =
            cameraPortrait(sourceDir + QStringLiteral("/tests/data/") + QLatin1String(name));
        if (picture.isNull()) {
            std::fprintf(stderr, "bench: cannot read %s under %s\n", name, qPrintable(sourceDir));
            std::exit(1);
        }
        frames.nv12.push_back(toNv12(picture));
        frames.mjpeg.push_back(mjpegFrame(picture));
    }
    return frames;
}

const unsigned char* bytes(const QByteArray& data)
{
    return reinterpret_cast<const unsigned char*>(data.constData());
}

double secondsPer(const std::function<void(int)>& work, int iterations)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < iterations; ++i)
        work(i);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return took.count() / iterations;
}

// Median over alternating rounds of ours / floor.
double interleavedRatio(const std::function<void(int)>& ours, const std::function<void(int)>& floor)
{
    constexpr int Rounds = 41;
    constexpr int PerRound = 30;
    secondsPer(ours, PerRound); // warm caches and lazy tables
    secondsPer(floor, PerRound);
    std::vector<double> ratios;
    for (int r = 0; r < Rounds; ++r) {
        double a, b;
        if (r % 2) {
            a = secondsPer(ours, PerRound);
            b = secondsPer(floor, PerRound);
        } else {
            b = secondsPer(floor, PerRound);
            a = secondsPer(ours, PerRound);
        }
        ratios.push_back(a / b);
    }
    std::nth_element(ratios.begin(), ratios.begin() + Rounds / 2, ratios.end());
    return ratios[Rounds / 2];
}

volatile unsigned sink; // keeps the pictures' pixels from being optimised away

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv); // Qt's image plugins read the portraits
    const QString sourceDir =
        argc > 1 ? QString::fromLocal8Bit(argv[1])
                 : qEnvironmentVariable("QUVELOCAP_SOURCE_DIR", QStringLiteral("."));
    const Frames frames = cameraFrames(sourceDir);

    // NV12 in a buffer whose pitch is the line, as the driver locks it.
    qc::MfFrameStore nv12Store;
    nv12Store.setFormat(qc::mfFourcc('N', 'V', '1', '2'), QSize(640, 480));
    std::vector<unsigned char> rgb(640 * 480 * 3);
    const double nv12 = interleavedRatio(
        [&](int i) {
            const QByteArray& frame = frames.nv12[std::size_t(i) % frames.nv12.size()];
            nv12Store.put(bytes(frame), std::size_t(frame.size()), 640);
            sink = nv12Store.preview(PreviewArea).constBits()[1000];
        },
        [&](int i) {
            const QByteArray& frame = frames.nv12[std::size_t(i) % frames.nv12.size()];
            qc::FrameDecoder::nv12ToRgb24(bytes(frame), 640, 480, 640, rgb.data(), 640 * 3);
            sink = rgb[1000];
        });
    std::printf("ratio mf_nv12_preview %.3f\n", nv12);

    qc::MfFrameStore mjpegStore;
    mjpegStore.setFormat(qc::mfFourcc('M', 'J', 'P', 'G'), QSize(640, 480));
    tjhandle turbo = tjInitDecompress();
    // TurboJPEG asked for the preview's size decodes at the largest scale that fits
    // (1/2: 320 x 240), which is the scale the preview decodes at.
    std::vector<unsigned char> decoded(320 * 240 * 4);
    const double mjpeg = interleavedRatio(
        [&](int i) {
            const QByteArray& frame = frames.mjpeg[std::size_t(i) % frames.mjpeg.size()];
            mjpegStore.put(bytes(frame), std::size_t(frame.size()), 0);
            sink = mjpegStore.preview(PreviewArea).constBits()[1000];
        },
        [&](int i) {
            const QByteArray& frame = frames.mjpeg[std::size_t(i) % frames.mjpeg.size()];
            tjDecompress2(turbo, bytes(frame), static_cast<unsigned long>(frame.size()),
                          decoded.data(), 320, 320 * 4, 240, TJPF_BGRX, 0);
            sink = decoded[1000];
        });
    tjDestroy(turbo);
    std::printf("ratio mf_mjpeg_preview %.3f\n", mjpeg);
    return 0;
}
