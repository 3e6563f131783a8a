// Cost of the ID framing per grab of a 640 x 480 frame, beside the grab itself. Runs the
// real capture window on a picture camera showing a real portrait, with the framing
// worker started as the program starts it. First the first grab of the session, right
// after the window shows: the time the UI thread spends in "&Capturar" (the model is
// still loading then). Then rounds that grab the frame ("&Capturar" without the framing),
// frame it on the worker and wait for the proposal (detection, landmarks, quality, crop,
// band and photo), run our detection alone, then dlib's detector alone on the same grey
// pixels, the floor no framing can go under. Then the live guide: the preview's frame
// rate with the guide on against off, in alternating spells of the same run, and the
// guide's latency from a frame handed over to its verdict drawn. Medians are printed.
//   bench_Framing [rounds]      (QUVELOCAP_SOURCE_DIR: the source tree, for the portrait)

#include "camera/CameraController.h"
#include "camera/CaptureWindow.h"
#include "camera/PictureFileDriver.h"
#include "camera/QtCaptureLibrary.h"
#include "framing/FaceDetector.h"
#include "framing/FaceFraming.h"
#include "framing/FramingWorker.h"
#include "framing/GuideOverlay.h"
#include "framing/LiveGuide.h"
#include "imaging/ImageControl.h"
#include "records/DemoDatabase.h"
#include "settings/QtSettingsStore.h"
#include "shell/FrmImageCapture.h"
#include "shell/QtDesktop.h"
#include "ui_frmImageCapture.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QEvent>
#include <QPainter>
#include <QTemporaryDir>

#include <dlib/image_processing/frontal_face_detector.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double ms(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

// Counts the paints of one widget.
class PaintCounter : public QObject
{
public:
    int paints = 0;
    std::function<void()> onPaint;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            ++paints;
            if (onPaint)
                onPaint();
        }
        return false;
    }
};

// Preview frames painted per second over a spell of spellMs, the guide on or off.
double previewFps(qc::FrmImageCapture& window, qc::QtCaptureLibrary& library, bool guide,
                  int spellMs)
{
    if (window.liveGuide().isOn() != guide)
        window.controls().mnuEnquadrar->trigger();
    window.cmdStart_Click();
    QWidget* preview = library.window(window.camera().JanelaPreview);
    PaintCounter counter;
    preview->installEventFilter(&counter);
    QElapsedTimer spell;
    spell.start();
    while (spell.elapsed() < spellMs)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    const double fps = counter.paints * 1000.0 / double(spell.elapsed());
    preview->removeEventFilter(&counter);
    window.cmdStop_Click();
    return fps;
}

void guideFigures(qc::FrmImageCapture& window, qc::QtCaptureLibrary& library, int rounds)
{
    // Latency: from a frame handed to the worker to its verdict on the screen: the overlay
    // painted with it, or, when it is the verdict already drawn, its arrival.
    std::vector<double> latencies;
    qint64 handedOver = 0;
    qc::GuideVerdict last;
    PaintCounter overlayPaints;
    overlayPaints.onPaint = [&] {
        if (handedOver) {
            latencies.push_back(double(qc::FrameAnalysis::nowNs() - handedOver) / 1e6);
            handedOver = 0;
        }
    };
    window.liveGuide().overlay()->installEventFilter(&overlayPaints);
    // QUVELOCAP_GUIDE_SCREENSHOT=file.png: the window as the first verdict shows it.
    QString screenshot = qEnvironmentVariable("QUVELOCAP_GUIDE_SCREENSHOT");
    const QMetaObject::Connection shown =
        QObject::connect(&window.liveGuide(), &qc::LiveGuide::verdictShown,
                         [&](const qc::GuideVerdict& verdict, qint64 at) {
                             if (verdict == last && verdict.frameSize == last.frameSize)
                                 latencies.push_back(double(qc::FrameAnalysis::nowNs() - at) / 1e6);
                             else
                                 handedOver = at;
                             last = verdict;
                             if (!screenshot.isEmpty()) {
                                 QApplication::processEvents();
                                 window.grab().save(screenshot);
                                 screenshot.clear();
                             }
                         });

    std::vector<double> on, off;
    const int spells = std::max(3, rounds / 5);
    for (int i = 0; i < spells; ++i) {
        off.push_back(previewFps(window, library, false, 2000));
        on.push_back(previewFps(window, library, true, 2000));
    }
    window.liveGuide().overlay()->removeEventFilter(&overlayPaints);
    QObject::disconnect(shown);
    std::printf("ratio preview_fps_guide_off %.2f\n", median(off));
    std::printf("ratio preview_fps_guide_on %.2f\n", median(on));
    std::printf("ratio guide_preview_fps %.3f\n", median(on) / median(off));
    if (!latencies.empty())
        std::printf("ratio guide_latency_ms %.1f\n", median(latencies));
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
#ifdef QUVELOCAP_BENCH_FACES_DIR
    // The station's face engine, as built beside it.
    if (!qEnvironmentVariableIsSet("QUVELOCAP_FACES_DIR"))
        qputenv("QUVELOCAP_FACES_DIR", QUVELOCAP_BENCH_FACES_DIR);
#endif
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;

    const QString source = qEnvironmentVariable("QUVELOCAP_SOURCE_DIR", QStringLiteral("."));
    const QImage portrait(source + QStringLiteral("/tests/data/portrait-hopper.jpg"));
    if (portrait.isNull()) {
        std::fprintf(stderr, "bench_Framing: set QUVELOCAP_SOURCE_DIR to the source tree\n");
        return 1;
    }
    QImage frame(640, 480, QImage::Format_RGB32);
    frame.fill(QColor(120, 125, 130));
    QPainter(&frame).drawImage(170, 64, portrait);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("frame.png"));
    frame.save(file);

    qc::QtDesktop desktop;
    qc::QtSettingsStore settings(dir.filePath(QStringLiteral("settings.conf")));
    // A real database, so that the start-up connects without asking for settings.
    const QString database = dir.filePath(QStringLiteral("demo.sqlite"));
    qc::DemoDatabase::ensure(database);
    settings.setValue(QStringLiteral("srv"), QStringLiteral("sqlite:") + database);
    qc::QtCaptureLibrary library;
    library.addDriverFirst(std::make_unique<qc::PictureFileDriver>(file));
    // As main() does: the worker and its model's load start before the window is made.
    QElapsedTimer timer;
    timer.start();
    qc::FramingWorker worker;
    worker.start();
    qc::StationServices services;
    services.desktop = &desktop;
    services.settings = &settings;
    services.capture = &library;
    services.appFolder = dir.path();
    services.framing = &worker;
    qc::FrmImageCapture window(services);
    window.Form_Load();
    window.show();
    QApplication::processEvents();

    // The first grab of the session, the model most likely still loading.
    window.cmdStart_Click();
    QApplication::processEvents();
    QElapsedTimer firstGrab;
    firstGrab.start();
    window.cmdSave_Click();
    const double firstGrabUi = ms(firstGrab);
    window.faceFraming().settle();
    while (!worker.isReady())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    const double loading = ms(timer);
    if (!window.faceFraming().proposal().isValid())
        std::fprintf(stderr, "bench_Framing: the first grab was not framed\n");

    qc::FaceDetector::shared(); // for our detection alone, loaded outside the timings
    dlib::frontal_face_detector floor = dlib::get_frontal_face_detector();
    dlib::array2d<unsigned char> grey;

    std::vector<double> grabs, framings, detections, floors;
    int proposed = 0;
    for (int i = 0; i < rounds; ++i) {
        window.camera().cmdStart_Click();
        QApplication::processEvents();
        timer.restart();
        window.camera().cmdSave_Click();
        grabs.push_back(ms(timer));

        timer.restart();
        window.faceFraming().afterGrab();
        window.faceFraming().settle();
        framings.push_back(ms(timer));
        proposed += window.faceFraming().proposal().isEmpty() ? 0 : 1;

        timer.restart();
        const QList<qc::Face> ours =
            qc::FaceDetector::shared().detect(window.controls().ImagXpress1->picture());
        detections.push_back(ms(timer));

        timer.restart();
        const QImage g =
            window.controls().ImagXpress1->picture().convertToFormat(QImage::Format_Grayscale8);
        grey.set_size(g.height(), g.width());
        for (int y = 0; y < g.height(); ++y)
            std::memcpy(&grey[y][0], g.constScanLine(y), std::size_t(g.width()));
        const auto faces = floor(grey);
        floors.push_back(ms(timer));
        if (faces.size() != 1)
            std::fprintf(stderr, "bench_Framing: dlib found %zu faces\n", faces.size());
    }
    if (proposed != rounds)
        std::fprintf(stderr, "bench_Framing: %d of %d grabs framed\n", proposed, rounds);

    const double grab = median(grabs);
    const double framing = median(framings);
    const double dlibOnly = median(floors);
    std::printf("# %d rounds of a %dx%d grab; landmarks %s\n", rounds, frame.width(),
                frame.height(), qc::FaceDetector::shared().hasLandmarks() ? "on" : "off");
    std::printf("ratio grab_ms %.2f\n", grab);
    std::printf("ratio framing_ms %.2f\n", framing);
    std::printf("ratio detect_with_landmarks_ms %.2f\n", median(detections));
    std::printf("ratio dlib_detect_only_ms %.2f\n", dlibOnly);
    std::printf("ratio framing_over_dlib_detect %.3f\n", framing / dlibOnly);
    std::printf("ratio framing_over_grab %.1f\n", framing / grab);
    std::printf("ratio model_load_ms %.0f\n", loading);
    std::printf("ratio first_grab_ui_ms %.2f\n", firstGrabUi);
    std::printf("ratio first_grab_ui_over_grab %.2f\n", firstGrabUi / grab);

    guideFigures(window, library, rounds);
    return 0;
}
