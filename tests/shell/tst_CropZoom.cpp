// Crop, zoom and JPEG export on the real capture window and image controls.

#include "common/RecordingDesktop.h"
#include "imaging/CropZoom.h"
#include "imaging/ImageControl.h"
#include "shell/FrmImageCapture.h"
#include "ui_frmImageCapture.h"

#include <QComboBox>
#include <QDialog>
#include <QImageReader>
#include <QTemporaryDir>
#include <QtTest>

using qc::FrmImageCapture;
using qc::ImageControl;

namespace {

// A frame in which every pixel differs from its neighbours, so any shift of a crop by
// one pixel shows.
QImage makeFrame(int width = 640, int height = 480)
{
    QImage frame(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            frame.setPixel(x, y, qRgb(x % 256, y % 256, ((x / 256) * 50 + (y / 256) * 100) % 256));
    return frame;
}

QImage rgb32(const QImage& image)
{
    return image.convertToFormat(QImage::Format_RGB32);
}

} // namespace

class TestCropZoom : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<RecordingDesktop> m_desktop;
    std::unique_ptr<FrmImageCapture> m_window;
    QImage m_frame;

    // The window as after a grab: the frame in ImagXpress1, shown in place of the preview.
    FrmImageCapture& windowWithFrame()
    {
        m_desktop = std::make_unique<RecordingDesktop>();
        qc::StationServices services;
        services.desktop = m_desktop.get();
        services.appFolder = QDir::tempPath();
        m_window = std::make_unique<FrmImageCapture>(services);
        m_window->Form_Load();
        if (m_window->settingsDialog())
            m_window->settingsDialog()->close();
        m_window->show();
        if (!QTest::qWaitForWindowExposed(m_window.get()))
            qFatal("window not exposed");
        m_frame = makeFrame();
        m_window->controls().ImagXpress1->setPicture(m_frame);
        m_window->controls().picCapture->hide();
        m_window->controls().ImagXpress1->show();
        // Keep single clicks quick to confirm; double-clicks still fit in the interval.
        m_window->controls().ImagXpress1->setClickHoldInterval(150);
        m_desktop->clear();
        return *m_window;
    }

    QWidget* frameViewport() const { return m_window->controls().ImagXpress1->viewport(); }

    // A double-click as the platform delivers it: press, release, press, release, with
    // Qt making the second press a double-click.
    void doubleClick(QPoint at)
    {
        const QPoint inWindow = frameViewport()->mapTo(m_window.get(), at);
        QTest::mouseMove(m_window->windowHandle(), inWindow);
        QTest::mouseDClick(m_window->windowHandle(), Qt::LeftButton, {}, inWindow);
    }

    void drag(Qt::MouseButton button, QPoint from, QPoint to)
    {
        QWidget* vp = frameViewport();
        QTest::mousePress(vp, button, {}, from);
        QTest::mouseMove(vp, (from + to) / 2);
        QTest::mouseMove(vp, to);
        QTest::mouseRelease(vp, button, {}, to);
    }

private slots:
    void cleanup()
    {
        m_window.reset();
        m_desktop.reset();
    }

    void dragCropsTheRegionUnderTheBand_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<QPoint>("from");
        QTest::addColumn<QPoint>("to");
        QTest::addColumn<QRect>("region");
        QTest::newRow("left, upper left to lower right")
            << int(Qt::LeftButton) << QPoint(100, 50) << QPoint(300, 200)
            << QRect(100, 50, 200, 150);
        QTest::newRow("left, lower right to upper left")
            << int(Qt::LeftButton) << QPoint(300, 200) << QPoint(100, 50)
            << QRect(100, 50, 200, 150);
        QTest::newRow("right button") << int(Qt::RightButton) << QPoint(10, 20) << QPoint(391, 321)
                                      << QRect(10, 20, 381, 301);
        QTest::newRow("past the frame's edge is clipped")
            << int(Qt::LeftButton) << QPoint(350, 400) << QPoint(399, 499)
            << QRect(350, 400, 49, 80);
    }

    void dragCropsTheRegionUnderTheBand()
    {
        QFETCH(int, button);
        QFETCH(QPoint, from);
        QFETCH(QPoint, to);
        QFETCH(QRect, region);
        FrmImageCapture& window = windowWithFrame();
        // The last row reaches below the frame: 480 rows shown in a 500-pixel control.
        drag(Qt::MouseButton(button), from, to);
        QTRY_VERIFY(window.controls().ImagXpress2->hasImage());
        QCOMPARE(rgb32(window.controls().ImagXpress2->picture()), m_frame.copy(region));
        QVERIFY(!window.cropZoom().Arrastando);
        QVERIFY(m_desktop->boxes.isEmpty());
        // The frame itself is untouched and keeps the band.
        QCOMPARE(rgb32(window.controls().ImagXpress1->picture()), m_frame);
        QVERIFY(window.controls().ImagXpress1->hasSelectionBand());
    }

    void secondDragCutsFromTheWholeFrame()
    {
        FrmImageCapture& window = windowWithFrame();
        drag(Qt::LeftButton, QPoint(10, 10), QPoint(60, 60));
        QTRY_VERIFY(window.controls().ImagXpress2->hasImage());
        drag(Qt::LeftButton, QPoint(200, 100), QPoint(390, 400));
        QTRY_COMPARE(window.controls().ImagXpress2->picture().size(), QSize(190, 300));
        QCOMPARE(rgb32(window.controls().ImagXpress2->picture()), m_frame.copy(200, 100, 190, 300));
    }

    void zeroSizeBandReportsAndKeepsThePhoto()
    {
        FrmImageCapture& window = windowWithFrame();
        const QImage before = makeFrame(50, 40);
        window.controls().ImagXpress2->setPicture(before);
        QTest::mouseClick(frameViewport(), Qt::LeftButton, {}, QPoint(120, 80));
        QTRY_COMPARE(m_desktop->boxes.size(), 1);
        const RecordingDesktop::Box box = m_desktop->boxes.first();
        QVERIFY2(box.text.startsWith(QStringLiteral("Erro: ")) && box.text.size() > 6,
                 qPrintable(box.text));
        QCOMPARE(box.icon, qc::Desktop::Icon::None);
        QCOMPARE(box.title, QStringLiteral("QuveloCap"));
        QCOMPARE(rgb32(window.controls().ImagXpress2->picture()), before);
        QVERIFY(!window.cropZoom().Arrastando);
    }

    void doubleClickConfirmsTheWholeFrame()
    {
        FrmImageCapture& window = windowWithFrame();
        // A crop first, so that the double-click visibly replaces it.
        drag(Qt::LeftButton, QPoint(10, 10), QPoint(60, 60));
        QTRY_VERIFY(window.controls().ImagXpress2->hasImage());
        doubleClick(QPoint(200, 200));
        QTRY_COMPARE(window.controls().ImagXpress2->picture().size(), m_frame.size());
        // Nothing that arrives after the double-click may undo it or raise a box.
        QTRY_VERIFY(!window.controls().ImagXpress1->isHoldingClick());
        QCOMPARE(rgb32(window.controls().ImagXpress2->picture()), m_frame);
        QVERIFY2(m_desktop->calls.isEmpty(), qPrintable(m_desktop->calls.join(QLatin1Char('|'))));
        QVERIFY(!window.cropZoom().Arrastando);
    }

    void moveWithoutPressDoesNothing()
    {
        FrmImageCapture& window = windowWithFrame();
        qc::CropZoom& crop = window.cropZoom();
        crop.ImagXpress1_MouseDown(1, 0, 15 * 10, 15 * 10);
        crop.ImagXpress1_MouseMove(1, 0, 15 * 50, 15 * 60);
        crop.ImagXpress1_MouseUp(1, 0, 15 * 50, 15 * 60);
        const QRect band = window.controls().ImagXpress1->selectionRect();
        QCOMPARE(band, QRect(10, 10, 40, 50));
        crop.ImagXpress1_MouseMove(0, 0, 15 * 300, 15 * 300);
        QCOMPARE(window.controls().ImagXpress1->selectionRect(), band);
    }

    void twipsRoundHalfToEven_data()
    {
        QTest::addColumn<double>("twipsPerPixel");
        QTest::addColumn<float>("x");
        QTest::addColumn<float>("y");
        QTest::addColumn<QPoint>("anchor");
        QTest::newRow("96 dpi, 22.5 and 23.5") << 15.0 << 337.5F << 352.5F << QPoint(22, 24);
        QTest::newRow("96 dpi, whole pixels") << 15.0 << 150.0F << 300.0F << QPoint(10, 20);
        QTest::newRow("120 dpi, 22.5 and 23.5") << 12.0 << 270.0F << 282.0F << QPoint(22, 24);
        QTest::newRow("144 dpi, just under half") << 10.0 << 224.9F << 235.1F << QPoint(22, 24);
    }

    void twipsRoundHalfToEven()
    {
        QFETCH(double, twipsPerPixel);
        QFETCH(float, x);
        QFETCH(float, y);
        QFETCH(QPoint, anchor);
        FrmImageCapture& window = windowWithFrame();
        qc::CropZoom crop({window.controls().ImagXpress1, window.controls().ImagXpress2,
                           window.controls().cmbZoom},
                          *m_desktop, [=] { return QPointF(twipsPerPixel, twipsPerPixel); });
        crop.ImagXpress1_MouseDown(1, 0, x, y);
        crop.ImagXpress1_MouseMove(1, 0, float(twipsPerPixel * 300), float(twipsPerPixel * 300));
        QCOMPARE(window.controls().ImagXpress1->selectionRect().topLeft(), anchor);
    }

    void zoomChoices_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<double>("factor"); // 0 = fitted
        QTest::newRow("200%") << 0 << double(2.0F);
        QTest::newRow("125%") << 2 << double(1.25F);
        QTest::newRow("100%") << 3 << double(1.0F);
        QTest::newRow("75%") << 4 << double(0.75F);
        QTest::newRow("10% in single precision") << 7 << double(0.1F);
        QTest::newRow("Fit") << 8 << 0.0;
        QTest::newRow("nothing chosen") << -1 << 0.0;
    }

    void zoomChoices()
    {
        QFETCH(int, index);
        QFETCH(double, factor);
        FrmImageCapture& window = windowWithFrame();
        window.controls().cmbZoom->setCurrentIndex(index);
        window.cmbZoom_Click();
        ImageControl* frame = window.controls().ImagXpress1;
        if (factor == 0.0) {
            QVERIFY(frame->isFitToWindow());
            // 640 x 480 into the 400 x 500 control: width-bound, aspect kept.
            QVERIFY(qAbs(frame->zoomFactor() - 400.0 / 640.0) < 0.01);
        } else {
            QVERIFY(!frame->isFitToWindow());
            QCOMPARE(frame->zoomFactor(), factor);
        }
        // Only the frame is zoomed.
        QCOMPARE(window.controls().ImagXpress2->zoomFactor(), 1.0);
    }

    void zoomedDragMapsToImagePixels()
    {
        FrmImageCapture& window = windowWithFrame();
        window.controls().cmbZoom->setCurrentIndex(0); // 200%
        window.cmbZoom_Click();
        drag(Qt::LeftButton, QPoint(40, 20), QPoint(240, 220));
        QTRY_VERIFY(window.controls().ImagXpress2->hasImage());
        QCOMPARE(rgb32(window.controls().ImagXpress2->picture()), m_frame.copy(20, 10, 100, 100));
    }

    void exportWritesThePhotoAsJpeg()
    {
        FrmImageCapture& window = windowWithFrame();
        QTemporaryDir dir;
        drag(Qt::LeftButton, QPoint(20, 30), QPoint(220, 280));
        QTRY_COMPARE(window.controls().ImagXpress2->picture().size(), QSize(200, 250));

        // A name typed without an extension is kept as typed, with JPEG content.
        const QString path = dir.filePath(QStringLiteral("aluno 123"));
        m_desktop->nextSaveName = path;
        QTest::mouseClick(window.controls().cmdSalvar, Qt::LeftButton);
        QCOMPARE(m_desktop->saveFilters, QStringList{QStringLiteral("JPEG |*.jpeg")});
        {
            // Closed again before the file is replaced: Windows refuses to replace a file
            // that a reader holds open.
            QImageReader reader(path);
            QCOMPARE(reader.format(), QByteArray("jpeg"));
            QCOMPARE(reader.size(), QSize(200, 250));
        }
        QVERIFY(m_desktop->boxes.isEmpty());
        QVERIFY(!QFile::exists(path + QStringLiteral(".jpeg")));

        // A second export replaces the file without a question, at the new photo's size.
        doubleClick(QPoint(200, 200));
        QTRY_COMPARE(window.controls().ImagXpress2->picture().size(), m_frame.size());
        QTest::mouseClick(window.controls().cmdSalvar, Qt::LeftButton);
        QCOMPARE(QImageReader(path).size(), m_frame.size());
        QCOMPARE(m_desktop->saveFilters.size(), 2);
        // The zoom of the frame plays no part.
        window.controls().cmbZoom->setCurrentIndex(7);
        window.cmbZoom_Click();
        QTest::mouseClick(window.controls().cmdSalvar, Qt::LeftButton);
        QCOMPARE(QImageReader(path).size(), m_frame.size());
    }

    void exportFailuresAreReported_data()
    {
        QTest::addColumn<bool>("withPhoto");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("dialog cancelled") << true << QString();
        QTest::newRow("folder not writable") << true << QStringLiteral("/proc/quvelocap/x.jpeg");
        QTest::newRow("no photo") << false << QStringLiteral("photo.jpeg");
    }

    void exportFailuresAreReported()
    {
        QFETCH(bool, withPhoto);
        QFETCH(QString, fileName);
        FrmImageCapture& window = windowWithFrame();
        QTemporaryDir dir;
        if (withPhoto)
            window.controls().ImagXpress2->setPicture(makeFrame(30, 20));
        const QString path = fileName.startsWith(QLatin1Char('/')) || fileName.isEmpty()
                                 ? fileName
                                 : dir.filePath(fileName);
        m_desktop->nextSaveName = path;
        window.cmdSalvar_Click();
        QCOMPARE(m_desktop->boxes.size(), 1);
        QVERIFY2(m_desktop->boxes.first().text.startsWith(QStringLiteral("Erro: ")),
                 qPrintable(m_desktop->boxes.first().text));
        QVERIFY(m_desktop->boxes.first().text.size() > 6);
        if (!path.isEmpty())
            QVERIFY(!QFile::exists(path));
        QCOMPARE(window.controls().ImagXpress2->hasImage(), withPhoto);
    }
};

QTEST_MAIN(TestCropZoom)
#include "tst_CropZoom.moc"
