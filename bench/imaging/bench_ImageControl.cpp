// What the image control costs per repaint, per band move and per cut and save of a
// webcam frame. Runs offscreen unless a platform is chosen.

#include "imaging/ImageControl.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QWindow>

#include <benchmark/benchmark.h>

namespace {

QImage frame()
{
    QImage image(1280, 720, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x % 256, y % 256, (x ^ y) % 256));
    return image;
}

void showExposed(QWidget& widget)
{
    widget.show();
    while (!widget.windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QCoreApplication::processEvents();
}

// A full repaint of the viewport of a 400 × 400 control; zoom 0 stands for the fit to the window.
void BM_Repaint(benchmark::State& state)
{
    qc::ImageControl control;
    control.resize(400, 400);
    control.setPicture(frame());
    if (state.range(0) == 0)
        control.fitToWindow(qc::ImageControl::FitBestFit);
    else
        control.zoomTo(float(state.range(0)) / 100.0f);
    showExposed(control);
    for (auto _ : state)
        control.viewport()->repaint();
}
BENCHMARK(BM_Repaint)->Arg(100)->Arg(200)->Arg(50)->Arg(10)->Arg(0)->Unit(benchmark::kMicrosecond);

// Moving the band's corner repaints only its old and new edges (compare with BM_Repaint).
void BM_BandMove(benchmark::State& state)
{
    qc::ImageControl control;
    control.resize(400, 400);
    control.setPicture(frame());
    control.zoomTo(float(state.range(0)) / 100.0f);
    showExposed(control);
    control.selectionBand(true, 20, 20);
    control.viewport()->repaint();
    int step = 0;
    for (auto _ : state) {
        control.selectionBandTo(100 + step % 200, 100 + step % 150);
        ++step;
        // Paint the pending region now, as the event loop would.
        QCoreApplication::sendPostedEvents(&control, QEvent::UpdateRequest);
    }
}
BENCHMARK(BM_BandMove)->Arg(100)->Arg(200)->Unit(benchmark::kMicrosecond);

void BM_CutAndSaveJpeg(benchmark::State& state)
{
    QTemporaryDir folder;
    qc::ImageControl source;
    qc::ImageControl photo;
    source.setPicture(frame());
    source.selectionBand(true, 100, 50);
    source.selectionBandTo(580, 690);
    photo.setSaveName(folder.filePath("pictemp.jpg"));
    for (auto _ : state) {
        photo.setImageHandle(source.selectionImage());
        photo.saveImage();
    }
}
BENCHMARK(BM_CutAndSaveJpeg)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
