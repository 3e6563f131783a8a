// Cost of the ID framing per grab of a 640 x 480 frame, beside the grab itself. Runs the
// real capture window on a picture camera showing a real portrait: each round grabs the
// frame ("&Capturar" without the framing), frames it (detection, landmarks, quality, crop,
// band and photo), runs our detection alone, then dlib's detector alone on the same grey
// pixels, the floor no framing can go under. Rounds interleave them; medians are printed.
//   bench_Framing [rounds]      (QUVELOCAP_SOURCE_DIR: the source tree, for the portrait)

#include "camera/CameraController.h"
#include "camera/PictureFileDriver.h"
#include "camera/QtCaptureLibrary.h"
#include "framing/FaceDetector.h"
#include "framing/FaceFraming.h"
#include "imaging/ImageControl.h"
#include "records/DemoDatabase.h"
#include "settings/QtSettingsStore.h"
#include "shell/FrmImageCapture.h"
#include "shell/QtDesktop.h"
#include "ui_frmImageCapture.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPainter>
#include <QTemporaryDir>

#include <dlib/image_processing/frontal_face_detector.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
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

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
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
    qc::StationServices services;
    services.desktop = &desktop;
    services.settings = &settings;
    services.capture = &library;
    services.appFolder = dir.path();
    qc::FrmImageCapture window(services);
    window.Form_Load();
    window.show();
    QApplication::processEvents();

    // The detector and its landmark model load once, at the first grab of the session.
    QElapsedTimer timer;
    timer.start();
    qc::FaceDetector::shared();
    const double loading = ms(timer);

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
    return 0;
}
