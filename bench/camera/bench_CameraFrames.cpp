// Cost per frame of the live preview: a 640 x 480 camera frame (MJPEG or YUYV) turned
// into what the 400 x 400 preview window draws, next to the floor that no preview can
// beat: TurboJPEG's decode alone of the same JPEG, libv4lconvert's conversion alone of
// the same YUYV frame. Ours and the floor run in alternating rounds of one run, so a
// neighbour's load hits both alike; each `ratio` line is the median of the rounds'
// ratios. Wall-clock time: Qt's smooth scaling spreads one image over its own pool
// threads, so CPU time of the calling thread would understate it.
//
// The Google Benchmark figures that follow the ratios break the cost down.

#include "camera/FrameConverter.h"
#include "camera/PreviewImage.h"

#include "camera/JpegEncoder.h"
#include "camera/TestFrames.h"

#include <benchmark/benchmark.h>
#include <libv4lconvert.h>
#include <linux/videodev2.h>
#include <turbojpeg.h>

#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

const QSize PreviewArea(400, 400);

// The reference picture with some sensor-like noise, so the JPEG is as large as a
// webcam's and the decoder does a webcam's amount of work.
const QImage& cameraPicture()
{
    static const QImage picture = [] {
        QImage image = referencePicture();
        quint32 seed = 12345;
        for (int y = 0; y < image.height(); ++y) {
            uchar* line = image.scanLine(y);
            for (int i = 0; i < image.width() * 3; ++i) {
                seed = seed * 1664525u + 1013904223u;
                line[i] = uchar(std::clamp(int(line[i]) + int(seed >> 28) - 8, 0, 255));
            }
        }
        return image;
    }();
    return picture;
}

const QByteArray& mjpegFrame()
{
    // 4:2:2 at quality 85, as USB webcams typically send it.
    static const QByteArray frame = encodeMjpegFrame(cameraPicture(), 85, 2, 1, true);
    return frame;
}

const QByteArray& yuyvFrame()
{
    static const QByteArray frame = toYuyv(cameraPicture());
    return frame;
}

const unsigned char* bytes(const QByteArray& data)
{
    return reinterpret_cast<const unsigned char*>(data.constData());
}

// The window's surface: the backing store the preview window paints into.
QImage& screen()
{
    static QImage surface(PreviewArea, QImage::Format_RGB32);
    return surface;
}

// What the station does for one frame: from the camera's bytes to the pixels painted
// into the preview window.
// (what the driver and the capture window do for MJPEG and YUYV frames).
void oursToScreen(qc::PreviewConverter& converter, quint32 format, const QByteArray& data)
{
    const QImage shown = converter.toPreview(format, 640, 480, 0, bytes(data),
                                             std::size_t(data.size()), PreviewArea);
    QPainter painter(&screen());
    qc::paintPreview(painter, PreviewArea, shown);
}

// TurboJPEG decoding the whole frame to RGB, nothing else.
struct TurboDecode
{
    tjhandle handle = tjInitDecompress();
    std::vector<unsigned char> rgb = std::vector<unsigned char>(640 * 480 * 3);
    ~TurboDecode() { tjDestroy(handle); }
    void operator()(const QByteArray& jpeg)
    {
        tjDecompress2(handle, bytes(jpeg), static_cast<unsigned long>(jpeg.size()), rgb.data(), 640,
                      0, 480, TJPF_RGB, 0);
        benchmark::DoNotOptimize(rgb.data());
    }
};

// libv4lconvert converting the whole YUYV frame to RGB, nothing else.
struct V4lconvertYuyv
{
    qc::FrameConverter converter; // only for its libv4lconvert handle
    std::vector<unsigned char> rgb = std::vector<unsigned char>(640 * 480 * 3);
    void operator()(const QByteArray& yuyv)
    {
        v4l2_format src{};
        src.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        src.fmt.pix.width = 640;
        src.fmt.pix.height = 480;
        src.fmt.pix.pixelformat = V4L2_PIX_FMT_YUYV;
        src.fmt.pix.field = V4L2_FIELD_NONE;
        src.fmt.pix.bytesperline = 640 * 2;
        src.fmt.pix.sizeimage = std::uint32_t(yuyv.size());
        v4l2_format dst = src;
        dst.fmt.pix.pixelformat = V4L2_PIX_FMT_RGB24;
        dst.fmt.pix.bytesperline = 640 * 3;
        dst.fmt.pix.sizeimage = 640 * 480 * 3;
        v4lconvert_convert(converter.handle(), &src, &dst, const_cast<unsigned char*>(bytes(yuyv)),
                           int(yuyv.size()), rgb.data(), int(rgb.size()));
        benchmark::DoNotOptimize(rgb.data());
    }
};

double secondsPer(const std::function<void()>& work, int iterations)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < iterations; ++i)
        work();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return took.count() / iterations;
}

// Median over alternating rounds of ours / floor.
double interleavedRatio(const std::function<void()>& ours, const std::function<void()>& floor)
{
    constexpr int Rounds = 41;
    constexpr int PerRound = 25;
    secondsPer(ours, PerRound); // warm caches, pool threads and lazy tables
    secondsPer(floor, PerRound);
    std::vector<double> ratios;
    for (int r = 0; r < Rounds; ++r) {
        // Swap the order every round so neither side always follows the other.
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

void printRatios()
{
    qc::PreviewConverter converter;
    TurboDecode turbo;
    V4lconvertYuyv v4lconvert;
    const double mjpeg =
        interleavedRatio([&] { oursToScreen(converter, V4L2_PIX_FMT_MJPEG, mjpegFrame()); },
                         [&] { turbo(mjpegFrame()); });
    std::printf("ratio preview_mjpeg %.3f\n", mjpeg);
    const double yuyv =
        interleavedRatio([&] { oursToScreen(converter, V4L2_PIX_FMT_YUYV, yuyvFrame()); },
                         [&] { v4lconvert(yuyvFrame()); });
    std::printf("ratio preview_yuyv %.3f\n", yuyv);
    std::fflush(stdout);
}

void MjpegToScreen(benchmark::State& state)
{
    qc::PreviewConverter converter;
    for (auto _ : state)
        oursToScreen(converter, V4L2_PIX_FMT_MJPEG, mjpegFrame());
    state.SetLabel(std::to_string(mjpegFrame().size()) + " byte JPEG");
}

void YuyvToScreen(benchmark::State& state)
{
    qc::PreviewConverter converter;
    for (auto _ : state)
        oursToScreen(converter, V4L2_PIX_FMT_YUYV, yuyvFrame());
}

void TurboJpegDecodeOnly(benchmark::State& state)
{
    TurboDecode turbo;
    for (auto _ : state)
        turbo(mjpegFrame());
}

void V4lconvertYuyvOnly(benchmark::State& state)
{
    V4lconvertYuyv v4lconvert;
    for (auto _ : state)
        v4lconvert(yuyvFrame());
}

void MjpegToRgbFullSize(benchmark::State& state)
{
    qc::FrameConverter converter;
    for (auto _ : state) {
        const qc::CameraResult<QImage> frame = converter.toRgb(
            V4L2_PIX_FMT_MJPEG, 640, 480, 0, bytes(mjpegFrame()), std::size_t(mjpegFrame().size()));
        benchmark::DoNotOptimize(frame->constBits());
    }
}

} // namespace

BENCHMARK(MjpegToScreen)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(TurboJpegDecodeOnly)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(YuyvToScreen)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(V4lconvertYuyvOnly)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(MjpegToRgbFullSize)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
    printRatios();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
