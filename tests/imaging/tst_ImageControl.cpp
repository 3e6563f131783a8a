// The image control on a shown widget (offscreen): zoom, fit, selection band and cut,
// save, and what it reports of real mouse events on its viewport.

#include "core/Error.h"
#include "imaging/ImageControl.h"

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

using qc::ImageControl;
using Points = QList<QPoint>;

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

// One line per reported event, so that a whole sequence compares at once.
struct Recorder
{
    explicit Recorder(ImageControl& control)
    {
        auto line = [this](QString name) {
            return [this, name](int button, int shift, float x, float y) {
                events << QStringLiteral("%1 %2 %3 %4 %5")
                              .arg(name)
                              .arg(button)
                              .arg(shift)
                              .arg(x)
                              .arg(y);
            };
        };
        QObject::connect(&control, &ImageControl::MouseDown, line("Down"));
        QObject::connect(&control, &ImageControl::MouseMove, line("Move"));
        QObject::connect(&control, &ImageControl::MouseUp, line("Up"));
        QObject::connect(&control, &ImageControl::DblClick, [this] { events << "DblClick"; });
    }
    QStringList events;
};

} // namespace

class ImageControlTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ImageControl> m_control;
    const QImage m_pattern = patternImage(800, 600);

    ImageControl& control() { return *m_control; }
    QWidget* viewport() { return m_control->viewport(); }
    int holdTimeout() { return control().clickHoldInterval() * 5 + 1000; }

    void drawBand(const Points& points) // anchor, then the free corner's moves
    {
        for (qsizetype i = 0; i < points.size(); ++i)
            i == 0 ? control().selectionBand(true, points[i].x(), points[i].y())
                   : control().selectionBandTo(points[i].x(), points[i].y());
    }
    void press(QPoint at, Qt::MouseButton button = Qt::LeftButton, Qt::KeyboardModifiers keys = {})
    {
        QTest::mousePress(viewport(), button, keys, at);
    }
    void release(QPoint at, Qt::MouseButton button = Qt::LeftButton,
                 Qt::KeyboardModifiers keys = {})
    {
        QTest::mouseRelease(viewport(), button, keys, at);
    }
    void move(QPoint at, Qt::KeyboardModifiers keys = {})
    {
        QTest::mouseEvent(QTest::MouseMove, viewport(), Qt::NoButton, keys, at);
    }

private slots:
    void init()
    {
        m_control = std::make_unique<ImageControl>();
        m_control->setBackgroundColor(Qt::blue);
        m_control->resize(400, 300);
        m_control->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_control.get()));
        // Positions reported below are pixels × 15: twips at 96 dots per inch.
        QCOMPARE(m_control->screen()->logicalDotsPerInchX(), 96.0);
    }
    void cleanup() { m_control.reset(); }

    void zoomScrollsOnlyWhenNeeded_data()
    {
        QTest::addColumn<float>("zoom");
        QTest::addColumn<bool>("scrolls");
        QTest::newRow("100%") << 1.0f << true;
        QTest::newRow("200%") << 2.0f << true;
        QTest::newRow("75%") << 0.75f << true;
        QTest::newRow("50%, exactly the control") << 0.5f << false;
        QTest::newRow("25%") << 0.25f << false;
    }
    void zoomScrollsOnlyWhenNeeded()
    {
        QFETCH(float, zoom);
        QFETCH(bool, scrolls);
        control().setPicture(m_pattern);
        control().zoomTo(zoom);
        QCoreApplication::processEvents(); // scroll bars are shown from the event loop
        QTRY_COMPARE(control().horizontalScrollBar()->isVisible(), scrolls);
        QTRY_COMPARE(control().verticalScrollBar()->isVisible(), scrolls);

        // Scrolled to the end, the image's far corner is at the viewport's far corner.
        control().horizontalScrollBar()->setValue(control().horizontalScrollBar()->maximum());
        control().verticalScrollBar()->setValue(control().verticalScrollBar()->maximum());
        const QSize view = control().viewport()->size();
        const QPointF far = control().controlToImage(QPoint(view.width(), view.height()));
        QCOMPARE(far == QPointF(800, 600), scrolls || zoom == 0.5f);
        if (zoom == 1.0f)
            QCOMPARE(control().grab().toImage().pixelColor(view.width() - 1, view.height() - 1),
                     m_pattern.pixelColor(799, 599));
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
        QVERIFY(control().horizontalScrollBar()->maximum() == 0 &&
                control().verticalScrollBar()->maximum() == 0);
        const QImage screen = control().grab().toImage();
        QCOMPARE(screen.pixelColor(shown.width() - 1, shown.height() - 1), QColor(Qt::red));
        const QPoint beyond =
            shown.width() < 400 ? QPoint(shown.width(), 0) : QPoint(0, shown.height());
        QCOMPARE(screen.pixelColor(beyond), QColor(Qt::blue));
    }

    void fitHoldsUntilZoomed()
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
    }

    void selectionCutsTheRegionUnderTheBand_data()
    {
        QTest::addColumn<float>("zoom");
        QTest::addColumn<QPoint>("scroll");
        QTest::addColumn<Points>("band");
        QTest::addColumn<QRect>("region");
        const QPoint top(0, 0);
        const Points band{{10, 20}, {60, 40}, {110, 70}};
        QTest::newRow("100%") << 1.0f << top << band << QRect(10, 20, 100, 50);
        QTest::newRow("200%") << 2.0f << top << band << QRect(5, 10, 50, 25);
        QTest::newRow("50%") << 0.5f << top << band << QRect(20, 40, 200, 100);
        QTest::newRow("10%") << 0.1f << top << Points{{10, 20}, {30, 25}}
                             << QRect(100, 200, 200, 50);
        QTest::newRow("100% scrolled") << 1.0f << QPoint(30, 40) << band << QRect(40, 60, 100, 50);
        QTest::newRow("200% scrolled") << 2.0f << QPoint(100, 50) << band << QRect(55, 35, 50, 25);
        QTest::newRow("lower right to upper left")
            << 1.0f << top << Points{{110, 70}, {10, 20}} << QRect(10, 20, 100, 50);
        QTest::newRow("upper right to lower left, 200% scrolled")
            << 2.0f << QPoint(100, 50) << Points{{110, 20}, {10, 70}} << QRect(55, 35, 50, 25);
        QTest::newRow("clipped right and bottom")
            << 0.25f << top << Points{{150, 100}, {300, 250}} << QRect(600, 400, 200, 200);
        QTest::newRow("clipped left and top")
            << 1.0f << top << Points{{-20, -10}, {40, 20}} << QRect(0, 0, 40, 20);
    }
    void selectionCutsTheRegionUnderTheBand()
    {
        QFETCH(float, zoom);
        QFETCH(QPoint, scroll);
        QFETCH(Points, band);
        QFETCH(QRect, region);
        control().setPicture(m_pattern);
        control().zoomTo(zoom);
        control().horizontalScrollBar()->setValue(scroll.x());
        control().verticalScrollBar()->setValue(scroll.y());
        drawBand(band);
        QCOMPARE(control().selectionImage(), m_pattern.copy(region));
        QCOMPARE(control().picture(), m_pattern); // the frame itself stays whole
    }

    void selectionIsRefusedWithADescription_data()
    {
        QTest::addColumn<bool>("withImage");
        QTest::addColumn<float>("zoom");
        QTest::addColumn<Points>("band");
        QTest::addColumn<bool>("removeBand");
        QTest::addColumn<QString>("description");
        const QString empty = "A seleção está vazia.", outside = "A seleção está fora da imagem.",
                      none = "Nenhuma seleção foi marcada na imagem.";
        QTest::newRow("no image") << false << 1.0f << Points{{10, 10}, {50, 50}} << false
                                  << "Não há imagem para recortar.";
        QTest::newRow("no band") << true << 1.0f << Points{} << false << none;
        QTest::newRow("band removed") << true << 1.0f << Points{{10, 10}, {50, 50}} << true << none;
        QTest::newRow("click") << true << 1.0f << Points{{10, 10}} << false << empty;
        QTest::newRow("no height") << true << 1.0f << Points{{10, 10}, {60, 10}} << false << empty;
        QTest::newRow("no width at 200%")
            << true << 2.0f << Points{{9, 9}, {9, 60}} << false << empty;
        QTest::newRow("beyond the image")
            << true << 0.25f << Points{{250, 200}, {350, 280}} << false << outside;
        QTest::newRow("from the right edge on")
            << true << 0.25f << Points{{200, 10}, {260, 60}} << false << outside;
    }
    void selectionIsRefusedWithADescription()
    {
        QFETCH(bool, withImage);
        QFETCH(float, zoom);
        QFETCH(Points, band);
        QFETCH(bool, removeBand);
        QFETCH(QString, description);
        if (withImage)
            control().setPicture(m_pattern);
        control().zoomTo(zoom);
        drawBand(band);
        if (removeBand)
            control().selectionBand(false);
        QCOMPARE(descriptionOf([&] { control().selectionImage(); }), description);
    }

    void emptyPictureClears()
    {
        control().setPicture(m_pattern);
        control().zoomTo(2.0f);
        drawBand({{10, 10}, {90, 90}});
        control().setPicture(QImage());
        QVERIFY(!control().hasImage() && control().picture().isNull());
        QVERIFY(!control().hasSelectionBand());
        QImage background(control().size(), QImage::Format_RGB32);
        background.fill(Qt::blue);
        QTRY_COMPARE(control().grab().toImage().convertToFormat(QImage::Format_RGB32), background);
    }

    void saveWritesJpeg_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<bool>("existing");
        QTest::newRow("bare name") << "foto" << false;
        QTest::newRow("replacing a file") << "foto.jpeg" << true;
    }
    void saveWritesJpeg()
    {
        QFETCH(QString, fileName);
        QFETCH(bool, existing);
        QTemporaryDir folder;
        const QString path = folder.filePath(fileName);
        QFile old(path);
        if (existing)
            QVERIFY(old.open(QIODevice::WriteOnly) && old.write(QByteArray(100000, 'x')) &&
                    old.flush());
        old.close(); // Windows cannot replace a file another handle holds open
        QImage photo(320, 240, QImage::Format_RGB32);
        photo.fill(QColor(200, 120, 40));
        control().setImageHandle(photo);
        QCOMPARE(control().grab().toImage().pixelColor(100, 60), photo.pixelColor(100, 60));
        control().setSaveName(path);
        control().setSaveFormat(ImageControl::SaveFormatJpeg);
        control().saveImage();

        QImageReader reader(path);
        QCOMPARE(reader.format(), QByteArray("jpeg"));
        const QImage decoded = reader.read();
        QCOMPARE(decoded.size(), photo.size());
        const QColor middle = decoded.pixelColor(160, 120);
        QVERIFY2(qAbs(middle.red() - 200) + qAbs(middle.green() - 120) + qAbs(middle.blue() - 40) <
                     12,
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
        QTest::addColumn<QString>("path"); // %1: an existing folder
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("description"); // "…" at the end: the library's reason follows
        const QString cannot = "Não foi possível gravar o arquivo \"%1\": …";
        QTest::newRow("no image") << false << "%1/a.jpeg" << 8 << "Não há imagem para gravar.";
        QTest::newRow("empty path (dialog cancelled)")
            << true << "" << 8 << "Nenhum nome de arquivo foi dado para gravar a imagem.";
        QTest::newRow("unsupported format")
            << true << "%1/a.bmp" << 3 << "Formato de arquivo não suportado: 3.";
        QTest::newRow("a folder") << true << "%1" << 8 << cannot;
        QTest::newRow("no such folder") << true << "/proc/x/y.jpg" << 8 << cannot;
    }
    void saveIsRefusedWithADescription()
    {
        QFETCH(bool, withImage);
        QFETCH(QString, path);
        QFETCH(int, format);
        QFETCH(QString, description);
        QTemporaryDir folder;
        path.replace("%1", folder.path());
        if (withImage)
            control().setPicture(m_pattern);
        control().setSaveName(path);
        control().setSaveFormat(format);
        const QString got = descriptionOf([&] { control().saveImage(); });
        if (description.endsWith("…")) {
            // The operator sees the path as the system writes it (backslashes on Windows).
            const QString start =
                description.chopped(1).replace("%1", QDir::toNativeSeparators(path));
            QVERIFY2(got.startsWith(start) && got.size() > start.size(), qPrintable(got));
        } else {
            QCOMPARE(got, description);
        }
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList());
    }

    void dragIsReportedInOrder_data()
    {
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<Qt::KeyboardModifiers>("keys");
        QTest::addColumn<QString>("codes"); // button and shift as reported
        QTest::newRow("left") << Qt::LeftButton << Qt::KeyboardModifiers() << "1 0";
        QTest::newRow("right") << Qt::RightButton << Qt::KeyboardModifiers() << "2 0";
        QTest::newRow("middle, Alt")
            << Qt::MiddleButton << Qt::KeyboardModifiers(Qt::AltModifier) << "4 4";
        QTest::newRow("left, Shift+Ctrl")
            << Qt::LeftButton << Qt::KeyboardModifiers(Qt::ShiftModifier | Qt::ControlModifier)
            << "1 3";
    }
    void dragIsReportedInOrder()
    {
        QFETCH(Qt::MouseButton, button);
        QFETCH(Qt::KeyboardModifiers, keys);
        QFETCH(QString, codes);
        Recorder recorder(control());
        press(QPoint(10, 20), button, keys);
        QCOMPARE(recorder.events, QStringList()); // not yet known to be a drag
        move(QPoint(30, 40), keys);
        move(QPoint(50, 60), keys);
        release(QPoint(50, 60), button, keys);
        const QStringList expected{"Down %1 150 300", "Move %1 450 600", "Move %1 750 900",
                                   "Up %1 750 900"};
        QCOMPARE(recorder.events.join('|'), expected.join('|').arg(codes));
    }

    void moveWithoutButtonIsReported()
    {
        Recorder recorder(control());
        QMouseEvent hover(QEvent::MouseMove, QPointF(40, 50),
                          viewport()->mapToGlobal(QPointF(40, 50)), Qt::NoButton, Qt::NoButton,
                          Qt::ShiftModifier);
        QApplication::sendEvent(viewport(), &hover);
        QCOMPARE(recorder.events, QStringList{"Move 0 1 600 750"});
    }

    void clickIsReportedAfterTheHoldInterval_data()
    {
        QTest::addColumn<Points>("moves");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("still") << Points{} << QStringList{"Down 1 0 600 750", "Up 1 0 600 750"};
        QTest::newRow("hand shaking a little")
            << Points{{42, 51}, {39, 52}} << QStringList{"Down 1 0 600 750", "Up 1 0 585 780"};
    }
    void clickIsReportedAfterTheHoldInterval()
    {
        QFETCH(Points, moves);
        QFETCH(QStringList, expected);
        QVERIFY(control().dragThreshold() > 3);
        Recorder recorder(control());
        press(QPoint(40, 50));
        for (const QPoint& at : moves)
            move(at);
        release(moves.isEmpty() ? QPoint(40, 50) : moves.last());
        QCoreApplication::processEvents();
        QCOMPARE(recorder.events, QStringList());
        QTRY_COMPARE_WITH_TIMEOUT(recorder.events, expected, holdTimeout());
    }

    void doubleClickIsReportedAlone_data()
    {
        QTest::addColumn<Points>("firstClickMoves");
        QTest::addColumn<Points>("secondClickMoves");
        QTest::newRow("still") << Points{} << Points{};
        QTest::newRow("hand shaking, second click dragged")
            << Points{{43, 50}} << Points{{44, 52}, {90, 90}};
    }
    void doubleClickIsReportedAlone()
    {
        QFETCH(Points, firstClickMoves);
        QFETCH(Points, secondClickMoves);
        Recorder recorder(control());
        press(QPoint(40, 50));
        for (const QPoint& at : firstClickMoves)
            move(at);
        release(QPoint(41, 50));
        QTest::mouseDClick(viewport(), Qt::LeftButton, {}, QPoint(41, 51)); // the second press
        for (const QPoint& at : secondClickMoves)
            move(at);
        release(QPoint(41, 51));
        QCOMPARE(recorder.events, QStringList{"DblClick"});

        // A later click is reported after its own hold; had the first click still been
        // held, its report would have come before this one.
        QTest::mouseClick(viewport(), Qt::LeftButton, {}, QPoint(200, 150));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.events.size(), 3, holdTimeout());
        QCOMPARE(recorder.events,
                 (QStringList{"DblClick", "Down 1 0 3000 2250", "Up 1 0 3000 2250"}));
    }

    // Through the platform's own double-click detection, which gives the widget press,
    // release, double-click, release.
    void platformDoubleClickIsReportedAlone()
    {
        QTest::mouseMove(control().windowHandle(), QPoint(41, 51)); // the pointer arrives first
        Recorder recorder(control());
        QTest::mouseDClick(control().windowHandle(), Qt::LeftButton, {}, QPoint(41, 51));
        QCOMPARE(recorder.events, QStringList{"DblClick"});
        QVERIFY(!control().isHoldingClick());
    }

    void hidingForgetsAHeldClick()
    {
        Recorder recorder(control());
        QTest::mouseClick(viewport(), Qt::LeftButton, {}, QPoint(40, 50));
        QVERIFY(control().isHoldingClick());
        control().hide();
        QVERIFY(!control().isHoldingClick()); // so nothing can be reported later
        QCOMPARE(recorder.events, QStringList());
    }

    void furtherButtonIsReportedAtOnce_data()
    {
        QTest::addColumn<QPoint>("secondPressAt");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("during a drag")
            << QPoint(40, 10)
            << QStringList{"Down 1 0 150 150", "Move 1 0 600 150", "Down 2 0 600 150",
                           "Up 2 0 600 150", "Up 1 0 600 150"};
        QTest::newRow("before the press moved")
            << QPoint(10, 10)
            << QStringList{"Down 1 0 150 150", "Down 2 0 150 150", "Up 2 0 150 150",
                           "Up 1 0 150 150"};
    }
    void furtherButtonIsReportedAtOnce()
    {
        QFETCH(QPoint, secondPressAt);
        QFETCH(QStringList, expected);
        Recorder recorder(control());
        press(QPoint(10, 10));
        if (secondPressAt != QPoint(10, 10))
            move(secondPressAt);
        press(secondPressAt, Qt::RightButton);
        release(secondPressAt, Qt::RightButton);
        release(secondPressAt);
        QCOMPARE(recorder.events, expected);
        QVERIFY(!control().isHoldingClick());
    }
};

QTEST_MAIN(ImageControlTest)
#include "tst_ImageControl.moc"
