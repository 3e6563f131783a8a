// The image control's picture, zoom, selection band and save, driven through its own
// operations on a shown widget (offscreen).

#include "imaging/ImageControl.h"
#include "core/Error.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

using qc::ImageControl;

namespace {

// Every pixel differs from every other, so a region cut from a wrong place shows.
QImage patternImage(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x % 256, y % 256, (x / 256) * 16 + y / 256));
    return image;
}

QString descriptionOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const qc::Error& error) {
        return error.description();
    }
    return QStringLiteral("<no error>");
}

QColor pixelOnScreen(ImageControl& control, QPoint at)
{
    return control.grab().toImage().pixelColor(at);
}

} // namespace

class ImageControlTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ImageControl> m_control;
    const QImage m_pattern = patternImage(800, 600);

    ImageControl& control() { return *m_control; }

private slots:
    void init()
    {
        m_control = std::make_unique<ImageControl>();
        m_control->setBackgroundColor(Qt::blue);
        m_control->resize(400, 300);
        m_control->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_control.get()));
    }

    void cleanup() { m_control.reset(); }

    void zoomShowsScrollBarsOnlyWhenNeeded_data()
    {
        QTest::addColumn<float>("zoom");
        QTest::addColumn<bool>("scrolls");
        QTest::newRow("100%") << 1.0f << true;
        QTest::newRow("200%") << 2.0f << true;
        QTest::newRow("75%") << 0.75f << true;
        QTest::newRow("50%, exactly the control") << 0.5f << false;
        QTest::newRow("25%") << 0.25f << false;
    }

    void zoomShowsScrollBarsOnlyWhenNeeded()
    {
        QFETCH(float, zoom);
        QFETCH(bool, scrolls);
        control().setPicture(m_pattern);
        control().zoomTo(zoom);
        // Scroll bars are shown and hidden from the event loop.
        QCoreApplication::processEvents();
        QTRY_COMPARE(control().horizontalScrollBar()->isVisible(), scrolls);
        QTRY_COMPARE(control().verticalScrollBar()->isVisible(), scrolls);

        // Scrolled to the end, the last image pixel sits at the viewport's far corner.
        control().horizontalScrollBar()->setValue(control().horizontalScrollBar()->maximum());
        control().verticalScrollBar()->setValue(control().verticalScrollBar()->maximum());
        const QSize view = control().viewport()->size();
        const QPointF farCorner = control().controlToImage(QPoint(view.width(), view.height()));
        if (scrolls) {
            QCOMPARE(farCorner, QPointF(800, 600));
        } else {
            QCOMPARE(view, QSize(400, 300));
            QVERIFY(farCorner.x() >= 800 && farCorner.y() >= 600);
        }
    }

    void imageIsDrawnAtItsPixelsAt100Percent()
    {
        control().setPicture(m_pattern);
        control().zoomTo(1.0f);
        control().horizontalScrollBar()->setValue(30);
        control().verticalScrollBar()->setValue(40);
        QCOMPARE(pixelOnScreen(control(), QPoint(0, 0)), m_pattern.pixelColor(30, 40));
        QCOMPARE(pixelOnScreen(control(), QPoint(100, 50)), m_pattern.pixelColor(130, 90));
    }

    void fitToWindowKeepsAspect_data()
    {
        QTest::addColumn<QSize>("imageSize");
        QTest::addColumn<double>("zoom");
        QTest::addColumn<QSize>("shown");
        QTest::newRow("wide") << QSize(1000, 250) << 0.4 << QSize(400, 100);
        QTest::newRow("tall") << QSize(300, 1200) << 0.25 << QSize(75, 300);
        QTest::newRow("small, enlarged") << QSize(100, 50) << 4.0 << QSize(400, 200);
    }

    void fitToWindowKeepsAspect()
    {
        QFETCH(QSize, imageSize);
        QFETCH(double, zoom);
        QFETCH(QSize, shown);
        QImage red(imageSize, QImage::Format_RGB32);
        red.fill(Qt::red);
        control().setPicture(red);
        control().fitToWindow(ImageControl::FitBestFit);

        QVERIFY(qFuzzyCompare(control().zoomFactor(), zoom));
        QVERIFY(!control().horizontalScrollBar()->isVisible());
        QVERIFY(!control().verticalScrollBar()->isVisible());
        const QImage screen = control().grab().toImage();
        QCOMPARE(screen.pixelColor(shown.width() - 1, shown.height() - 1), QColor(Qt::red));
        if (shown.width() < 400)
            QCOMPARE(screen.pixelColor(shown.width(), 0), QColor(Qt::blue));
        if (shown.height() < 300)
            QCOMPARE(screen.pixelColor(0, shown.height()), QColor(Qt::blue));
    }

    void fitFollowsResizeAndNewImagesUntilZoomed()
    {
        control().setPicture(QImage(1000, 250, QImage::Format_RGB32));
        control().fitToWindow(ImageControl::FitBestFit);
        control().resize(200, 300);
        QVERIFY(qFuzzyCompare(control().zoomFactor(), 0.2));
        control().setPicture(QImage(100, 600, QImage::Format_RGB32));
        QVERIFY(qFuzzyCompare(control().zoomFactor(), 0.5));

        control().zoomTo(1.0f);
        control().resize(400, 300);
        QCOMPARE(control().zoomFactor(), 1.0);
        QVERIFY(!control().isFitToWindow());
    }

    void unknownZoomOrFitIsRefused_data()
    {
        QTest::addColumn<std::function<void(ImageControl&)>>("call");
        QTest::addColumn<QString>("description");
        QTest::newRow("zero") << std::function<void(ImageControl&)>([](ImageControl& c) {
            c.zoomTo(0.0f);
        }) << QStringLiteral("Fator de zoom inválido: 0.");
        QTest::newRow("negative") << std::function<void(ImageControl&)>([](ImageControl& c) {
            c.zoomTo(-2.0f);
        }) << QStringLiteral("Fator de zoom inválido: -2.");
        QTest::newRow("fit mode 1")
            << std::function<void(ImageControl&)>([](ImageControl& c) { c.fitToWindow(1); })
            << QStringLiteral("Modo de ajuste à janela não suportado: 1.");
    }

    void unknownZoomOrFitIsRefused()
    {
        QFETCH(std::function<void(ImageControl&)>, call);
        QFETCH(QString, description);
        control().setPicture(m_pattern);
        control().zoomTo(2.0f);
        QCOMPARE(descriptionOf([&] { call(control()); }), description);
        QCOMPARE(control().zoomFactor(), 2.0);
    }

    void bandMapsToImagePixels_data()
    {
        QTest::addColumn<float>("zoom");
        QTest::addColumn<QPoint>("scroll");
        QTest::addColumn<QPoint>("anchor");
        QTest::addColumn<QPoint>("corner");
        QTest::addColumn<QRect>("region");
        const QPoint none(0, 0);
        QTest::newRow("100%") << 1.0f << none << QPoint(10, 20) << QPoint(110, 70)
                              << QRect(10, 20, 100, 50);
        QTest::newRow("200%") << 2.0f << none << QPoint(10, 20) << QPoint(110, 70)
                              << QRect(5, 10, 50, 25);
        QTest::newRow("50%") << 0.5f << none << QPoint(10, 20) << QPoint(110, 70)
                             << QRect(20, 40, 200, 100);
        QTest::newRow("10%") << 0.1f << none << QPoint(10, 20) << QPoint(30, 25)
                             << QRect(100, 200, 200, 50);
        QTest::newRow("100% scrolled") << 1.0f << QPoint(30, 40) << QPoint(10, 20)
                                       << QPoint(110, 70) << QRect(40, 60, 100, 50);
        QTest::newRow("200% scrolled") << 2.0f << QPoint(100, 50) << QPoint(10, 20)
                                       << QPoint(110, 70) << QRect(55, 35, 50, 25);
        QTest::newRow("lower right to upper left")
            << 1.0f << none << QPoint(110, 70) << QPoint(10, 20) << QRect(10, 20, 100, 50);
        QTest::newRow("upper right to lower left, 200% scrolled")
            << 2.0f << QPoint(100, 50) << QPoint(110, 20) << QPoint(10, 70)
            << QRect(55, 35, 50, 25);
    }

    void bandMapsToImagePixels()
    {
        QFETCH(float, zoom);
        QFETCH(QPoint, scroll);
        QFETCH(QPoint, anchor);
        QFETCH(QPoint, corner);
        QFETCH(QRect, region);
        control().setPicture(m_pattern);
        control().zoomTo(zoom);
        control().horizontalScrollBar()->setValue(scroll.x());
        control().verticalScrollBar()->setValue(scroll.y());
        control().selectionBand(true, anchor.x(), anchor.y());
        control().selectionBandTo(corner.x(), corner.y());

        QCOMPARE(control().selectionRect(), region);
        const QImage cut = control().selectionImage();
        QCOMPARE(cut, m_pattern.copy(region));
        // The cut is the caller's own: the control's frame stays whole and unchanged.
        QCOMPARE(control().picture(), m_pattern);
    }

    void bandStaysOnTheImageWhenScrolled()
    {
        control().setPicture(m_pattern);
        control().selectionBand(true, 10, 20);
        control().selectionBandTo(110, 70);
        control().horizontalScrollBar()->setValue(200);
        QCOMPARE(control().selectionRect(), QRect(10, 20, 100, 50));
    }

    void bandIsClippedToTheImage_data()
    {
        QTest::addColumn<float>("zoom");
        QTest::addColumn<QPoint>("anchor");
        QTest::addColumn<QPoint>("corner");
        QTest::addColumn<QRect>("region");
        QTest::newRow("beyond right and bottom")
            << 0.25f << QPoint(150, 100) << QPoint(300, 250) << QRect(600, 400, 200, 200);
        QTest::newRow("before left and top")
            << 1.0f << QPoint(-20, -10) << QPoint(40, 20) << QRect(0, 0, 40, 20);
    }

    void bandIsClippedToTheImage()
    {
        QFETCH(float, zoom);
        QFETCH(QPoint, anchor);
        QFETCH(QPoint, corner);
        QFETCH(QRect, region);
        control().setPicture(m_pattern);
        control().zoomTo(zoom);
        control().selectionBand(true, anchor.x(), anchor.y());
        control().selectionBandTo(corner.x(), corner.y());
        QCOMPARE(control().selectionImage(), m_pattern.copy(region));
    }

    void selectionIsRefusedWithADescription_data()
    {
        QTest::addColumn<bool>("withImage");
        QTest::addColumn<float>("zoom");
        QTest::addColumn<QList<QPoint>>("band"); // anchor, then corners; empty: none
        QTest::addColumn<bool>("removeBand");
        QTest::addColumn<QString>("description");
        const QString empty = QStringLiteral("A seleção está vazia.");
        const QString outside = QStringLiteral("A seleção está fora da imagem.");
        const QString noBand = QStringLiteral("Nenhuma seleção foi marcada na imagem.");
        QTest::newRow("no image") << false << 1.0f << QList<QPoint>{{10, 10}, {50, 50}} << false
                                  << QStringLiteral("Não há imagem para recortar.");
        QTest::newRow("no band") << true << 1.0f << QList<QPoint>{} << false << noBand;
        QTest::newRow("band removed")
            << true << 1.0f << QList<QPoint>{{10, 10}, {50, 50}} << true << noBand;
        QTest::newRow("click") << true << 1.0f << QList<QPoint>{{10, 10}} << false << empty;
        QTest::newRow("dragged back to the anchor")
            << true << 1.0f << QList<QPoint>{{10, 10}, {80, 90}, {10, 10}} << false << empty;
        QTest::newRow("no height")
            << true << 1.0f << QList<QPoint>{{10, 10}, {60, 10}} << false << empty;
        QTest::newRow("no width") << true << 2.0f << QList<QPoint>{{10, 10}, {10, 60}} << false
                                  << empty;
        QTest::newRow("beyond the image")
            << true << 0.25f << QList<QPoint>{{250, 200}, {350, 280}} << false << outside;
        QTest::newRow("from the right edge on")
            << true << 0.25f << QList<QPoint>{{200, 10}, {260, 60}} << false << outside;
    }

    void selectionIsRefusedWithADescription()
    {
        QFETCH(bool, withImage);
        QFETCH(float, zoom);
        QFETCH(QList<QPoint>, band);
        QFETCH(bool, removeBand);
        QFETCH(QString, description);
        if (withImage)
            control().setPicture(m_pattern);
        control().zoomTo(zoom);
        for (qsizetype i = 0; i < band.size(); ++i) {
            if (i == 0)
                control().selectionBand(true, band[i].x(), band[i].y());
            else
                control().selectionBandTo(band[i].x(), band[i].y());
        }
        if (removeBand)
            control().selectionBand(false);
        QCOMPARE(descriptionOf([&] { control().selectionImage(); }), description);
    }

    void emptyPictureClearsTheControl()
    {
        control().setPicture(m_pattern);
        control().zoomTo(2.0f);
        control().selectionBand(true, 10, 10);
        control().selectionBandTo(90, 90);

        control().setPicture(QImage());

        QVERIFY(!control().hasImage());
        QVERIFY(control().picture().isNull());
        QVERIFY(!control().hasSelectionBand());
        QVERIFY(!control().horizontalScrollBar()->isVisible());
        QImage background(control().size(), QImage::Format_RGB32);
        background.fill(Qt::blue);
        QCOMPARE(control().grab().toImage().convertToFormat(QImage::Format_RGB32), background);
        QCOMPARE(descriptionOf([&] { control().selectionImage(); }),
                 QStringLiteral("Não há imagem para recortar."));
    }

    void imageHandleIsShownAndSaved_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<bool>("existing");
        QTest::newRow("with extension") << QStringLiteral("foto.jpeg") << false;
        QTest::newRow("bare name") << QStringLiteral("foto") << false;
        QTest::newRow("replacing a file") << QStringLiteral("foto.jpeg") << true;
    }

    void imageHandleIsShownAndSaved()
    {
        QFETCH(QString, fileName);
        QFETCH(bool, existing);
        QTemporaryDir folder;
        const QString path = folder.filePath(fileName);
        if (existing) {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write(QByteArray(100000, 'x'));
        }
        QImage photo(320, 240, QImage::Format_RGB32);
        for (int y = 0; y < photo.height(); ++y)
            for (int x = 0; x < photo.width(); ++x)
                photo.setPixel(x, y, qRgb(x * 255 / 320, y * 255 / 240, 128));
        control().setImageHandle(photo);
        QCOMPARE(pixelOnScreen(control(), QPoint(100, 60)), photo.pixelColor(100, 60));

        control().setSaveName(path);
        control().setSaveFormat(ImageControl::SaveFormatJpeg);
        control().saveImage();

        QImageReader reader(path);
        QCOMPARE(reader.format(), QByteArray("jpeg"));
        const QImage decoded = reader.read().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(decoded.size(), photo.size());
        const QColor middle = decoded.pixelColor(160, 120);
        QVERIFY2(qAbs(middle.red() - 127) <= 6 && qAbs(middle.green() - 127) <= 6 &&
                     qAbs(middle.blue() - 128) <= 6,
                 qPrintable(middle.name()));
    }

    void jpegQualityIs90UnlessSet()
    {
        QTemporaryDir folder;
        const QImage photo = patternImage(300, 200);
        control().setPicture(photo);
        auto saved = [&](const QString& name) {
            control().setSaveName(folder.filePath(name));
            control().saveImage();
            QFile file(folder.filePath(name));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        QByteArray atNinety;
        QBuffer buffer(&atNinety);
        QVERIFY(buffer.open(QIODevice::WriteOnly));
        QImageWriter writer(&buffer, "jpeg");
        writer.setQuality(90);
        QVERIFY(writer.write(photo));

        QCOMPARE(saved("default.jpg"), atNinety);
        control().setJpegQuality(20);
        QVERIFY(saved("low.jpg").size() < atNinety.size());
    }

    void saveIsRefusedWithADescription_data()
    {
        QTest::addColumn<bool>("withImage");
        QTest::addColumn<QString>("path"); // %1: a folder that exists
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("description"); // the whole text, or its start before "…"
        const QString cannot = QStringLiteral("Não foi possível gravar o arquivo \"%1\": …");
        QTest::newRow("no image") << false << QStringLiteral("%1/a.jpeg") << 8
                                  << QStringLiteral("Não há imagem para gravar.");
        QTest::newRow("empty path (dialog cancelled)")
            << true << QString() << 8
            << QStringLiteral("Nenhum nome de arquivo foi dado para gravar a imagem.");
        QTest::newRow("unsupported format")
            << true << QStringLiteral("%1/a.bmp") << 3
            << QStringLiteral("Formato de arquivo não suportado: 3.");
        QTest::newRow("a folder") << true << QStringLiteral("%1") << 8 << cannot;
        QTest::newRow("no such folder") << true << QStringLiteral("/proc/x/y.jpg") << 8 << cannot;
    }

    void saveIsRefusedWithADescription()
    {
        QFETCH(bool, withImage);
        QFETCH(QString, path);
        QFETCH(int, format);
        QFETCH(QString, description);
        QTemporaryDir folder;
        if (path.contains(QLatin1String("%1")))
            path = path.arg(folder.path());
        if (withImage)
            control().setPicture(m_pattern);
        control().setSaveName(path);
        control().setSaveFormat(format);

        const QString got = descriptionOf([&] { control().saveImage(); });
        if (description.endsWith(QStringLiteral("…"))) {
            const QString start = description.chopped(1).arg(path);
            QVERIFY2(got.startsWith(start) && got.size() > start.size(), qPrintable(got));
        } else {
            QCOMPARE(got, description);
        }
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList());
    }
};

QTEST_MAIN(ImageControlTest)
#include "ImageControlTest.moc"
