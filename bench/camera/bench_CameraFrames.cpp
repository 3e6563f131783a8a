// Cost per frame of the live preview: a 640 x 480 camera frame (MJPEG or YUYV) turned
// into RGB and stretched to the 400 x 400 preview window, next to libjpeg-turbo's decode
// of the same JPEG alone. Wall-clock time: Qt's smooth scaling spreads one image over
// its own pool threads, so CPU time of the calling thread would understate it.

#include "camera/FrameConverter.h"
#include "camera/PreviewImage.h"

#include "camera/JpegEncoder.h"
#include "camera/TestFrames.h"

#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <linux/videodev2.h>

#include <algorithm>
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

QImage convert(qc::FrameConverter& converter, quint32 format, const QByteArray& data)
{
    return converter.toRgb(format, 640, 480, 0,
                           reinterpret_cast<const unsigned char*>(data.constData()),
                           std::size_t(data.size()));
}

void MjpegToPreview(benchmark::State& state)
{
    qc::FrameConverter converter;
    for (auto _ : state) {
        QImage preview = qc::previewImage(convert(converter, V4L2_PIX_FMT_MJPEG, mjpegFrame()),
                                          PreviewArea, true);
        benchmark::DoNotOptimize(preview.constBits());
    }
    state.SetLabel(std::to_string(mjpegFrame().size()) + " byte JPEG");
}

void YuyvToPreview(benchmark::State& state)
{
    qc::FrameConverter converter;
    for (auto _ : state) {
        QImage preview =
            qc::previewImage(convert(converter, V4L2_PIX_FMT_YUYV, yuyvFrame()), PreviewArea, true);
        benchmark::DoNotOptimize(preview.constBits());
    }
}

void MjpegToRgbOnly(benchmark::State& state)
{
    qc::FrameConverter converter;
    for (auto _ : state) {
        QImage frame = convert(converter, V4L2_PIX_FMT_MJPEG, mjpegFrame());
        benchmark::DoNotOptimize(frame.constBits());
    }
}

void YuyvToRgbOnly(benchmark::State& state)
{
    qc::FrameConverter converter;
    for (auto _ : state) {
        QImage frame = convert(converter, V4L2_PIX_FMT_YUYV, yuyvFrame());
        benchmark::DoNotOptimize(frame.constBits());
    }
}

void ScaleToPreviewOnly(benchmark::State& state)
{
    const QImage frame = cameraPicture();
    for (auto _ : state) {
        QImage preview = qc::previewImage(frame, PreviewArea, true);
        benchmark::DoNotOptimize(preview.constBits());
    }
}

void LibjpegTurboDecodeOnly(benchmark::State& state)
{
    const QByteArray& jpeg = mjpegFrame();
    std::vector<unsigned char> rgb(640 * 480 * 3);
    for (auto _ : state) {
        jpeg_decompress_struct cinfo{};
        jpeg_error_mgr jerr{};
        cinfo.err = jpeg_std_error(&jerr);
        jpeg_create_decompress(&cinfo);
        jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(jpeg.constData()),
                     static_cast<unsigned long>(jpeg.size()));
        jpeg_read_header(&cinfo, TRUE);
        cinfo.out_color_space = JCS_RGB;
        jpeg_start_decompress(&cinfo);
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW row = rgb.data() + cinfo.output_scanline * 640 * 3;
            jpeg_read_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_decompress(&cinfo);
        jpeg_destroy_decompress(&cinfo);
        benchmark::DoNotOptimize(rgb.data());
    }
}

} // namespace

BENCHMARK(MjpegToPreview)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(YuyvToPreview)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(LibjpegTurboDecodeOnly)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(MjpegToRgbOnly)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(YuyvToRgbOnly)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ScaleToPreviewOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
